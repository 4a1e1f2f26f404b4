// The studio's page. Every number shown comes from the server (the package's
// tables); this script only lays them out, draws them and sends the
// analyst's edits back as requests. Text from the data is always set as
// text (textContent), never as markup.
"use strict";

const ROW_HEIGHT = 28;       // px of one variable in the list (as in the CSS)
const CHART = { width: 900, height: 300, top: 24, bottom: 40, side: 16, gap: 18 };
const SVG = "http://www.w3.org/2000/svg";

const state = {
  summary: [],      // the ranking, as the server sends it
  shown: [],        // the ranking filtered by the filter box
  status: {},
  column: null,     // the chosen variable
  view: null,       // its view
  bin: 0,           // the chosen bin
  category: null,   // the chosen category (categorical variables)
  fixed: new Set(), // cut points ticked to be fixed, by their text
};

const $ = (id) => document.getElementById(id);

// This page's name in its requests: the server keeps serving while any of
// its pages is open (closing one tab leaves the others working).
const PAGE = Array.from(crypto.getRandomValues(new Uint8Array(12)), (b) => b.toString(16).padStart(2, "0")).join("");

function el(tag, attributes = {}, text = null) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attributes)) node.setAttribute(k, v);
  if (text !== null) node.textContent = text;
  return node;
}

function svg(tag, attributes = {}, text = null) {
  const node = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attributes)) node.setAttribute(k, String(v));
  if (text !== null) node.textContent = text;
  return node;
}

// -- talking to the server ---------------------------------------------------
async function call(name, body = null, query = null) {
  const url = "api/" + name + (body === null ? "?" + new URLSearchParams({ ...query, page: PAGE }) : "");
  const options = body === null
    ? { method: "GET" }
    : { method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify({ ...body, page: PAGE }) };
  const response = await fetch(url, options);
  const answer = response.status === 204 ? {} : await response.json();
  if (!response.ok) throw Object.assign(new Error(answer.error || response.statusText), { status: response.status });
  return answer;
}

function say(text, kind = "info") {
  const box = $("message");
  box.textContent = text;
  box.className = kind;
  box.hidden = !text;
}

// The analyst's moves reach the server one after the other, in the order
// made (a quick second undo waits for the first instead of being lost).
// `body` is the request, or a function making it when its turn comes.
let queue = Promise.resolve();

function act(name, body) {
  const run = queue.then(async () => {
    try {
      const answer = await call(name, typeof body === "function" ? body() : body);
      apply(answer);
      if (answer.warnings && answer.warnings.length) say(answer.warnings.join(" "), "warning");
      else if (answer.saved) say("Saved to " + answer.saved + ".", "info");
      else say("");
      return answer;
    } catch (error) {
      // The bins this page showed were changed meanwhile (on another page):
      // the edit was not made; show the variable as it is now.
      if (error.status === 409) await reload();
      say(error.message, "error");
      return null;
    }
  });
  queue = run;
  return run;
}

async function reload() {
  try {
    apply(await call("state", null, state.column ? { column: state.column } : {}));
  } catch (error) {
    say(error.message, "error");
  }
}

// An edit names bins of the view shown when it was made: it carries that
// view's version, and the server refuses it if the variable changed since.
function edit(operation, args) {
  const reason = $("reason").value;
  const body = { column: state.column, operation, arguments: args, reason, version: state.view.version };
  return act("edit", body).then((answer) => {
    if (answer) $("reason").value = "";
  });
}

function apply(answer) {
  if (answer.summary) { state.summary = answer.summary; filterList(); }
  if (answer.status) showStatus(answer.status);
  if (answer.view) showView(answer.view);
}

// -- the ranking -------------------------------------------------------------
function filterList() {
  const text = $("filter").value.trim().toLowerCase();
  state.shown = text ? state.summary.filter((r) => r.column.toLowerCase().includes(text)) : state.summary;
  $("spacer").style.height = state.shown.length * ROW_HEIGHT + "px";
  drawList();
}

// Only the rows in sight are in the page, so a table of thousands of
// variables scrolls as lightly as one of twenty.
function drawList() {
  const viewport = $("viewport");
  const first = Math.max(0, Math.floor(viewport.scrollTop / ROW_HEIGHT) - 5);
  const last = Math.min(state.shown.length, first + Math.ceil(viewport.clientHeight / ROW_HEIGHT) + 10);
  const rows = $("rows");
  rows.style.transform = "translateY(" + first * ROW_HEIGHT + "px)";
  rows.replaceChildren();
  for (let i = first; i < last; i++) {
    const r = state.shown[i];
    const classes = ["var"];
    if (r.skipped) classes.push("skipped");
    else if (!r.keep) classes.push("drop");
    if (r.edited) classes.push("edited");
    if (r.column === state.column) classes.push("chosen");
    const row = el("div", { class: classes.join(" "), role: "option", "data-column": r.column,
      "aria-selected": String(r.column === state.column),
      title: r.skipped ? "not binned: " + r.skipped : (r.note || r.column) });
    row.append(el("span", {}, r.column), el("span", {}, r.iv), el("span", {}, r.gini),
      el("span", {}, r.skipped ? "-" : String(r.bins)));
    if (!r.skipped) row.addEventListener("click", () => choose(r.column));
    rows.append(row);
  }
}

function scrollToChosen() {
  const i = state.shown.findIndex((r) => r.column === state.column);
  if (i < 0) return;
  const viewport = $("viewport");
  const top = i * ROW_HEIGHT;
  if (top < viewport.scrollTop) viewport.scrollTop = top;
  else if (top + ROW_HEIGHT > viewport.scrollTop + viewport.clientHeight)
    viewport.scrollTop = top + ROW_HEIGHT - viewport.clientHeight;
  drawList();
}

function choose(column) {
  if (!column || column === state.column && state.view) return queue;
  queue = queue.then(async () => {
    try {
      const answer = await call("column", null, { column });
      state.bin = 0;
      state.category = null;
      say("");
      showView(answer.view);
    } catch (error) {
      say(error.message, "error");
    }
  });
  return queue;
}

function step(delta) {
  const usable = state.shown.filter((r) => !r.skipped);
  if (!usable.length) return;
  const i = usable.findIndex((r) => r.column === state.column);
  const next = usable[Math.min(usable.length - 1, Math.max(0, i + delta))];
  choose(next.column);
}

function showStatus(status) {
  state.status = status;
  $("undo").disabled = !status.can_undo;
  $("redo").disabled = !status.can_redo;
  $("save").disabled = status.output === null;
  const where = status.output === null ? "no output file: the binning is the handle's" : "saves to " + status.output;
  $("status").textContent = (status.unsaved ? "unsaved edits \u2014 " : "") + where;
  // What the start had to tell stays shown, whatever the edits say after it.
  $("notes").textContent = status.messages.join(" ");
  $("notes").hidden = !status.messages.length;
}

// -- one variable ------------------------------------------------------------
function showView(view) {
  const changed = view.column !== state.column;
  state.column = view.column;
  state.view = view;
  if (changed) { state.fixed.clear(); state.bin = 0; }
  state.bin = Math.min(state.bin, view.n_bins - 1);
  $("title").textContent = view.column;
  $("meta").textContent = view.title + " \u00b7 Gini " + view.gini + " \u00b7 event rate " + view.trend +
    (view.log.length ? " \u00b7 " + view.log.length + " edit" + (view.log.length > 1 ? "s" : "") : "");
  drawChart();
  drawTable();
  drawLog();
  const numeric = view.kind === "numeric";
  $("numeric-controls").hidden = !numeric;
  $("category-controls").hidden = numeric;
  if (numeric) drawCuts(); else drawGroups();
  if (changed) scrollToChosen(); else drawList();
}

// The chart: one bar per row (bins, then special values and missing values
// after a gap), heights from the counts, the event rate as a line over the
// bins; the server's numbers are only scaled to the drawing's size.
function layout() {
  const view = state.view;
  const n = view.bars.length;
  const extra = n - view.n_bins;
  const inner = CHART.width - 2 * CHART.side - (extra ? CHART.gap : 0);
  const slot = inner / n;
  const x = (i) => CHART.side + i * slot + (i >= view.n_bins ? CHART.gap : 0);
  const plot = CHART.height - CHART.top - CHART.bottom;
  const most = Math.max(1, ...view.bars.map((b) => b.count));
  const rates = view.bars.map((b) => b.event_rate).filter((r) => r !== null);
  const highest = Math.max(...rates, 0) || 1;
  return {
    slot, x, plot,
    barY: (count) => CHART.top + plot * (1 - count / most),
    rateY: (rate) => CHART.top + plot * (1 - 0.9 * rate / highest),
  };
}

function drawChart() {
  const view = state.view;
  const chart = $("chart");
  chart.setAttribute("viewBox", "0 0 " + CHART.width + " " + CHART.height);
  chart.replaceChildren();
  const g = layout();
  view.bars.forEach((bar, i) => {
    const chosen = i === state.bin ? " chosen" : "";
    const kind = bar.row === "bin" ? "" : " " + bar.row;
    const rect = svg("rect", { class: "bar" + kind + chosen, x: g.x(i) + 3, y: g.barY(bar.count),
      width: g.slot - 6, height: CHART.top + g.plot - g.barY(bar.count), "data-row": i });
    rect.append(svg("title", {}, describe(bar)));
    rect.addEventListener("mousemove", (e) => pointAt(e, i));
    rect.addEventListener("mouseleave", () => { $("hover").textContent = "\u00a0"; dropPick(); });
    rect.addEventListener("click", (e) => clickBar(e, i));
    rect.addEventListener("dblclick", (e) => { if (pickValue(e, i)) splitAt(pickValue(e, i).text); });
    chart.append(rect);
    chart.append(svg("text", { class: "count", x: g.x(i) + g.slot / 2, y: g.barY(bar.count) - 4,
      "text-anchor": "middle" }, String(bar.count)));
    const room = Math.max(3, Math.floor(g.slot / 6.5));  // characters of 11px text under a bar
    const label = bar.label.length > room ? bar.label.slice(0, room - 1) + "\u2026" : bar.label;
    chart.append(svg("text", { class: "label", x: g.x(i) + g.slot / 2, y: CHART.height - CHART.bottom + 16,
      "text-anchor": "middle" }, label));
  });
  // The event rate over the bins (special and missing rows as dots alone).
  const points = view.bars.slice(0, view.n_bins).map((b, i) => [i, b.event_rate]).filter((p) => p[1] !== null);
  if (points.length > 1)
    chart.append(svg("polyline", { class: "rate",
      points: points.map(([i, r]) => (g.x(i) + g.slot / 2) + "," + g.rateY(r)).join(" ") }));
  view.bars.forEach((bar, i) => {
    if (bar.event_rate === null) return;
    const cx = g.x(i) + g.slot / 2;
    const dot = svg("circle", { class: "dot", cx, cy: g.rateY(bar.event_rate), r: 4 });
    dot.append(svg("title", {}, describe(bar)));
    chart.append(dot);
    chart.append(svg("text", { class: "rate-text", x: cx + 6, y: g.rateY(bar.event_rate) - 6 }, bar.event_rate_text));
  });
  if (view.kind === "numeric") drawCutHandles(chart, g);
}

function describe(bar) {
  return bar.label + ": " + bar.count + " rows (" + bar.share + "), event rate " + bar.event_rate_text +
    ", WoE " + bar.woe;
}

// The cut point a pointer at the event's place in bin `i` chooses: the
// server's candidates inside the bin, spread evenly over its width.
function pickValue(event, i) {
  const view = state.view;
  if (view.kind !== "numeric" || i >= view.n_bins) return null;
  const choices = view.candidates[i];
  if (!choices.length) return null;
  const g = layout();
  const at = svgX(event);
  const share = Math.min(0.999, Math.max(0, (at - g.x(i)) / g.slot));
  return choices[Math.floor(share * choices.length)];
}

function svgX(event) {
  const chart = $("chart");
  const point = chart.createSVGPoint();
  point.x = event.clientX;
  point.y = event.clientY;
  return point.matrixTransform(chart.getScreenCTM().inverse()).x;
}

function pointAt(event, i) {
  const bar = state.view.bars[i];
  const pick = pickValue(event, i);
  $("hover").textContent = describe(bar) + (pick ? " \u2014 click: split at " + pick.text + "? double-click: split there" : "");
  dropPick();
  if (pick) {
    const x = svgX(event);
    $("chart").append(svg("line", { class: "pick", id: "pick", x1: x, x2: x, y1: CHART.top, y2: CHART.height - CHART.bottom }));
  }
}

function dropPick() {
  const line = document.getElementById("pick");
  if (line) line.remove();
}

function clickBar(event, i) {
  const view = state.view;
  if (i < view.n_bins) chooseBin(i);
  const pick = pickValue(event, i);
  if (pick) { $("split-at").value = pick.text; }
}

function chooseBin(i) {
  state.bin = i;
  drawChart();
  drawTable();
  if (state.view.kind !== "numeric") drawGroups();
}

// Cut lines between neighbouring bins; dragging one moves it among the
// candidates of the two bins it parts.
function drawCutHandles(chart, g) {
  const view = state.view;
  view.cuts.forEach((cut, j) => {
    const x = g.x(j + 1) - 0;
    const fixed = state.fixed.has(cut.text) ? " fixed" : "";
    chart.append(svg("line", { class: "cut" + fixed, x1: x, x2: x, y1: CHART.top - 8, y2: CHART.top + g.plot }));
    const grip = svg("rect", { class: "grip", x: x - 6, y: CHART.top - 8, width: 12, height: g.plot + 8,
      "data-cut": j });
    grip.append(svg("title", {}, "cut " + cut.text + ": drag to move"));
    grip.addEventListener("pointerdown", (e) => dragCut(e, j));
    chart.append(grip);
  });
}

function dragCut(event, j) {
  event.preventDefault();
  const view = state.view;
  const cut = view.cuts[j];
  const choices = [...view.candidates[j], cut, ...view.candidates[j + 1]];
  const g = layout();
  const chart = $("chart");
  const left = g.x(j);
  const span = 2 * g.slot;
  let chosen = cut;
  const ghost = svg("line", { class: "ghost", y1: CHART.top - 8, y2: CHART.top + g.plot });
  const text = svg("text", { class: "ghost-text", y: CHART.top - 10, "text-anchor": "middle" });
  chart.append(ghost, text);
  const move = (e) => {
    const share = Math.min(0.999, Math.max(0, (svgX(e) - left) / span));
    chosen = choices[Math.floor(share * choices.length)];
    const x = Math.min(left + span, Math.max(left, svgX(e)));
    for (const [k, v] of [["x1", x], ["x2", x]]) ghost.setAttribute(k, v);
    text.setAttribute("x", x);
    text.textContent = chosen.text;
  };
  const up = () => {
    window.removeEventListener("pointermove", move);
    window.removeEventListener("pointerup", up);
    ghost.remove();
    text.remove();
    if (chosen.text !== cut.text) edit("move_cut", { old: cut.value, new: chosen.value });
  };
  window.addEventListener("pointermove", move);
  window.addEventListener("pointerup", up);
}

function drawTable() {
  const view = state.view;
  const table = $("table");
  table.replaceChildren();
  const head = el("tr");
  view.header.forEach((h, k) => head.append(el("th", { class: k === 1 ? "text" : "" }, h)));
  table.append(head);
  view.rows.forEach((cells, i) => {
    const tr = el("tr", i === state.bin ? { class: "chosen" } : {});
    cells.forEach((c, k) => tr.append(el("td", { class: k === 1 ? "text" : "" }, c)));
    if (i < view.n_bins) tr.addEventListener("click", () => chooseBin(i));
    table.append(tr);
  });
}

function drawLog() {
  const view = state.view;
  const table = $("log");
  table.replaceChildren();
  if (!view.log.length) {
    const tr = el("tr");
    tr.append(el("td", { class: "text" }, "no edits"));
    table.append(tr);
    return;
  }
  const head = el("tr");
  view.log_header.forEach((h) => head.append(el("th", { class: "text" }, h)));
  table.append(head);
  view.log.forEach((cells) => {
    const tr = el("tr");
    cells.forEach((c) => tr.append(el("td", { class: "text" }, c)));
    table.append(tr);
  });
}

function drawCuts() {
  const view = state.view;
  const box = $("cuts");
  box.replaceChildren();
  view.cuts.forEach((cut) => {
    const chip = el("label", { class: "cut-chip" });
    const tick = el("input", { type: "checkbox" });
    tick.checked = state.fixed.has(cut.text);
    tick.addEventListener("change", () => {
      if (tick.checked) state.fixed.add(cut.text); else state.fixed.delete(cut.text);
      drawChart();
    });
    chip.append(tick, document.createTextNode(cut.text));
    box.append(chip);
  });
  if (!view.cuts.length) box.textContent = "none";
  const specials = $("specials");
  specials.replaceChildren();
  view.special_values.forEach((s) => {
    const b = el("button", { type: "button", title: "remove the special value " + s.text }, s.text + " \u00d7");
    b.addEventListener("click", () => edit("remove_special", { code: s.value }));
    specials.append(b);
  });
}

function drawGroups() {
  const view = state.view;
  const box = $("groups");
  box.replaceChildren();
  const names = [];
  view.groups.forEach((group, b) => {
    const div = el("div", { class: "group" + (b === state.bin ? " chosen" : ""), "data-bin": b });
    div.append(el("h4", {}, "bin " + b));
    group.categories.forEach((name) => {
      names.push(name);
      const chip = el("span", { class: "chip" + (name === state.category ? " chosen" : ""), draggable: "true" }, name);
      chip.addEventListener("click", (e) => { e.stopPropagation(); state.category = name; state.bin = b; drawGroups(); drawChart(); });
      chip.addEventListener("dragstart", (e) => e.dataTransfer.setData("text/plain", name));
      div.append(chip);
    });
    if (group.pooled) div.append(el("span", { class: "chip pooled", title: view.pooled_categories.join(", ") }, group.pooled));
    div.addEventListener("click", () => chooseBin(b));
    div.addEventListener("dragover", (e) => { e.preventDefault(); div.classList.add("over"); });
    div.addEventListener("dragleave", () => div.classList.remove("over"));
    div.addEventListener("drop", (e) => {
      e.preventDefault();
      const name = e.dataTransfer.getData("text/plain");
      if (name) edit("move", { category: name, to: b });
    });
    box.append(div);
  });
  const options = (select, items, keep) => {
    const before = keep ? select.value : null;
    select.replaceChildren(...items.map(([value, text]) => { const o = el("option", { value }, text); return o; }));
    if (before !== null && items.some(([v]) => v === before)) select.value = before;
  };
  options($("move-category"), [...names, ...view.pooled_categories].map((n) => [n, n]), true);
  if (state.category) $("move-category").value = state.category;
  options($("move-to"), [["own", "a bin of its own"], ...view.groups.map((_, b) => [String(b), "bin " + b])], true);
  options($("merge-with"), view.groups.map((_, b) => [String(b), "bin " + b]).filter(([v]) => v !== String(state.bin)), true);
}

// -- the analyst's moves -----------------------------------------------------
function splitAt(text) {
  const view = state.view;
  if (view.kind !== "numeric") return;
  if (!text.trim()) { say("Type a value to split at, or click inside a bar.", "error"); return; }
  edit("split", { at: text.trim() }).then(() => { $("split-at").value = ""; });
}

function mergeNext() {
  const view = state.view;
  if (state.bin + 1 >= view.n_bins) { say("The last bin has no next bin to merge with.", "error"); return; }
  edit("merge", { first: state.bin, second: state.bin + 1 });
}

function numbers(text) {
  return text.split(/[,;\s]+/).filter((t) => t !== "");
}

function wire() {
  // Undo and redo step through the whole session: they carry its version
  // as this page knows it when their turn comes.
  const stepping = (name) => () => act(name, () => ({ column: state.column, version: state.status.version }));
  $("undo").addEventListener("click", stepping("undo"));
  $("redo").addEventListener("click", stepping("redo"));
  $("save").addEventListener("click", () => act("save", { column: state.column }));
  $("reset").addEventListener("click", () => act("reset", { column: state.column, version: state.view.version }));
  $("split").addEventListener("click", () => splitAt($("split-at").value));
  $("merge-next").addEventListener("click", mergeNext);
  $("reoptimise").addEventListener("click", () => {
    const cuts = state.view.cuts.filter((c) => state.fixed.has(c.text)).map((c) => c.value);
    if (!cuts.length) { say("Tick the cuts to keep first.", "error"); return; }
    edit("with_cuts", { cuts, fixed: true });
  });
  $("apply-cuts").addEventListener("click", () => edit("with_cuts", { cuts: numbers($("set-cuts").value), fixed: false }));
  $("add-special").addEventListener("click", () => edit("add_special", { code: $("special").value.trim() }));
  $("move").addEventListener("click", () => {
    const to = $("move-to").value;
    edit("move", { category: $("move-category").value, to: to === "own" ? null : Number.parseInt(to, 10) });
  });
  $("merge").addEventListener("click", () => {
    if ($("merge-with").value === "") return;
    edit("merge", { first: state.bin, second: Number.parseInt($("merge-with").value, 10) });
  });
  $("unseen").addEventListener("click", () => edit("send_unseen_to", { bin: state.bin }));
  $("help-button").addEventListener("click", () => { $("help").hidden = !$("help").hidden; });
  $("filter").addEventListener("input", () => { $("viewport").scrollTop = 0; filterList(); });
  $("viewport").addEventListener("scroll", drawList, { passive: true });
  window.addEventListener("resize", drawList);
  const enter = (id, action) => $(id).addEventListener("keydown", (e) => { if (e.key === "Enter") action(); });
  enter("split-at", () => splitAt($("split-at").value));
  enter("set-cuts", () => $("apply-cuts").click());
  enter("special", () => $("add-special").click());
  enter("filter", () => { const first = state.shown.find((r) => !r.skipped); if (first) choose(first.column); $("filter").blur(); });
  document.addEventListener("keydown", keyboard);
  // Closing the last open page stops the server (a reload comes back in time).
  window.addEventListener("pagehide", () => navigator.sendBeacon("api/close", JSON.stringify({ page: PAGE })));
  window.addEventListener("beforeunload", (e) => { if (state.status.unsaved) { e.preventDefault(); e.returnValue = ""; } });
}

function keyboard(e) {
  const typing = ["INPUT", "SELECT", "TEXTAREA"].includes(document.activeElement.tagName);
  if (e.key === "Escape") { document.activeElement.blur(); $("help").hidden = true; return; }
  const ctrl = e.ctrlKey || e.metaKey;
  if (ctrl && e.key.toLowerCase() === "s") { e.preventDefault(); $("save").click(); return; }
  if (typing) return;
  if (ctrl && e.key.toLowerCase() === "z") { e.preventDefault(); $(e.shiftKey ? "redo" : "undo").click(); return; }
  if (ctrl && e.key.toLowerCase() === "y") { e.preventDefault(); $("redo").click(); return; }
  if (ctrl || e.altKey || !state.view) return;
  const keys = {
    j: () => step(1), ArrowDown: () => step(1), k: () => step(-1), ArrowUp: () => step(-1),
    l: () => chooseBin(Math.min(state.view.n_bins - 1, state.bin + 1)),
    ArrowRight: () => chooseBin(Math.min(state.view.n_bins - 1, state.bin + 1)),
    h: () => chooseBin(Math.max(0, state.bin - 1)), ArrowLeft: () => chooseBin(Math.max(0, state.bin - 1)),
    m: mergeNext,
    s: () => $("split-at").focus(),
    r: () => $("reason").focus(),
    z: () => $("undo").click(),
    y: () => $("redo").click(),
    "/": () => $("filter").focus(),
    "?": () => { $("help").hidden = !$("help").hidden; },
  };
  const action = keys[e.key];
  if (action) { e.preventDefault(); action(); }
}

async function start() {
  wire();
  try {
    const answer = await call("state");
    apply(answer);
    const first = state.summary.find((r) => !r.skipped);
    if (first) await choose(first.column);
  } catch (error) {
    say(error.message, "error");
  }
}

start();
