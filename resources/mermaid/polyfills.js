// Standard functions the bundled library calls that this page's engine (Chromium 102) lacks.
(function () {
  "use strict";
  if (typeof URL.canParse !== "function") {
    URL.canParse = function (url, base) {
      try {
        new URL(url, base);
        return true;
      } catch (error) {
        return false;
      }
    };
  }
  if (typeof Object.groupBy !== "function") {
    Object.groupBy = function (items, keyOf) {
      var groups = Object.create(null);
      var index = 0;
      for (var item of items) {
        var key = keyOf(item, index++);
        if (!(key in groups)) groups[key] = [];
        groups[key].push(item);
      }
      return groups;
    };
  }
})();
