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

  // The page holds the top-level blocks in groups of a few dozen, each contained (see
  // preview.css): a change inside one group is laid out and painted without touching the others,
  // which only move, and groups far from the view are not laid out at all. A long body arrives
  // as groups of text: those near the view are built at once, the rest as they come near (or
  // when a search or an edit needs them), and until then a group stands in the line map as its
  // line range.
  var groupSize = 48;
  var heldGroups = 0;
  // The held groups still waiting for their texts, in order, and how many have come.
  var awaiting = [];
  var arrived = 0;
  // A group whose built blocks did not come to the count it was sent with: patches, which count
  // blocks, would land in the wrong place, so the page refuses them until a whole body comes.
  var miscounted = false;
  var measuredWidth = -1;

  // In a long body, groups far from the view are not laid out (content-visibility: auto);
  // measuring their blocks would lay them out, so they stand in the line map as one row each
  // until they come near. A shorter body is laid out whole, and measured exactly.
  var lazyGroups = 32;
  function settleLaziness() {
    content.classList.toggle("lazy", content.childElementCount > lazyGroups);
  }
  var nearing = new IntersectionObserver(function (entries) {
    for (var i = 0; i < entries.length; i++) {
      if (entries[i].isIntersecting) build(entries[i].target);
    }
    scheduleLayout();
  }, { rootMargin: "100% 0px" });

  function newGroup() {
    var group = document.createElement("div");
    group.className = "blocks";
    group.lineShift = 0;
    group.rows = null;
    group.held = false;
    nearing.observe(group);
    return group;
  }

  // A group not yet built: `range` is [first line, end line, block count, first block's kind,
  // last block's kind] (a kind is "TAG class"), its text comes with it or later. It takes the
  // margins it will have once built, so building it where it is not seen moves nothing.
  function newHeldGroup(range) {
    var group = newGroup();
    group.className = "blocks pending";
    group.held = true;
    group.pending = null;
    group.range = range;
    group.style.marginTop = marginsOf(kind(range[3]))[0];
    group.style.marginBottom = marginsOf(kind(range[4]))[1];
    heldGroups += 1;
    return group;
  }

  function kind(text) {
    var space = text.indexOf(" ");
    return space < 0 ? { tagName: text || "DIV", className: "" }
                     : { tagName: text.slice(0, space), className: text.slice(space + 1) };
  }

  function blockCount(group) {
    return group.held ? group.range[2] : group.childElementCount;
  }

  // Turns a held group whose text has come into its blocks.
  function build(group) {
    if (!group.held || group.pending === null) return;
    group.innerHTML = group.pending;
    group.pending = null;
    group.searchText = undefined;
    group.held = false;
    group.classList.remove("pending");
    heldGroups -= 1;
    if (group.childElementCount !== group.range[2]) miscounted = true;
    fitEdges(group);
  }

  // Builds every held group whose text has come; answers how many.
  function buildAll() {
    var built = 0;
    for (var g = content.firstElementChild; g !== null && heldGroups > 0; g = g.nextElementSibling) {
      if (g.held && g.pending !== null) {
        build(g);
        built += 1;
      }
    }
    return built;
  }

  // What a held group shows, near enough to tell whether a search may match in it: its text
  // without tags, entities read, without white space, in lower case.
  var entities = { amp: "&", lt: "<", gt: ">", quot: "\"", apos: "'" };
  function searchable(html) {
    return html.replace(/<[^>]*>/g, "").replace(/&(#x[0-9a-f]+|#[0-9]+|[a-z]+);/gi, function (whole, name) {
      if (name.charAt(0) !== "#") return entities[name.toLowerCase()] || whole;
      var code = name.charAt(1) === "x" || name.charAt(1) === "X" ? parseInt(name.slice(2), 16) : parseInt(name.slice(1), 10);
      return code > 0 && code <= 0x10ffff ? String.fromCodePoint(code) : whole;
    }).replace(/\s+/g, "").toLowerCase();
  }

  // Find in the page searches built blocks only: the held groups that may hold `query` are built
  // first (a search that then finds nothing builds the rest and looks again).
  function buildForSearch(query) {
    var key = query.replace(/\s+/g, "").toLowerCase();
    for (var g = content.firstElementChild; g !== null && heldGroups > 0; g = g.nextElementSibling) {
      if (!g.held || g.pending === null) continue;
      if (g.searchText === undefined) g.searchText = searchable(g.pending);
      if (g.searchText.indexOf(key) >= 0) build(g);
    }
  }

  // A group is contained, so its blocks' margins cannot collapse with the next group's: its
  // first and last blocks give theirs to the group itself (see preview.css), where they collapse
  // as the blocks' would. The blocks' own margins are read once per kind from a hidden probe.
  var edgeMargins = {};
  var probes = null;
  function marginsOf(element) {
    var key = element.tagName + " " + element.className;
    var known = edgeMargins[key];
    if (known === undefined) {
      if (probes === null) {
        probes = document.createElement("div");
        probes.style.display = "none";
        document.body.appendChild(probes);
      }
      var probe = document.createElement(element.tagName);
      probe.className = element.className;
      probes.appendChild(probe);
      var style = getComputedStyle(probe);
      known = [style.marginTop, style.marginBottom];
      probes.removeChild(probe);
      edgeMargins[key] = known;
    }
    return known;
  }
  function fitEdges(group) {
    var first = group.firstElementChild;
    var last = group.lastElementChild;
    group.style.marginTop = first ? marginsOf(first)[0] : "0px";
    group.style.marginBottom = last ? marginsOf(last)[1] : "0px";
  }

  function dropGroup(group) {
    nearing.unobserve(group);
    if (group.held) heldGroups -= 1;
    content.removeChild(group);
  }

  // The group as one row, from its box and its first and last blocks' lines; null without them.
  function groupRow(group, height) {
    if (group.held) return group.range[0] < 0 ? null : group.range[0] + ",0," + group.range[1] + "," + height;
    var first = group.firstElementChild;
    var last = group.lastElementChild;
    var line = first ? first.getAttribute("data-line") : null;
    var end = last ? last.getAttribute("data-end") : null;
    if (line === null || end === null) return null;
    return line + ",0," + end + "," + height;
  }

  // Line numbers of a group's elements still owed by edits above it, written out.
  function settleLines(group) {
    if (group.lineShift === 0) return;
    var shift = group.lineShift;
    group.lineShift = 0;
    var marked = group.querySelectorAll("[data-line]");
    for (var i = 0; i < marked.length; i++) shiftLines(marked[i], shift);
  }

  // [line, top, end, bottom] of each block of a group, tops relative to the group's top.
  function measureGroup(group, groupTop) {
    var marked = group.querySelectorAll("[data-line]");
    var rows = new Array(marked.length * 4);
    for (var i = 0, k = 0; i < marked.length; i++, k += 4) {
      var block = marked[i];
      var rect = block.getBoundingClientRect();
      rows[k] = Number(block.getAttribute("data-line"));
      rows[k + 1] = rect.top - groupTop;
      rows[k + 2] = Number(block.getAttribute("data-end"));
      rows[k + 3] = rect.bottom - groupTop;
    }
    return rows;
  }

  function postLayout(userScroll) {
    bodyLayoutPending = false;
    post(layoutMessage(userScroll));
  }

  function layoutMessage(userScroll) {
    var y = window.scrollY;
    var width = content.clientWidth;
    var remeasure = width !== measuredWidth;
    measuredWidth = width;
    // One flat run of line, top, end, bottom per block, posted as one text: far cheaper to send
    // than as many numbers. Each group keeps its rows as text, tops relative to its own top, and
    // "runs" says where each group stands and the lines it owes, so an edit rewrites only the
    // text of the groups it touched. A group whose height and width are as when it was measured
    // still has the same rows.
    var texts = [];
    var runs = [];
    var groups = content.children;
    var reach = content.classList.contains("lazy") ? window.innerHeight : Infinity;
    for (var g = 0; g < groups.length; g++) {
      var group = groups[g];
      var rect = group.getBoundingClientRect();
      if (group.held && group.pending !== null && rect.bottom >= -reach && rect.top <= 2 * reach) {
        build(group);
        rect = group.getBoundingClientRect();
      }
      if (!group.held && (remeasure || group.rows === null || group.measuredHeight !== rect.height)) {
        group.rows = null;
        if (rect.bottom >= -reach && rect.top <= 2 * reach) {
          settleLines(group);
          group.rows = measureGroup(group, rect.top);
          group.rowsText = group.rows.join(",");
          group.measuredHeight = rect.height;
        }
      }
      var text = group.rows !== null ? group.rowsText : groupRow(group, rect.height);
      if (text === null || text === "") continue;
      texts.push(text);
      runs.push(group.rows !== null ? group.rows.length / 4 : 1, rect.top + y, group.lineShift);
    }
    var height = root.scrollHeight;
    posted = geometry();
    return { kind: "layout", tops: texts.join(","), runs: runs.join(","), lineCount: lineCount, height: height,
             viewport: window.innerHeight, scrollY: y, userScroll: !!userScroll };
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

  // Moves the nodes of `source` (blocks and the text after each) into new groups of
  // `groupSize` blocks placed before `before`; answers the blocks moved.
  function groupInto(source, before) {
    var moved = [];
    var into = null;
    var count = 0;
    while (source.firstChild) {
      var node = source.firstChild;
      if (into === null || (node.nodeType === 1 && count === groupSize)) {
        if (into !== null) fitEdges(into);
        into = newGroup();
        content.insertBefore(into, before);
        count = 0;
      }
      if (node.nodeType === 1) {
        count += 1;
        moved.push(node);
      }
      into.appendChild(node);
    }
    if (into !== null) fitEdges(into);
    return moved;
  }

  function clearBody() {
    nearing.disconnect();
    content.textContent = "";
    heldGroups = 0;
    awaiting = [];
    arrived = 0;
    miscounted = false;
  }

  function updateBody(html, lines, version) {
    lineCount = lines;
    bodyVersion = typeof version === "number" ? version : 0;
    holdOwnScroll();
    var holder = document.createElement("div");
    holder.innerHTML = html;
    clearBody();
    groupInto(holder, null);
    settleLaziness();
    scheduleBodyLayout();
    releaseOwnScrollSoon();
  }

  // A body sent as groups, five values of each in ranges (see newHeldGroup), with the texts of
  // the first of them; the others come later (takeTexts).
  function updateGroups(texts, ranges, lines, version) {
    lineCount = lines;
    bodyVersion = version;
    holdOwnScroll();
    clearBody();
    var into = document.createDocumentFragment();
    for (var g = 0; 5 * g < ranges.length; g++) {
      var held = newHeldGroup(ranges.slice(5 * g, 5 * g + 5));
      awaiting.push(held);
      into.appendChild(held);
    }
    content.appendChild(into);
    settleLaziness();
    takeTexts(texts);
    if (!content.classList.contains("lazy")) {
      buildAll();
    } else {
      // The groups in and near the view, where a group not yet built stands at its guessed height.
      var reach = window.innerHeight;
      for (var group = content.firstElementChild; group !== null; group = group.nextElementSibling) {
        var rect = group.getBoundingClientRect();
        if (rect.top > 2 * reach) break;
        if (rect.bottom >= -reach) build(group);
      }
    }
    scheduleBodyLayout();
    releaseOwnScrollSoon();
  }

  function shiftLines(element, shift) {
    var value = element.getAttribute("data-line");
    if (value !== null) element.setAttribute("data-line", String(Number(value) + shift));
    value = element.getAttribute("data-end");
    if (value !== null) element.setAttribute("data-end", String(Number(value) + shift));
  }

  // Whether the page still holds exactly the groups and blocks this script put there.
  function intact(oldCount) {
    if (miscounted) return false;
    var groups = content.childNodes;
    var count = 0;
    for (var g = 0; g < groups.length; g++) {
      if (groups[g].nodeType !== 1 || !groups[g].classList.contains("blocks")) return false;
      count += blockCount(groups[g]);
    }
    return count === oldCount;
  }

  // Block k, its group built; null past the last block or while the group's text has not come.
  function locate(k) {
    for (var g = content.firstElementChild; g !== null; g = g.nextElementSibling) {
      var n = blockCount(g);
      if (k < n) {
        build(g);
        return g.children[k] || null;
      }
      k -= n;
    }
    return null;
  }

  // Turns the body of version `base` into version `version`: the `removeCount` top-level blocks
  // at `start` (each with the text after it) give way to those of html, and the line numbers of
  // every later block move by `shift`. Answers false, changing nothing, when the page does not
  // hold `base` as expected; the program then sends the whole body.
  // A large body arrives in parts, each its own call, so that no one message holds the
  // program's GUI thread; a part of another version starts the collection again.
  // A part is a piece of text, or (text null) an array of group texts with their ranges.
  var stagedVersion = -1;
  var stagedParts = [];
  var stagedGroups = [];
  var stagedRanges = [];
  function stageBody(version, part, groups, ranges) {
    if (part === null && ranges === null) {
      // The rest of the texts of the body shown.
      if (version === bodyVersion) takeTexts(groups);
      return true;
    }
    if (version !== stagedVersion) {
      stagedVersion = version;
      stagedParts = [];
      stagedGroups = [];
      stagedRanges = [];
    }
    if (part !== null) {
      stagedParts.push(part);
    } else {
      stagedGroups.push.apply(stagedGroups, groups);
      stagedRanges.push.apply(stagedRanges, ranges);
    }
    return true;
  }
  // Texts for the held groups that still wait for theirs, in order; those near the view are built.
  function takeTexts(texts) {
    var near = false;
    var reach = window.innerHeight;
    for (var t = 0; t < texts.length && arrived < awaiting.length; t++) {
      var group = awaiting[arrived];
      awaiting[arrived] = null;
      arrived += 1;
      if (!group.held || group.parentNode !== content) continue;
      group.pending = texts[t];
      if (!near) {
        var rect = group.getBoundingClientRect();
        near = rect.bottom >= -reach && rect.top <= 2 * reach;
      }
    }
    if (near) scheduleLayout();
  }

  function updateStagedBody(lines, version) {
    if (version !== stagedVersion) return false;
    var html = stagedParts.join("");
    var groups = stagedGroups;
    var ranges = stagedRanges;
    stagedParts = [];
    stagedGroups = [];
    stagedRanges = [];
    stagedVersion = -1;
    if (ranges.length === 0) {
      updateBody(html, lines, version);
      return true;
    }
    updateGroups(groups, ranges, lines, version);
    // The first layout of a long body goes back as the answer too: the message handler can be
    // slow to connect to a page just loaded.
    return layoutMessage();
  }

  function patchBody(base, version, oldCount, start, removeCount, insertCount, html, shift, lines) {
    if (base !== bodyVersion || start < 0 || removeCount < 0 || start + removeCount > oldCount ||
        !intact(oldCount)) return false;
    var holder = document.createElement("div");
    holder.innerHTML = html;
    if (holder.children.length !== insertCount) return false;
    var end = start + removeCount < oldCount ? locate(start + removeCount) : null;
    var startBlock = start < oldCount ? locate(start) : null;
    if ((end === null && start + removeCount < oldCount) || (startBlock === null && start < oldCount)) return false;
    var first = startBlock ? startBlock.parentNode : content.lastChild;
    var last = end ? end.parentNode : content.lastChild;
    if (first === null) {
      first = last = newGroup();
      content.appendChild(first);
    }
    for (var b = first; b !== null; b = b === last ? null : b.nextSibling) {
      build(b);
      if (b.held) return false;
    }
    if (miscounted) return false;
    var before = first.previousSibling;
    var after = last.nextSibling;
    // The groups the patch runs through get their line numbers written out; the groups after
    // them only note the shift, so that a new line costs nothing per later block.
    for (var g = first; g !== null; g = g === last ? null : g.nextSibling) {
      settleLines(g);
      g.rows = null;
    }
    if (shift !== 0) {
      for (var block = end; block !== null; block = block.nextElementSibling) {
        shiftLines(block, shift);
        var inner = block.querySelectorAll("[data-line]");
        for (var j = 0; j < inner.length; j++) shiftLines(inner[j], shift);
      }
      for (var later = last.nextSibling; later !== null; later = later.nextSibling) later.lineShift += shift;
    }
    lineCount = lines;
    bodyVersion = version;
    holdOwnScroll();
    // The text before the first block goes only when the patch starts at the top.
    var node = start === 0 ? first.firstChild : startBlock;
    while (node !== null && node !== end) {
      var parent = node.parentNode;
      var next = node.nextSibling;
      while (next === null && parent !== last) {
        parent = parent.nextSibling;
        next = parent.firstChild;
      }
      node.parentNode.removeChild(node);
      node = next;
    }
    while (holder.firstChild) last.insertBefore(holder.firstChild, end);
    // Emptied groups go; an overfull one is cut back to groups of the usual size.
    for (var h = first; h !== last;) {
      var following = h.nextSibling;
      if (h.firstChild === null) dropGroup(h);
      h = following;
    }
    if (last.childElementCount > 2 * groupSize) {
      var rest = document.createElement("div");
      while (last.firstChild) rest.appendChild(last.firstChild);
      groupInto(rest, last.nextSibling);
      dropGroup(last);
    } else if (last.firstChild === null) {
      dropGroup(last);
    }
    for (var f = before ? before.nextSibling : content.firstChild; f !== null && f !== after; f = f.nextSibling) fitEdges(f);
    settleLaziness();
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
    // The match may lie in a group that was far from the view and so not yet in the line map;
    // the map is sent ahead of the answer. The page moved by itself: nothing to re-level.
    if (result !== null) postLayout(true);
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
  window.stageBody = stageBody;
  window.updateStagedBody = updateStagedBody;
  window.setLineCount = setLineCount;
  window.scrollToY = scrollToY;
  window.holdOwnScroll = holdOwnScroll;
  window.releaseOwnScrollSoon = releaseOwnScrollSoon;
  window.findMatchTop = findMatchTop;
  window.buildPendingGroups = buildAll;
  window.buildGroupsForSearch = buildForSearch;
})();
