// Gives the preview page its "sync" message handler: messages posted before the channel to the
// program is ready are queued and sent, in order, once it is.
(function () {
  "use strict";
  var queue = [];
  var target = null;
  function send(message) {
    target.post(message);
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
  var sync = Object.freeze({
    postMessage: function (message) {
      if (target) send(message);
      else queue.push(message);
    }
  });
  Object.defineProperty(window, "messageHandlers", {
    value: Object.freeze({ sync: sync }), writable: false, configurable: false
  });
  connect();

  // A link to a fragment of the page itself would scroll the page outside the program's
  // knowledge; it does nothing instead.
  document.addEventListener("click", function (event) {
    var link = event.target && event.target.closest ? event.target.closest("a[href]") : null;
    if (!link || !link.hash) return;
    if (link.href.split("#")[0] === window.location.href.split("#")[0]) event.preventDefault();
  }, true);
})();
