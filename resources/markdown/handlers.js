// Runs in the preview page's own world, before the page's script. Gives the page its "sync"
// message handler, which hands each message to the bridge: the bridge lives in a world of its
// own, holds the web channel to the program, and cannot be reached by the page's scripts. The
// message goes as an event, which reaches the bridge at once: it stays in order with the
// answers to the program's calls that the page gives after it.
(function () {
  "use strict";
  var dispatch = EventTarget.prototype.dispatchEvent;
  var Message = window.CustomEvent;
  var root = document;
  var sync = Object.freeze({
    postMessage: function (message) {
      dispatch.call(root, new Message("quorrix-sync", { detail: message }));
    }
  });
  Object.defineProperty(window, "messageHandlers", {
    value: Object.freeze({ sync: sync }), writable: false, configurable: false
  });
})();
