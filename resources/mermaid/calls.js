// Runs in the diagram page's own world, before the page's scripts. Gives the page its
// "viewState" message handler and answers the program's calls: the program runs
// __quorrixCall(id, name, args, token); the named page function's answer (awaited when it is a
// promise) is posted, with the call's token, to the bridge, which lives in a world of its own
// that the page's scripts cannot reach and carries it to the program. The functions called are
// the ones the page served first, kept here: a script that later replaces window.getSVG, say,
// changes nothing the program is answered with.
(function () {
  "use strict";
  var TAG = "quorrix-bridge";
  var post = window.postMessage.bind(window);
  function send(message) {
    message.tag = TAG;
    post(message, "*");
  }
  var viewState = Object.freeze({
    postMessage: function (body) {
      if (typeof body === "number") send({ kind: "state", body: body });
    }
  });
  Object.defineProperty(window, "messageHandlers", {
    value: Object.freeze({ viewState: viewState }), writable: false, configurable: false
  });
  function describe(error) {
    if (error && typeof error.message === "string" && error.message) return error.message;
    return String(error);
  }
  var served = null;
  Object.defineProperty(window, "__quorrixServe", {
    value: function (functions) {
      if (served || !functions || typeof functions !== "object") return;
      served = Object.create(null);
      Object.keys(functions).forEach(function (name) {
        if (typeof functions[name] === "function") served[name] = functions[name];
      });
      Object.freeze(served);
    },
    writable: false, configurable: false
  });
  Object.defineProperty(window, "__quorrixCall", {
    value: function (id, name, args, token) {
      Promise.resolve().then(function () {
        var f = served ? served[name] : undefined;
        if (typeof f !== "function") throw new Error("The diagram page has no " + name + ".");
        return f.apply(null, args);
      }).then(function (value) {
        send({ kind: "reply", id: id, token: token, ok: true, value: value === undefined ? null : value });
      }, function (error) {
        send({ kind: "reply", id: id, token: token, ok: false, value: describe(error) });
      });
    },
    writable: false, configurable: false
  });
})();
