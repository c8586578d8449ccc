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
  var bodyLayoutPending = false;
  var bodyVersion = 0;
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
    bodyLayoutPending = false;
    var y = window.scrollY;
    var blocks = content.querySelectorAll("[data-line]");
    // One flat run of [line, top, end, bottom] per block: far cheaper to post than nested rows.
    var tops = new Array(blocks.length * 4);
    for (var i = 0, k = 0; i < blocks.length; i++, k += 4) {
      var block = blocks[i];
      var rect = block.getBoundingClientRect();
      tops[k] = Number(block.getAttribute("data-line"));
      tops[k + 1] = rect.top + y;
      tops[k + 2] = Number(block.getAttribute("data-end"));
      tops[k + 3] = rect.bottom + y;
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

  // A new body is measured once the frame that shows it has been drawn, so the text appears
  // first; a layout posted in between for another reason serves it too.
  function scheduleBodyLayout() {
    if (bodyLayoutPending) return;
    bodyLayoutPending = true;
    requestAnimationFrame(function () {
      setTimeout(function () {
        if (bodyLayoutPending) postLayout();
      }, 0);
    });
  }

  function updateBody(html, lines, version) {
    lineCount = lines;
    bodyVersion = typeof version === "number" ? version : 0;
    holdOwnScroll();
    content.innerHTML = html;
    scheduleBodyLayout();
    releaseOwnScrollSoon();
  }

  function shiftLines(element, shift) {
    var value = element.getAttribute("data-line");
    if (value !== null) element.setAttribute("data-line", String(Number(value) + shift));
    value = element.getAttribute("data-end");
    if (value !== null) element.setAttribute("data-end", String(Number(value) + shift));
  }

  // Turns the body of version `base` into version `version`: the `removeCount` top-level blocks
  // at `start` (each with the text after it) give way to those of html, and the line numbers of
  // every later block move by `shift`. Answers false, changing nothing, when the page does not
  // hold `base` as expected; the program then sends the whole body.
  function patchBody(base, version, oldCount, start, removeCount, insertCount, html, shift, lines) {
    var children = content.children;
    if (base !== bodyVersion || children.length !== oldCount || start < 0 || removeCount < 0 ||
        start + removeCount > oldCount) return false;
    var holder = document.createElement("div");
    holder.innerHTML = html;
    if (holder.children.length !== insertCount) return false;
    var end = start + removeCount < oldCount ? children[start + removeCount] : null;
    if (shift !== 0) {
      for (var i = start + removeCount; i < oldCount; i++) {
        var block = children[i];
        shiftLines(block, shift);
        var inner = block.querySelectorAll("[data-line]");
        for (var j = 0; j < inner.length; j++) shiftLines(inner[j], shift);
      }
    }
    lineCount = lines;
    bodyVersion = version;
    holdOwnScroll();
    var node = start === 0 ? content.firstChild : (start < oldCount ? children[start] : null);
    while (node !== null && node !== end) {
      var next = node.nextSibling;
      content.removeChild(node);
      node = next;
    }
    var fragment = document.createDocumentFragment();
    while (holder.firstChild) fragment.appendChild(holder.firstChild);
    content.insertBefore(fragment, end);
    scheduleBodyLayout();
    releaseOwnScrollSoon();
    return true;
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
  window.patchBody = patchBody;
  window.setLineCount = setLineCount;
  window.scrollToY = scrollToY;
  window.holdOwnScroll = holdOwnScroll;
  window.releaseOwnScrollSoon = releaseOwnScrollSoon;
  window.findMatchTop = findMatchTop;
})();
