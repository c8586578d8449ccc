// Gives the diagram page its "viewState" message handler and answers the program's calls:
// the program runs __quorrixCall(id, name, args); the named page function's answer (awaited
// when it is a promise) goes back over the web channel with the same id. Messages and answers
// made before the channel is ready are queued and sent, in order, once it is. A long answer
// (a PNG's data URL runs to megabytes) crosses in parts, so that the program takes in no more
// than a part at a time on its GUI thread.
(function () {
  "use strict";
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
  var viewState = Object.freeze({
    postMessage: function (body) {
      if (typeof body === "number") enqueue(["state", body]);
    }
  });
  Object.defineProperty(window, "messageHandlers", {
    value: Object.freeze({ viewState: viewState }), writable: false, configurable: false
  });
  function describe(error) {
    if (error && typeof error.message === "string" && error.message) return error.message;
    return String(error);
  }
  Object.defineProperty(window, "__quorrixCall", {
    value: function (id, name, args) {
      Promise.resolve().then(function () {
        var f = window[name];
        if (typeof f !== "function") throw new Error("The diagram page has no " + name + ".");
        return f.apply(null, args);
      }).then(function (value) {
        enqueue(["reply", id, true, value === undefined ? null : value]);
      }, function (error) {
        enqueue(["reply", id, false, describe(error)]);
      });
    },
    writable: false, configurable: false
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
  connect();
})();
