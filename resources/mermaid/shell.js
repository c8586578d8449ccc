// The diagram page: draws Mermaid sources with the bundled library, one render at a time, keeps
// the last good diagram on show when a source fails, zooms and fits it, and hands it back as SVG
// text or as a PNG drawn here from that SVG.
(function () {
  "use strict";

  // Marks on the page's own timeline, read by the benchmark: the library has run, the engine is
  // set up, the first render started and ended.
  function mark(name) {
    if (window.performance && typeof performance.mark === "function") performance.mark(name);
  }
  mark("page-script");

  var MIN_SCALE = 0.1;
  var MAX_SCALE = 8;
  // The largest canvas drawn for a PNG: this engine's side limit, and an area (about 480 MB of
  // pixels) past which memory, not the engine, would give out.
  var MAX_CANVAS_SIDE = 32767;
  var MAX_CANVAS_AREA = 120000000;

  var viewport = document.getElementById("viewport");
  var stage = document.getElementById("stage");

  var booted = false;
  var theme = "default";
  var scale = 1;
  var natural = null; // { width, height } of the diagram on show, from its view box
  var background = "#ffffff";
  var autoFitRequested = false;
  var renderCount = 0;
  var latestTicket = 0;
  var chain = Promise.resolve();

  function post(value) {
    var handlers = window.messageHandlers;
    if (handlers && handlers.viewState) handlers.viewState.postMessage(value);
  }

  // The longest source the library draws; past it the library draws a box saying so, which is
  // reported as the failure it is.
  var MAX_TEXT_SIZE = 200000;
  var MAX_EDGES = 4000;
  var TEXT_LIMIT_BOX = "Maximum text size in diagram exceeded";

  // Settings that a source's init directive or front matter may never change, whatever their
  // value: mermaid drops these keys wherever they appear in a directive. The library locks the
  // first six itself, before the page sees them.
  var lockedKeys = ["secure", "securityLevel", "startOnLoad", "maxTextSize", "suppressErrorRendering", "maxEdges",
    "htmlLabels", "dompurifyConfig", "deterministicIds", "deterministicIDSeed", "themeCSS", "arrowMarkerAbsolute"];
  var libraryLockedKeys = lockedKeys.slice(0, 6);

  // The library's own style keys, at any depth (a sequence diagram's actorFontFamily, say):
  // their values end up in the diagram's CSS, which can name outside files.
  function findStyleKeys() {
    var found = Object.create(null);
    var seen = [];
    (function walk(value) {
      if (!value || typeof value !== "object" || seen.indexOf(value) >= 0) return;
      seen.push(value);
      Object.keys(value).forEach(function (key) {
        if (/css|font|style|url|href|image|icon/i.test(key) && lockedKeys.indexOf(key) < 0) found[key] = true;
        walk(value[key]);
      });
    })(mermaid.mermaidAPI.defaultConfig);
    return Object.keys(found);
  }

  var styleKeys = null;
  function styleKeyList() {
    if (!styleKeys) styleKeys = findStyleKeys();
    return styleKeys;
  }

  // A value that can be told to be plain: a number, a Boolean, a colour, a size or a list of
  // font names. Nothing that could open a function, a block, an escape or markup; an empty text
  // is what the library leaves of a theme variable it refused.
  var PLAIN_TEXT = /^[\p{L}\p{N}\s#%"',.+_-]+$/u;
  var COLOUR_FUNCTION = /^(?:rgba?|hsla?)\(\s*[\d\s.%,+\/-]*\)$/i;
  function isPlain(value) {
    if (typeof value === "number") return isFinite(value);
    if (typeof value === "boolean") return true;
    if (typeof value !== "string") return false;
    var text = value.trim();
    return text !== "" && (PLAIN_TEXT.test(text) || COLOUR_FUNCTION.test(text));
  }

  // The parts of a source that can hold settings: its front matter and its %%{ }%% directives.
  function settingsText(code) {
    var parts = [];
    var front = /^\s*---[ \t]*\r?\n([\s\S]*?)\r?\n[ \t]*---/.exec(code);
    if (front) parts.push(front[1]);
    // The library also reads a directive that is never closed.
    var directive = /%%\{([\s\S]*?)(?:\}%%|$)/g;
    var match;
    while ((match = directive.exec(code)) !== null) parts.push(match[1]);
    return parts.length > 0 ? parts.join("\n") : null;
  }

  // Of the settings a source asks for, the keys the page ignores (in the order found) and the
  // keys it must lock for this render: every locked key, and every style key whose value is
  // not plain. Keys are locked by name, wherever they appear.
  function judgeSettings(config, text) {
    var ignored = [];
    var refused = [];
    function note(list, key) {
      if (list.indexOf(key) < 0) list.push(key);
    }
    libraryLockedKeys.forEach(function (key) {
      if (new RegExp("[\"']?\\b" + key + "\\b[\"']?\\s*:").test(text)) note(ignored, key);
    });
    var styles = styleKeyList();
    var seen = [];
    (function visit(object, styled) {
      if (seen.indexOf(object) >= 0) return;
      seen.push(object);
      Object.keys(object).forEach(function (key) {
        var value = object[key];
        if (lockedKeys.indexOf(key) >= 0) {
          note(ignored, key);
          return;
        }
        var style = styled || key === "themeVariables" || styles.indexOf(key) >= 0;
        if (value && typeof value === "object" && !Array.isArray(value)) {
          visit(value, style);
          return;
        }
        if (!style) return;
        if (Array.isArray(value) ? value.every(isPlain) : isPlain(value)) return;
        note(ignored, key);
        note(refused, key);
      });
    })(config && typeof config === "object" ? config : {}, false);
    return { ignored: ignored, secure: lockedKeys.concat(refused) };
  }

  var configuredSecure = null;

  function configure(secure) {
    configuredSecure = secure.join(",");
    mermaid.initialize({
      startOnLoad: false,
      securityLevel: "strict",
      theme: theme,
      // Labels as SVG text: the SVG stands alone and a canvas drawing it is never tainted.
      htmlLabels: false,
      flowchart: { htmlLabels: false },
      suppressErrorRendering: true,
      maxTextSize: MAX_TEXT_SIZE,
      maxEdges: MAX_EDGES,
      deterministicIds: false,
      secure: secure
    });
    var variables = mermaid.mermaidAPI.getConfig().themeVariables || {};
    background = typeof variables.background === "string" && variables.background ? variables.background : "#ffffff";
    if (theme === "dark" && (background === "white" || background === "#ffffff")) background = "#333333";
    document.documentElement.style.setProperty("--diagram-background", background);
  }

  function configureFor(secure) {
    if (configuredSecure !== secure.join(",")) configure(secure);
  }

  // Every style key locked: for a source without settings, and for one whose settings cannot
  // be read.
  function fullLock() {
    return lockedKeys.concat(styleKeyList());
  }

  // The settings the library reads from `code` under the lock `secure`, or null when it cannot
  // take them (a theme variable that is no colour, say) or cannot read the source at all.
  async function readSettings(code, secure) {
    var parsed = null;
    try {
      configureFor(secure);
      parsed = await mermaid.parse(code, { suppressErrors: true });
    } catch (error) {
      parsed = null;
    }
    // What the library kept of the source's settings is not left for the next configuration.
    mermaid.mermaidAPI.reset();
    return parsed && typeof parsed === "object" && parsed.config && typeof parsed.config === "object" ? parsed.config : null;
  }

  // Sets the page up for drawing `code`: a source with settings is read first with only the
  // library's own lock, so that the page sees what it asks for and judges it; when the library
  // cannot take its theme variables, without them.
  async function prepare(code) {
    var text = settingsText(code);
    mermaid.mermaidAPI.reset();
    if (text === null) {
      configureFor(fullLock());
      return [];
    }
    var withoutThemeVariables = false;
    var config = await readSettings(code, []);
    if (config === null) {
      withoutThemeVariables = true;
      config = await readSettings(code, ["themeVariables"]);
    }
    if (config === null) {
      configureFor(fullLock());
      return [];
    }
    var judged = judgeSettings(config, text);
    if (withoutThemeVariables) {
      judged.ignored.push("themeVariables");
      judged.secure.push("themeVariables");
    }
    configureFor(judged.secure);
    return judged.ignored;
  }

  function boot(name) {
    if (typeof mermaid === "undefined") return false;
    var next = typeof name === "string" && name ? name : "default";
    // Booted already (for the first source, below) with this theme: nothing to set up again.
    if (booted && next === theme) return true;
    theme = next;
    configure(fullLock());
    if (!booted) mark("engine-ready");
    booted = true;
    return true;
  }

  // The program hands the page its theme and first source with the page itself, so that the
  // first diagram is drawn as soon as the library is in, without waiting for the page's load to
  // be reported and for the program's calls. The program's first render of the same source, with
  // nothing asked in between, takes this render's answer.
  var early = null;
  function startEarly() {
    var start = window.__quorrixStart;
    if (!start || typeof start !== "object" || !boot(start.theme)) return;
    if (typeof start.source !== "string") return;
    var run = renderDiagram(start.source);
    early = { code: start.source, theme: theme, ticket: latestTicket, run: run };
  }

  function takeEarly(code) {
    var taken = early;
    early = null;
    if (!taken || taken.code !== code || taken.theme !== theme || taken.ticket !== latestTicket) return null;
    return taken.run.then(function (answer) {
      // A fit asked for while it ran.
      if (answer && answer.ok && autoFitRequested) {
        autoFitRequested = false;
        fitToView();
      }
      return answer;
    });
  }

  function setTheme(name) {
    if (typeof name !== "string" || !name) return;
    theme = name;
    if (booted) configure(fullLock());
  }

  function utf8Length(text) {
    var bytes = 0;
    for (var i = 0; i < text.length; i++) {
      var c = text.charCodeAt(i);
      if (c < 0x80) bytes += 1;
      else if (c < 0x800) bytes += 2;
      else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.length) {
        var d = text.charCodeAt(i + 1);
        if (d >= 0xDC00 && d <= 0xDFFF) { bytes += 4; i++; } else bytes += 3;
      } else bytes += 3;
    }
    return bytes;
  }

  function messageOf(error) {
    if (error && typeof error.message === "string" && error.message) return error.message;
    if (typeof error === "string" && error) return error;
    return "The diagram could not be drawn.";
  }

  // The line an error names, counted from 1, when it names one: a line of the text the library
  // parsed, which sourceLines() maps back to the source.
  function lineOf(error) {
    if (!error) return null;
    var hash = error.hash;
    if (hash) {
      if (hash.loc && typeof hash.loc.first_line === "number") return hash.loc.first_line;
      if (typeof hash.line === "number") return hash.line + 1;
    }
    var message = typeof error.message === "string" ? error.message : "";
    var match = /\bline:?\s*(\d+)/i.exec(message);
    if (match) return parseInt(match[1], 10);
    return null;
  }

  // The length of the front matter the library takes off the start of a source: a "---" line
  // (after blanks it also allows before the closing fence), up to the first line holding only the
  // same blanks and "---", and the blank lines after that.
  function frontMatterLength(text) {
    var indent = /^[^\S\n]*/.exec(text)[0];
    if (text.substr(indent.length, 3) !== "---") return 0;
    var opening = /^\s*/.exec(text.slice(indent.length + 3))[0];
    if (opening.indexOf("\n") < 0) return 0;
    var fence = "\n" + indent + "---";
    for (var at = text.indexOf(fence, indent.length + 3); at >= 0; at = text.indexOf(fence, at + 1)) {
      var after = /^\s*/.exec(text.slice(at + fence.length))[0];
      var lastBreak = after.lastIndexOf("\n");
      if (lastBreak >= 0) return at + fence.length + lastBreak + 1;
    }
    return 0;
  }

  // Removes what `pattern` matches from a text whose characters know where in the source they
  // came from.
  function removeMatches(kept, pattern) {
    var text = "", from = [], at = 0, match;
    function keep(end) {
      text += kept.text.slice(at, end);
      for (var i = at; i < end; i++) from.push(kept.from[i]);
    }
    pattern.lastIndex = 0;
    while ((match = pattern.exec(kept.text)) !== null) {
      if (match[0].length === 0) { pattern.lastIndex += 1; continue; }
      keep(match.index);
      at = match.index + match[0].length;
    }
    keep(kept.text.length);
    return { text: text, from: from };
  }

  var DIRECTIVE = /%{2}{\s*(?:(\w+)\s*:|(\w+))\s*(?:(\w+)|((?:(?!}%{2}).|\r?\n)*))?\s*(?:}%{2})?/gi;
  var COMMENT_LINE = /^\s*%%(?!{)[^\n]+\n?/gm;
  var LEADING_SPACE = /^\s+/g;

  // The library numbers the lines of the source less its front matter, directives, comment
  // lines and leading blank lines: maps its line number back to the source's.
  function sourceLine(code, parsed) {
    var text = code.replace(/\r\n?/g, "\n");
    var start = frontMatterLength(text);
    var kept = { text: text.slice(start), from: [] };
    for (var i = start; i < text.length; i++) kept.from.push(i);
    kept = removeMatches(removeMatches(removeMatches(kept, DIRECTIVE), COMMENT_LINE), LEADING_SPACE);
    var at = 0;
    for (var line = 1; line < parsed; line++) {
      var next = kept.text.indexOf("\n", at);
      if (next < 0) break;
      at = next + 1;
    }
    var origin = at < kept.from.length ? kept.from[at] : (kept.from.length ? kept.from[kept.from.length - 1] + 1 : text.length);
    var number = 1;
    for (var j = text.indexOf("\n"); j >= 0 && j < origin; j = text.indexOf("\n", j + 1)) number += 1;
    return number;
  }

  // A failure of the library's in the program's words, with the lines it names those of the
  // source.
  function failureAnswer(code, error) {
    var message = messageOf(error);
    if (/^Edge limit exceeded\b/.test(message))
      return { ok: false, message: "The diagram has too many links to draw: at most "
        + MAX_EDGES.toLocaleString("en-US") + " can be drawn." };
    if ((error && error.name === "EncodingError") || /source image cannot be decoded/i.test(message))
      return { ok: false, message: "An image in the diagram cannot be shown: the preview shows only images"
        + " written into the source as data: addresses, never files or web addresses." };
    var answer = { ok: false, message: message };
    var parsed = lineOf(error);
    if (parsed === null || !isFinite(parsed) || parsed < 1) return answer;
    answer.line = sourceLine(code, parsed);
    // The parser's own count in its message can run past the line it failed on.
    if (error && error.hash && /^Parse error on line \d+/.test(message))
      answer.message = message.replace(/^Parse error on line \d+/, "Parse error on line " + answer.line);
    else
      answer.message = message.replace(/\bline (\d+)/g, function (all, n) { return "line " + sourceLine(code, parseInt(n, 10)); });
    return answer;
  }

  function naturalSize(svg) {
    var box = svg.viewBox && svg.viewBox.baseVal;
    if (box && box.width > 0 && box.height > 0) return { width: box.width, height: box.height };
    var rect = svg.getBBox();
    return { width: Math.max(1, rect.width), height: Math.max(1, rect.height) };
  }

  function applyScale() {
    var svg = stage.firstElementChild;
    if (!svg || !natural) return;
    svg.style.width = (natural.width * scale) + "px";
    svg.style.height = (natural.height * scale) + "px";
  }

  function setScale(value, keepCentre) {
    if (!isFinite(value)) return;
    var next = Math.min(MAX_SCALE, Math.max(MIN_SCALE, value));
    var cx = 0, cy = 0;
    if (keepCentre) {
      cx = (viewport.scrollLeft + viewport.clientWidth / 2) / scale;
      cy = (viewport.scrollTop + viewport.clientHeight / 2) / scale;
    }
    var changed = next !== scale;
    scale = next;
    applyScale();
    if (keepCentre) {
      viewport.scrollLeft = cx * scale - viewport.clientWidth / 2;
      viewport.scrollTop = cy * scale - viewport.clientHeight / 2;
    }
    if (changed) post(scale);
  }

  function zoomBy(factor) {
    var f = Number(factor);
    if (!(f > 0) || !isFinite(f)) return;
    setScale(scale * f, true);
  }

  function fitToView() {
    if (!natural) return;
    var padding = 48;
    var w = Math.max(1, viewport.clientWidth - padding);
    var h = Math.max(1, viewport.clientHeight - padding);
    setScale(Math.min(w / natural.width, h / natural.height), false);
    viewport.scrollLeft = 0;
    viewport.scrollTop = 0;
  }

  function resetZoom() {
    setScale(1, true);
  }

  function requestAutoFit() {
    autoFitRequested = true;
  }

  function removeLeftovers(id) {
    ["d" + id, id, "i" + id].forEach(function (name) {
      var element = document.getElementById(name);
      if (element && !stage.contains(element)) element.remove();
    });
  }

  // CSS that could fetch something: url() and image-set() naming anything but a part of this
  // drawing (also one left open at the end, which CSS closes), and @import.
  var OUTSIDE_URL = /url\(\s*(?!['"]?\s*#)(?:"[^"]*"?|'[^']*'?|[^)]*)\s*\)?/gi;
  var IMAGE_SET = /(?:-webkit-)?image-set\s*\(/gi;
  var IMPORT = /@import\b[^;{}]*;?/gi;
  var FETCHING = /url\(|image-set|@import/i;

  // CSS text with its escapes read as CSS reads them: "\75 rl(" is "url(".
  function cssUnescaped(text) {
    return text.replace(/\\(?:([0-9a-fA-F]{1,6})(?:\r\n|[ \t\r\n\f])?|(\r\n|[\r\n\f])|([\s\S])|$)/g,
      function (all, hex, newline, other) {
        if (hex) {
          var code = parseInt(hex, 16);
          if (code === 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) code = 0xFFFD;
          return String.fromCodePoint(code);
        }
        if (newline) return "";
        if (other !== undefined) return other;
        return "\uFFFD";
      });
  }

  function withinCSS(text) {
    return text.replace(IMPORT, "").replace(OUTSIDE_URL, "none").replace(IMAGE_SET, "none-set(");
  }

  // CSS judged as CSS reads it. Text whose escapes spell out a fetch is kept unescaped, less
  // what fetches and less any backslash, so that nothing it holds is an escape any more.
  function keptCSS(text) {
    if (text.indexOf("\\") < 0) return FETCHING.test(text) ? withinCSS(text) : text;
    var plain = cssUnescaped(text);
    if (!FETCHING.test(plain) || withinCSS(plain) === plain) return text;
    return withinCSS(plain).replace(/\\/g, "");
  }

  function isOutside(reference) {
    return !/^\s*#/.test(reference);
  }

  // The drawing refers to nothing outside itself, on show or exported: styles and attributes
  // lose their outside URLs, and only a link keeps a web address (which opens on a click and
  // is never fetched).
  function keepWithin(svg) {
    svg.querySelectorAll("style").forEach(function (style) {
      var text = style.textContent;
      var kept = keptCSS(text);
      if (kept !== text) style.textContent = kept;
    });
    [svg].concat(Array.prototype.slice.call(svg.querySelectorAll("*"))).forEach(function (element) {
      var isLink = element.localName === "a";
      Array.prototype.slice.call(element.attributes).forEach(function (attribute) {
        var name = attribute.localName;
        var value = attribute.value;
        if (name === "href" || name === "src") {
          var web = /^\s*https?:/i.test(value);
          if (isOutside(value) && !(isLink && web)) element.removeAttributeNode(attribute);
          return;
        }
        var kept = keptCSS(value);
        if (kept !== value) attribute.value = kept;
      });
    });
  }

  function show(svgText) {
    stage.innerHTML = svgText;
    var svg = stage.firstElementChild;
    if (!svg || svg.tagName.toLowerCase() !== "svg") {
      stage.innerHTML = "";
      natural = null;
      return false;
    }
    // The markup on show never runs anything, whatever a label held.
    svg.querySelectorAll("script, foreignObject script, iframe, object, embed").forEach(function (e) { e.remove(); });
    keepWithin(svg);
    svg.removeAttribute("width");
    svg.removeAttribute("height");
    svg.style.maxWidth = "none";
    natural = naturalSize(svg);
    applyScale();
    return true;
  }

  // What the library drew in place of the diagram, as a sentence, when it drew an error.
  function errorDrawn(code, result) {
    if (!result) return null;
    if (result.diagramType === "error") return "The source names no diagram that can be drawn.";
    if (code.length > MAX_TEXT_SIZE && typeof result.svg === "string"
        && result.svg.replace(/<[^>]*>/g, " ").replace(/\s+/g, " ").indexOf(TEXT_LIMIT_BOX) >= 0)
      return "The source is too long to draw: it holds " + code.length.toLocaleString("en-US")
        + " characters, and at most " + MAX_TEXT_SIZE.toLocaleString("en-US") + " can be drawn.";
    return null;
  }

  async function renderNow(code) {
    renderCount += 1;
    var id = "quorrix-diagram-" + renderCount;
    if (renderCount === 1) mark("first-render-start");
    try {
      if (typeof code !== "string") throw new Error("The source is not text.");
      var ignored = await prepare(code);
      var result = await mermaid.render(id, code);
      if (renderCount === 1) mark("first-render-end");
      removeLeftovers(id);
      var drawnError = errorDrawn(code, result);
      if (drawnError) return { ok: false, message: drawnError };
      if (!result || typeof result.svg !== "string" || !show(result.svg))
        return { ok: false, message: "The diagram could not be drawn." };
      // Click callbacks (result.bindFunctions) are never bound.
      if (autoFitRequested) {
        autoFitRequested = false;
        fitToView();
      }
      var answer = { ok: true, svgBytes: utf8Length(result.svg) };
      if (ignored.length > 0) answer.ignored = ignored;
      return answer;
    } catch (error) {
      removeLeftovers(id);
      return failureAnswer(code, error);
    }
  }

  // Renders run one after another; one that a newer call has overtaken before it started is
  // answered without drawing, since its result would be stale.
  function renderDiagram(code) {
    var taken = takeEarly(code);
    if (taken) return taken;
    latestTicket += 1;
    var ticket = latestTicket;
    var run = chain.then(function () {
      if (ticket !== latestTicket) return { ok: false, superseded: true, message: "A newer source replaced this one." };
      if (!booted) return { ok: false, message: "The diagram engine is not ready." };
      return renderNow(code);
    });
    chain = run.catch(function () {});
    return run;
  }

  // The diagram on show as a standalone SVG document, `factor` times its natural size (the view
  // box stays), background filled. Copied from the drawing on show, which is already parsed.
  function exportableSVG(factor) {
    var s = factor || 1;
    var shown = stage.firstElementChild;
    if (!shown || !natural || shown.tagName.toLowerCase() !== "svg") return null;
    var svg = shown.cloneNode(true);
    svg.setAttribute("xmlns", "http://www.w3.org/2000/svg");
    svg.setAttribute("xmlns:xlink", "http://www.w3.org/1999/xlink");
    svg.setAttribute("width", String(natural.width * s));
    svg.setAttribute("height", String(natural.height * s));
    // The zoom of the view is no part of the document.
    svg.style.removeProperty("width");
    svg.style.removeProperty("height");
    svg.style.removeProperty("max-width");
    var box = svg.viewBox && svg.viewBox.baseVal;
    var fill = document.createElementNS("http://www.w3.org/2000/svg", "rect");
    fill.setAttribute("x", box && box.width > 0 ? String(box.x) : "0");
    fill.setAttribute("y", box && box.height > 0 ? String(box.y) : "0");
    fill.setAttribute("width", String(natural.width));
    fill.setAttribute("height", String(natural.height));
    fill.setAttribute("fill", background);
    svg.insertBefore(fill, svg.firstChild);
    return new XMLSerializer().serializeToString(svg);
  }

  function getSVG() {
    var text = exportableSVG();
    if (text === null) throw new Error("There is no diagram to export.");
    return text;
  }

  function loadImage(url) {
    return new Promise(function (resolve, reject) {
      var image = new Image();
      image.onload = function () { resolve(image); };
      image.onerror = function () { reject(new Error("The diagram could not be drawn as an image.")); };
      image.src = url;
    });
  }

  function tooLarge(width, height) {
    return new Error("The diagram is too large for a PNG image (" + width + " × " + height
      + " pixels); export it as SVG instead.");
  }

  function dataURL(blob) {
    return new Promise(function (resolve, reject) {
      var reader = new FileReader();
      reader.onload = function () { resolve(reader.result); };
      reader.onerror = function () { reject(new Error("The PNG image could not be read.")); };
      reader.readAsDataURL(blob);
    });
  }

  // The engine's encoder reads the canvas where it lies: taking the pixels out to encode them in
  // script costs more than the whole encoding.
  async function getPNG(factor) {
    var s = Number(factor);
    if (!(s > 0) || !isFinite(s)) s = 2;
    var text = exportableSVG(s);
    if (text === null) throw new Error("There is no diagram to export.");
    var width = Math.ceil(natural.width * s);
    var height = Math.ceil(natural.height * s);
    if (width > MAX_CANVAS_SIDE || height > MAX_CANVAS_SIDE || width * height > MAX_CANVAS_AREA)
      throw tooLarge(width, height);
    var image = await loadImage("data:image/svg+xml;charset=utf-8," + encodeURIComponent(text));
    var canvas = document.createElement("canvas");
    canvas.width = width;
    canvas.height = height;
    var context = canvas.getContext("2d");
    if (!context) throw tooLarge(width, height);
    context.fillStyle = background;
    context.fillRect(0, 0, width, height);
    context.drawImage(image, 0, 0, width, height);
    // No blob when the engine could not make the canvas.
    var blob = await new Promise(function (resolve) { canvas.toBlob(resolve, "image/png"); });
    // The pixels go now rather than when the page next collects its garbage.
    canvas.width = 0;
    canvas.height = 0;
    if (!blob || blob.size === 0) throw tooLarge(width, height);
    var url = await dataURL(blob);
    if (typeof url !== "string" || url.indexOf("data:image/png;base64,") !== 0 || url.length <= 22)
      throw tooLarge(width, height);
    return url;
  }

  // Ctrl and the wheel zoom as the buttons do.
  viewport.addEventListener("wheel", function (event) {
    if (!event.ctrlKey) return;
    event.preventDefault();
    zoomBy(event.deltaY < 0 ? 1.1 : 1 / 1.1);
  }, { passive: false });

  // The script interface: served to the program's calls once, and fixed on the window, so that
  // no later script replaces what the program's statements reach.
  var served = {
    boot: boot, setTheme: setTheme, renderDiagram: renderDiagram, getSVG: getSVG, getPNG: getPNG,
    zoomBy: zoomBy, fitToView: fitToView, resetZoom: resetZoom, requestAutoFit: requestAutoFit
  };
  Object.keys(served).forEach(function (name) {
    Object.defineProperty(window, name, { value: served[name], writable: false, configurable: false, enumerable: true });
  });
  if (typeof window.__quorrixServe === "function") window.__quorrixServe(served);

  // The library's module runs after this script; it tells when it is in.
  if (typeof mermaid !== "undefined") startEarly();
  else window.addEventListener("quorrix-engine-loaded", startEarly, { once: true });
})();
