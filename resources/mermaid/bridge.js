// Runs in a world of its own beside the diagram page, holding the web channel to the program:
// the page's scripts can neither see the channel nor call it. Answers and "viewState" messages
// the page posts (calls.js) go on to the program; messages made before the channel is ready are
// queued and sent, in order, once it is. A long answer (a PNG's data URL runs to megabytes)
// crosses in parts, so that the program takes in no more than a part at a time on its GUI thread.
// Links reach the program only from here, on a click the user made.
(function () {
  "use strict";
  var TAG = "quorrix-bridge";
  var PART = 262144;
  var queue = [];
  var target = null;
  function sendReply(id, ok, value) {
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
    target.reply(id, ok, at > 0 ? value.slice(at) : value);
  }
  function flush() {
    while (queue.length > 0) {
      var item = queue.shift();
      if (item[0] === "state") target.viewState(item[1]);
      else if (item[0] === "link") target.openLink(item[1]);
      else sendReply(item[1], item[2], item[3]);
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
  // Only answers and zoom scales come from the page; a link never does.
  window.addEventListener("message", function (event) {
    var message = event.data;
    if (event.source !== window || !message || typeof message !== "object" || message.tag !== TAG) return;
    if (message.kind === "state" && typeof message.body === "number") enqueue(["state", message.body]);
    else if (message.kind === "reply" && typeof message.id === "number")
      enqueue(["reply", message.id, message.ok === true, message.value]);
  });
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
