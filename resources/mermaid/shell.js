// The diagram page: draws Mermaid sources with the bundled library, one render at a time, keeps
// the last good diagram on show when a source fails, zooms and fits it, and hands it back as SVG
// text or as a PNG drawn here from that SVG.
(function () {
  "use strict";

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
  var shownSVG = null; // the markup of the diagram on show
  var background = "#ffffff";
  var autoFitRequested = false;
  var renderCount = 0;
  var latestTicket = 0;
  var chain = Promise.resolve();

  function post(value) {
    var handlers = window.messageHandlers;
    if (handlers && handlers.viewState) handlers.viewState.postMessage(value);
  }

  // Settings that a source's init directive or front matter may not change: mermaid drops
  // these keys wherever they appear in a directive.
  var lockedKeys = ["secure", "securityLevel", "startOnLoad", "maxTextSize", "maxEdges",
    "suppressErrorRendering", "htmlLabels", "dompurifyConfig", "deterministicIds", "deterministicIDSeed"];

  function configure() {
    mermaid.initialize({
      startOnLoad: false,
      securityLevel: "strict",
      theme: theme,
      // Labels as SVG text: the SVG stands alone and a canvas drawing it is never tainted.
      htmlLabels: false,
      flowchart: { htmlLabels: false },
      suppressErrorRendering: true,
      maxTextSize: 200000,
      maxEdges: 4000,
      deterministicIds: false,
      secure: lockedKeys
    });
    var variables = mermaid.mermaidAPI.getConfig().themeVariables || {};
    background = typeof variables.background === "string" && variables.background ? variables.background : "#ffffff";
    if (theme === "dark" && (background === "white" || background === "#ffffff")) background = "#333333";
    document.documentElement.style.setProperty("--diagram-background", background);
  }

  function boot(name) {
    if (typeof mermaid === "undefined") return false;
    theme = typeof name === "string" && name ? name : "default";
    configure();
    booted = true;
    return true;
  }

  function setTheme(name) {
    if (typeof name !== "string" || !name) return;
    theme = name;
    if (booted) configure();
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

  // The source line an error names, counted from 1, when it names one.
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

  function show(svgText) {
    stage.innerHTML = svgText;
    var svg = stage.firstElementChild;
    if (!svg || svg.tagName.toLowerCase() !== "svg") {
      stage.innerHTML = "";
      natural = null;
      shownSVG = null;
      return false;
    }
    // The markup on show never runs anything, whatever a label held.
    svg.querySelectorAll("script, foreignObject script, iframe, object, embed").forEach(function (e) { e.remove(); });
    svg.removeAttribute("width");
    svg.removeAttribute("height");
    svg.style.maxWidth = "none";
    natural = naturalSize(svg);
    shownSVG = svgText;
    applyScale();
    return true;
  }

  async function renderNow(code) {
    renderCount += 1;
    var id = "quorrix-diagram-" + renderCount;
    try {
      if (typeof code !== "string") throw new Error("The source is not text.");
      var result = await mermaid.render(id, code);
      removeLeftovers(id);
      if (!result || typeof result.svg !== "string" || !show(result.svg))
        return { ok: false, message: "The diagram could not be drawn." };
      // Click callbacks (result.bindFunctions) are never bound.
      if (autoFitRequested) {
        autoFitRequested = false;
        fitToView();
      }
      return { ok: true, svgBytes: utf8Length(result.svg) };
    } catch (error) {
      removeLeftovers(id);
      var answer = { ok: false, message: messageOf(error) };
      var line = lineOf(error);
      if (line !== null && isFinite(line)) answer.line = line;
      return answer;
    }
  }

  // Renders run one after another; one that a newer call has overtaken before it started is
  // answered without drawing, since its result would be stale.
  function renderDiagram(code) {
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
  // box stays), background filled.
  function exportableSVG(factor) {
    var s = factor || 1;
    if (!shownSVG || !natural) return null;
    var doc = new DOMParser().parseFromString(shownSVG, "image/svg+xml");
    var svg = doc.documentElement;
    if (!svg || svg.tagName.toLowerCase() !== "svg" || doc.getElementsByTagName("parsererror").length > 0) return null;
    svg.setAttribute("xmlns", "http://www.w3.org/2000/svg");
    svg.setAttribute("xmlns:xlink", "http://www.w3.org/1999/xlink");
    svg.setAttribute("width", String(natural.width * s));
    svg.setAttribute("height", String(natural.height * s));
    svg.style.removeProperty("max-width");
    var box = svg.viewBox && svg.viewBox.baseVal;
    var fill = doc.createElementNS("http://www.w3.org/2000/svg", "rect");
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

  async function getPNG(factor) {
    var s = Number(factor);
    if (!(s > 0) || !isFinite(s)) s = 2;
    var text = exportableSVG(s);
    if (text === null) throw new Error("There is no diagram to export.");
    var width = Math.ceil(natural.width * s);
    var height = Math.ceil(natural.height * s);
    if (width > MAX_CANVAS_SIDE || height > MAX_CANVAS_SIDE || width * height > MAX_CANVAS_AREA)
      throw new Error("The diagram is too large for a PNG image (" + width + " × " + height
        + " pixels); export it as SVG instead.");
    var image = await loadImage("data:image/svg+xml;charset=utf-8," + encodeURIComponent(text));
    var canvas = document.createElement("canvas");
    canvas.width = width;
    canvas.height = height;
    var context = canvas.getContext("2d", { willReadFrequently: true });
    if (!context) throw new Error("The diagram is too large for a PNG image; export it as SVG instead.");
    context.fillStyle = background;
    context.fillRect(0, 0, width, height);
    context.drawImage(image, 0, 0, width, height);
    var url = typeof CompressionStream === "function"
      ? "data:image/png;base64," + base64(await encodePNG(context.getImageData(0, 0, width, height)))
      : canvas.toDataURL("image/png");
    if (url.indexOf("data:image/png;base64,") !== 0 || url.length <= 22)
      throw new Error("The diagram is too large for a PNG image; export it as SVG instead.");
    return url;
  }

  // PNG of the canvas pixels. The engine's own encoder tries every row filter at a high
  // compression level, which takes seconds for a large diagram; flat drawings compress as well
  // unfiltered, and the engine's deflate stream does the rest.
  var crcTable = null;
  function crc32(bytes, crc) {
    if (!crcTable) {
      crcTable = new Uint32Array(256);
      for (var n = 0; n < 256; n++) {
        var c = n;
        for (var k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
        crcTable[n] = c >>> 0;
      }
    }
    for (var i = 0; i < bytes.length; i++) crc = crcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >>> 8);
    return crc;
  }

  function chunk(type, data) {
    var out = new Uint8Array(12 + data.length);
    var view = new DataView(out.buffer);
    view.setUint32(0, data.length);
    for (var i = 0; i < 4; i++) out[4 + i] = type.charCodeAt(i);
    out.set(data, 8);
    var crc = crc32(out.subarray(4, 8 + data.length), 0xFFFFFFFF);
    view.setUint32(8 + data.length, (crc ^ 0xFFFFFFFF) >>> 0);
    return out;
  }

  async function encodePNG(pixels) {
    // The background is filled, so the image is opaque: red, green and blue only. Each row is
    // stored as its difference from the row above ("Up" filter), which turns the long stretches
    // a diagram repeats from row to row into zeros that deflate passes over quickly.
    var width = pixels.width, height = pixels.height, source = pixels.data;
    var stride = width * 3;
    var rows = new Uint8Array(height * (stride + 1));
    var at = 0;
    for (var y = 0; y < height; y++) {
      rows[at++] = y === 0 ? 0 : 2;
      var i = y * width * 4;
      var end = i + width * 4;
      if (y === 0) {
        for (; i < end; i += 4) { rows[at++] = source[i]; rows[at++] = source[i + 1]; rows[at++] = source[i + 2]; }
      } else {
        var j = i - width * 4;
        for (; i < end; i += 4, j += 4) {
          rows[at++] = source[i] - source[j];
          rows[at++] = source[i + 1] - source[j + 1];
          rows[at++] = source[i + 2] - source[j + 2];
        }
      }
    }
    var compressed = new Uint8Array(await new Response(
      new Blob([rows]).stream().pipeThrough(new CompressionStream("deflate"))).arrayBuffer());
    var header = new Uint8Array(13);
    var view = new DataView(header.buffer);
    view.setUint32(0, width);
    view.setUint32(4, height);
    header[8] = 8;  // bits per sample
    header[9] = 2;  // red, green, blue
    var parts = [new Uint8Array([137, 80, 78, 71, 13, 10, 26, 10]), chunk("IHDR", header),
      chunk("IDAT", compressed), chunk("IEND", new Uint8Array(0))];
    var size = parts.reduce(function (sum, part) { return sum + part.length; }, 0);
    var png = new Uint8Array(size);
    at = 0;
    parts.forEach(function (part) { png.set(part, at); at += part.length; });
    return png;
  }

  function base64(bytes) {
    var text = "";
    for (var i = 0; i < bytes.length; i += 0x8000)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }

  // Ctrl and the wheel zoom as the buttons do.
  viewport.addEventListener("wheel", function (event) {
    if (!event.ctrlKey) return;
    event.preventDefault();
    zoomBy(event.deltaY < 0 ? 1.1 : 1 / 1.1);
  }, { passive: false });

  window.boot = boot;
  window.setTheme = setTheme;
  window.renderDiagram = renderDiagram;
  window.getSVG = getSVG;
  window.getPNG = getPNG;
  window.zoomBy = zoomBy;
  window.fitToView = fitToView;
  window.resetZoom = resetZoom;
  window.requestAutoFit = requestAutoFit;
})();
