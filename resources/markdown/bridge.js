// Runs in a world of its own beside the preview page, holding the web channel to the program:
// the page's scripts can neither see the channel nor call it. Messages the page posts through
// its "sync" handler (handlers.js) go on to the program; those made before the channel is ready
// are queued and sent, in order, once it is. A link leaves the page only from here, on a click
// the user made.
(function () {
  "use strict";
  var queue = [];
  var target = null;
  function send(item) {
    if (item[0] === "link") target.openLink(item[1]);
    else target.post(item[1]);
  }
  function enqueue(item) {
    if (target) send(item);
    else queue.push(item);
  }
  function connect() {
    if (typeof qt === "undefined" || !qt.webChannelTransport || typeof QWebChannel === "undefined") {
      setTimeout(connect, 5);
      return;
    }
    new QWebChannel(qt.webChannelTransport, function (channel) {
      target = channel.objects.sync;
      while (queue.length > 0) send(queue.shift());
    });
  }
  document.addEventListener("quorrix-sync", function (event) {
    if (event.detail && typeof event.detail === "object") enqueue(["message", event.detail]);
  }, true);
  connect();

  function linkOf(event) {
    var node = event.target;
    while (node && node.nodeType === 1 && node.localName !== "a" && node.localName !== "area") node = node.parentNode;
    return node && node.nodeType === 1 ? node : null;
  }
  // The engine reports a script's move of the page as a clicked link, so no link is followed
  // here: a click the user made (a trusted event) on a link hands its address to the program,
  // which opens web links in the browser. A link to a fragment of the page itself would scroll
  // the page outside the program's knowledge; it does nothing either.
  document.addEventListener("click", function (event) {
    var link = linkOf(event);
    if (!link) return;
    event.preventDefault();
    if (!event.isTrusted || event.button !== 0) return;
    var href = link.href && typeof link.href === "object" ? link.href.baseVal : link.getAttribute("href");
    if (!href) href = link.getAttributeNS("http://www.w3.org/1999/xlink", "href");
    if (typeof href !== "string" || !href) return;
    var url;
    try { url = new URL(href, document.baseURI); } catch (error) { return; }
    if (url.href.split("#")[0] === window.location.href.split("#")[0] && url.hash) return;
    enqueue(["link", url.href]);
  }, true);
  document.addEventListener("auxclick", function (event) {
    if (linkOf(event)) event.preventDefault();
  }, true);
})();
