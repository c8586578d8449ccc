#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks it is laid out as a desktop program.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
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
echo "1 passed, 0 failed"
