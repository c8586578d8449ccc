#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks it is laid out as a desktop program that
# runs on its own, away from the build tree.
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$(dirname "$0")/../..")
prefix=$(mktemp -d)
pid=
cleanup() {
  # The web engine's processes end with the program.
  if [ -n "$pid" ]; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$prefix"
}
trap cleanup EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
id=example.quorrix.Quorrix
fail() { echo "FAIL: $*"; exit 1; }
[ -x "$prefix/bin/quorrix" ] || fail "no program in bin/"
desktop="$prefix/share/applications/$id.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
grep -q '^Exec=quorrix %F$' "$desktop" || fail "the desktop entry does not pass files with %F"
for type in text/markdown application/json text/csv text/tab-separated-values text/vnd.mermaid; do
  grep -q "^MimeType=.*$type;" "$desktop" || fail "the desktop entry lacks $type"
done
# text/plain would offer the program every source file, which no tool opens.
grep -q '^MimeType=.*text/plain;' "$desktop" && fail "the desktop entry claims text/plain"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
for size in 16 24 32 48 64 128 256 512; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -s "$png" ] || fail "no ${size}px icon"
done
[ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
grep -q 'pattern="\*.mmd"' "$prefix/share/mime/packages/$id.xml" || fail "no Mermaid file type"

# Nothing installed names the build or source tree, so nothing is found there once it is gone.
module=$(find "$prefix" -name quorrix-web-tools.so)
[ -n "$module" ] || fail "no web views' library"
checks=$(find "$prefix" -name quorrix-jwt-checks.so)
[ "$(dirname "$checks")" = "$(dirname "$module")" ] || fail "no JWT signature checks' library beside the web views'"
# Qt's string literals are UTF-16: both encodings are looked at.
for file in "$prefix/bin/quorrix" "$module" "$checks"; do
  for tree in "$build" "$source"; do
    if { strings -a "$file"; strings -a -el "$file"; } | grep -F "$tree" >/dev/null; then fail "$file names $tree"; fi
  done
done
# The installed program shows its first tool (a web view) with the library from its own prefix.
run="$prefix/run"
mkdir -m 700 "$run"
XDG_RUNTIME_DIR="$run" HOME="$run" XDG_CONFIG_HOME="$run/config" XDG_DATA_HOME="$run/data" XDG_CACHE_HOME="$run/cache" \
  QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox" \
  "$prefix/bin/quorrix" >"$run/log" 2>&1 </dev/null &
pid=$!
deadline=$((SECONDS + 90))
until grep -qF "$module" "/proc/$pid/maps" 2>/dev/null; do
  kill -0 "$pid" 2>/dev/null || fail "the installed program ended: $(cat "$run/log")"
  [ "$SECONDS" -lt "$deadline" ] || fail "the installed program did not load $module: $(cat "$run/log")"
  sleep 0.2
done
grep -qF "$build" "/proc/$pid/maps" && fail "the installed program loaded from $build"
grep -q "did not load" "$run/log" && fail "$(cat "$run/log")"
echo "1 passed, 0 failed"
