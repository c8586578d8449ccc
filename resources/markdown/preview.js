(function () {
  "use strict";
  var lineCount = 1;
  var own = false;
  var ownToken = 0;
  var glideFrame = 0;
  var ownY = null;
  var posted = "";
  var lastY = 0;
  var lastMax = 0;
  var layoutPending = false;
  var content = document.getElementById("content");
  var root = document.documentElement;
  var reducedMotion = window.matchMedia("(prefers-reduced-motion: reduce)");

  function post(message) {
    var handlers = window.messageHandlers;
    if (handlers && handlers.sync) handlers.sync.postMessage(message);
  }

  function geometry() {
    return [root.scrollHeight, window.innerHeight, window.innerWidth].join(",");
  }

  function holdOwnScroll() {
    own = true;
    ownToken += 1;
    ownY = null;
  }

  function releaseOwnScrollSoon() {
    ownToken += 1;
    var token = ownToken;
    // A scroll's event arrives in the frame after the scroll.
    requestAnimationFrame(function () {
      requestAnimationFrame(function () {
        if (ownToken === token && glideFrame === 0) own = false;
      });
    });
  }

  function cancelGlide() {
    if (glideFrame !== 0) {
      cancelAnimationFrame(glideFrame);
      glideFrame = 0;
    }
  }

  function postLayout(userScroll) {
    var y = window.scrollY;
    var tops = [];
    var blocks = document.querySelectorAll("[data-line]");
    for (var i = 0; i < blocks.length; i++) {
      var rect = blocks[i].getBoundingClientRect();
      tops.push([Number(blocks[i].getAttribute("data-line")), rect.top + y,
                 Number(blocks[i].getAttribute("data-end")), rect.bottom + y]);
    }
    var height = root.scrollHeight;
    posted = geometry();
    post({ kind: "layout", tops: tops, lineCount: lineCount, height: height,
           viewport: window.innerHeight, scrollY: y, userScroll: !!userScroll });
  }

  function scheduleLayout() {
    if (layoutPending) return;
    layoutPending = true;
    requestAnimationFrame(function () {
      layoutPending = false;
      postLayout();
    });
  }

  function updateBody(html, lines) {
    lineCount = lines;
    holdOwnScroll();
    content.innerHTML = html;
    postLayout();
    releaseOwnScrollSoon();
  }

  function setLineCount(lines) {
    lineCount = lines;
    postLayout();
  }

  function scrollToY(y, glide) {
    cancelGlide();
    var max = Math.max(0, root.scrollHeight - window.innerHeight);
    var target = Math.min(Math.max(y, 0), max);
    var unknown = own && ownY === null;
    holdOwnScroll();
    function record() {
      if (!unknown) ownY = window.scrollY;
      lastY = window.scrollY;
      lastMax = max;
    }
    if (!glide || reducedMotion.matches) {
      window.scrollTo(0, target);
      record();
      releaseOwnScrollSoon();
      return;
    }
    record();
    var from = window.scrollY;
    var start = performance.now();
    function step(now) {
      var t = Math.min(1, (now - start) / 150);
      window.scrollTo(0, from + (target - from) * (1 - Math.pow(1 - t, 3)));
      record();
      if (t < 1) {
        glideFrame = requestAnimationFrame(step);
      } else {
        glideFrame = 0;
        releaseOwnScrollSoon();
      }
    }
    glideFrame = requestAnimationFrame(step);
  }

  function findMatchTop() {
    var selection = window.getSelection();
    var result = null;
    if (selection && selection.rangeCount > 0) {
      var rect = selection.getRangeAt(0).getBoundingClientRect();
      if (rect.width > 0 || rect.height > 0) result = [rect.top + window.scrollY, window.scrollY];
    }
    releaseOwnScrollSoon();
    return result;
  }

  window.addEventListener("scroll", function () {
    var y = window.scrollY;
    var height = root.scrollHeight;
    var max = height - window.innerHeight;
    var clamped = y < lastY && max < lastMax && Math.abs(y - max) <= 1;
    var user = !clamped && !(own && (ownY === null || Math.abs(y - ownY) <= 1));
    lastY = y;
    lastMax = max;
    if (user && own) {
      cancelGlide();
      own = false;
      ownToken += 1;
    }
    if (user && geometry() !== posted) postLayout(true);
    post({ kind: "scroll", y: y, user: user });
  }, { passive: true });

  function userInput() {
    cancelGlide();
    own = false;
    ownToken += 1;
  }
  ["wheel", "mousedown", "keydown"].forEach(function (name) {
    window.addEventListener(name, userInput, { passive: true, capture: true });
  });

  new ResizeObserver(scheduleLayout).observe(content);
  window.addEventListener("resize", scheduleLayout);

  window.updateBody = updateBody;
  window.setLineCount = setLineCount;
  window.scrollToY = scrollToY;
  window.holdOwnScroll = holdOwnScroll;
  window.releaseOwnScrollSoon = releaseOwnScrollSoon;
  window.findMatchTop = findMatchTop;
})();
