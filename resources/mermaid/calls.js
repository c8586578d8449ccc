// Runs in the diagram page's own world. Gives the page its "viewState" message handler and
// answers the program's calls: the program runs __quorrixCall(id, name, args); the named page
// function's answer (awaited when it is a promise) is posted to the bridge, which lives in a
// world of its own that the page's scripts cannot reach and carries it to the program.
(function () {
  "use strict";
  var TAG = "quorrix-bridge";
  function post(message) {
    message.tag = TAG;
    window.postMessage(message, "*");
  }
  var viewState = Object.freeze({
    postMessage: function (body) {
      if (typeof body === "number") post({ kind: "state", body: body });
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
        post({ kind: "reply", id: id, ok: true, value: value === undefined ? null : value });
      }, function (error) {
        post({ kind: "reply", id: id, ok: false, value: describe(error) });
      });
    },
    writable: false, configurable: false
  });
})();
