// Runs in a world of its own beside the diagram page, holding the web channel to the program:
// the page's scripts can neither see the channel nor call it. Answers the page posts (calls.js)
// go on to the program with the token of the call they answer; messages made before the channel
// is ready are queued and sent, in order, once it is. A long answer (a PNG's data URL runs to
// megabytes) crosses in parts, so that the program takes in no more than a part at a time on its
// GUI thread. The zoom scale sent on is the one the diagram is drawn at: the page's own report
// when it matches the drawing, else the drawing's. Links reach the program only from here, on a
// click the user made.
(function () {
  "use strict";
  var TAG = "quorrix-bridge";
  var PART = 262144;
  var queue = [];
  var target = null;
  function sendReply(id, token, ok, value) {
    var at = 0;
    if (typeof value === "string") {
      while (value.length - at > PART) {
        var end = at + PART;
        // A surrogate pair stays in one part, whatever the channel would make of half of one.
        var c = value.charCodeAt(end - 1);
        if (c >= 0xD800 && c <= 0xDBFF) end -= 1;
        target.replyPart(id, value.slice(at, end));
        at = end;
      }
    }
    target.reply(id, token, ok, at > 0 ? value.slice(at) : value);
  }
  function flush() {
    while (queue.length > 0) {
      var item = queue.shift();
      if (item[0] === "state") target.viewState(item[1]);
      else if (item[0] === "link") target.openLink(item[1]);
      else sendReply(item[1], item[2], item[3], item[4]);
    }
  }
  function enqueue(item) {
    queue.push(item);
    if (target) flush();
  }
  function connect() {
    if (typeof qt === "undefined" || !qt.webChannelTransport || typeof QWebChannel === "undefined") {
      setTimeout(connect, 5);
      return;
    }
    new QWebChannel(qt.webChannelTransport, function (channel) {
      target = channel.objects.diagram;
      flush();
    });
  }
  // The scale the diagram on show is drawn at: its drawn width over its own (its view box).
  var stage = null;
  function drawnScale() {
    if (!stage) stage = document.getElementById("stage");
    var svg = stage ? stage.firstElementChild : null;
    if (!svg || svg.localName !== "svg" || !svg.viewBox || !svg.viewBox.baseVal) return null;
    var width = svg.viewBox.baseVal.width;
    if (!(width > 0)) return null;
    var scale = svg.getBoundingClientRect().width / width;
    return scale > 0 && isFinite(scale) ? { scale: scale, pixel: 1 / width } : null;
  }
  // The page starts at 100 %.
  var claimed = 1;
  var reported = null;
  function settle() {
    var drawn = drawnScale();
    if (!drawn) return;
    var scale = Math.abs(claimed - drawn.scale) <= drawn.pixel ? claimed : drawn.scale;
    if (scale === reported) return;
    reported = scale;
    enqueue(["state", scale]);
  }
  function watchStage() {
    var node = document.getElementById("stage");
    if (!node) return false;
    new MutationObserver(settle).observe(node, { childList: true });
    return true;
  }
  if (!watchStage()) document.addEventListener("DOMContentLoaded", watchStage, { once: true });

  // Only answers and zoom scales come from the page; a link never does. Taken before any
  // listener of the page's, which therefore cannot hold an answer back.
  window.addEventListener("message", function (event) {
    var message = event.data;
    if (event.source !== window || !message || typeof message !== "object" || message.tag !== TAG) return;
    if (message.kind === "state" && typeof message.body === "number") {
      claimed = message.body;
      settle();
    } else if (message.kind === "reply" && typeof message.id === "number" && typeof message.token === "string") {
      enqueue(["reply", message.id, message.token, message.ok === true, message.value]);
    }
  }, true);
  // The engine reports a script's move of the page as a clicked link, so only a click the user
  // made (a trusted event) on a web link reaches the program, which opens it in the browser.
  // Nothing a link names is ever loaded here.
  document.addEventListener("click", function (event) {
    var node = event.target;
    while (node && node.nodeType === 1 && node.localName !== "a") node = node.parentNode;
    if (!node || node.nodeType !== 1) return;
    event.preventDefault();
    if (!event.isTrusted || event.button !== 0) return;
    var href = node.href && typeof node.href === "object" ? node.href.baseVal : node.getAttribute("href");
    if (!href) href = node.getAttributeNS("http://www.w3.org/1999/xlink", "href");
    if (typeof href !== "string") return;
    var url;
    try { url = new URL(href, window.location.href); } catch (error) { return; }
    if (url.protocol === "http:" || url.protocol === "https:") enqueue(["link", url.href]);
  }, true);
  document.addEventListener("auxclick", function (event) {
    var node = event.target;
    while (node && node.nodeType === 1 && node.localName !== "a") node = node.parentNode;
    if (node && node.nodeType === 1) event.preventDefault();
  }, true);
  // The page's thread is free: what it owes the program is still coming. A page stuck in a
  // render sends none of these, and the program gives up on it.
  setInterval(function () {
    if (target) target.alive();
  }, 1000);
  connect();
})();
