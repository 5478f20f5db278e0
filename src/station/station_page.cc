#include "station/station_page.h"

// The page reads its token from its own address (?token=), fetches the
// toolpath once, then follows /api/events. The controls post with the token
// in an Authorization header. Ids are a contract with users' scripts:
// state, line, progress, remaining, recoveries, toolpath, tool, messages,
// pause, continue, stop.
namespace {

const char page[] = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="referrer" content="no-referrer">
<link rel="icon" href="data:,">
<title>millstation</title>
<style>
*{box-sizing:border-box}
body{margin:0;font:15px/1.4 system-ui,sans-serif;background:#f4f5f7;color:#1d232b}
header{display:flex;flex-wrap:wrap;align-items:center;gap:.6em;padding:.6em 1em;background:#1d232b;color:#fff}
header h1{font-size:1.1em;margin:0 auto 0 0}
#state{font-weight:bold;padding:.15em .6em;border-radius:1em;background:#567}
#state.running,#state.homing{background:#2a7a3b}
#state.paused{background:#b8860b}
#state.recovering{background:#c66a00}
#state.finished{background:#245a9e}
#state.failed,#state.stopped{background:#b22}
button{font:inherit;padding:.45em 1.1em;border:0;border-radius:.3em;cursor:pointer;background:#e3e6ea}
button:disabled{opacity:.4;cursor:default}
#stop{background:#c22;color:#fff}
main{display:grid;grid-template-columns:minmax(0,2fr) minmax(16em,1fr);gap:1em;padding:1em}
section{background:#fff;border-radius:.4em;padding:.8em;box-shadow:0 1px 2px #0002}
#line{font-family:ui-monospace,monospace;white-space:pre-wrap;word-break:break-all;min-height:1.4em}
progress{width:100%;height:1.2em}
main>div>section+section{margin-top:1em}
dl{display:grid;grid-template-columns:auto 1fr;gap:.2em .8em;margin:.6em 0 0}
dt{color:#667}
dd{margin:0;word-break:break-word}
#toolpath svg{width:100%;height:auto;max-height:70vh;display:block}
#toolpath polyline.path{fill:none;stroke:#aab4c0;stroke-width:1.5px;vector-effect:non-scaling-stroke}
#toolpath polyline.path.cut{stroke:#d0342c;stroke-width:2.5px}
#tool{fill:#1e6fd9;stroke:#fff;stroke-width:1.5px;vector-effect:non-scaling-stroke}
#messages{margin:0;padding-left:1.2em;max-height:40vh;overflow:auto;font-size:.9em}
#notice:empty{display:none}
#notice{margin:0 1em;padding:.5em .8em;border-radius:.3em;background:#fff3cd}
@media (max-width:700px){main{grid-template-columns:1fr}header h1{flex-basis:100%}}
</style>
</head>
<body>
<header>
<h1>millstation</h1>
<span id="state">homing</span>
<button id="pause" type="button">Pause</button>
<button id="continue" type="button" disabled>Continue</button>
<button id="stop" type="button">Stop</button>
</header>
<p id="notice" role="status"></p>
<main>
<div>
<section>
<div id="line">&#8212;</div>
<progress id="progress" max="1" value="0"></progress>
<dl>
<dt>Commands</dt><dd id="count">0 / 0</dd>
<dt>Elapsed</dt><dd id="elapsed">0:00:00</dd>
<dt>Remaining</dt><dd id="remaining">&#8212;</dd>
<dt>Recoveries</dt><dd id="recoveries">0</dd>
<dt>Position</dt><dd id="position">x 0, y 0, z 0 steps</dd>
</dl>
</section>
<section id="toolpath" aria-label="toolpath"></section>
</div>
<section><h2 style="font-size:1em;margin:0 0 .4em">Messages</h2><ol id="messages" reversed></ol></section>
</main>
<script>
"use strict";
const token = new URLSearchParams(location.search).get("token") || "";
const $ = (id) => document.getElementById(id);
const live = ["homing", "running", "recovering"];
let ended = false, pausePending = false, lastMessage = 0, pieces = [], cutUpTo = 0;
let view = null, tool = null, state = "homing", stopArmed = null;

function clock(s) {
  s = Math.max(0, Math.round(s));
  const h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60, r = s % 60;
  return h + ":" + String(m).padStart(2, "0") + ":" + String(r).padStart(2, "0");
}
function notice(text) { $("notice").textContent = text; }
function buttons() {
  $("pause").disabled = ended || pausePending || !live.includes(state);
  $("continue").disabled = ended || !(state === "paused" || pausePending);
  $("stop").disabled = ended;
}
function drawCut(done) {
  if (done < cutUpTo) { pieces.forEach((p) => p.el.classList.remove("cut")); cutUpTo = 0; }
  for (const p of pieces) if (p.n <= done && p.n >= cutUpTo) p.el.classList.add("cut");
  cutUpTo = done;
}
function moveTool(pos) {
  if (!view || !tool) return;
  const m = view.map;
  tool.setAttribute("cx", m[0] + m[2] * pos.x);
  tool.setAttribute("cy", m[1] + m[3] * pos.y);
}
function render(s) {
  state = s.state;
  if (state === "paused") pausePending = false;
  $("state").textContent = s.state;
  $("state").className = s.state;
  $("line").textContent = s.file ? s.file + ":" + s.line + "  " + s.text : "\u2014";
  $("progress").max = Math.max(1, s.commands_total);
  $("progress").value = Math.min(s.commands, Math.max(1, s.commands_total));
  $("count").textContent = s.commands + " / " + s.commands_total;
  $("elapsed").textContent = clock(s.elapsed_s);
  $("remaining").textContent = s.ended ? clock(0) : clock(s.remaining_s);
  $("recoveries").textContent = s.recoveries + (s.last_recovery ? " \u2014 last: " + s.last_recovery : "");
  $("position").textContent = "x " + s.position.x + ", y " + s.position.y + ", z " + s.position.z + " steps";
  drawCut(s.commands);
  moveTool(s.position);
  if (s.ended) finish(s.state, s.exit_code);
  buttons();
}
function finish(st, code) {
  ended = true;
  notice("The job has ended: " + st + ", exit code " + code + ".");
}
function addMessage(id, text) {
  if (id && id <= lastMessage) return;
  if (id) lastMessage = id;
  const li = document.createElement("li");
  li.textContent = text;
  const list = $("messages");
  list.insertBefore(li, list.firstChild);
  while (list.children.length > 5000) list.removeChild(list.lastChild);
}
async function loadToolpath() {
  const r = await fetch("/api/toolpath?token=" + encodeURIComponent(token));
  if (!r.ok) return;
  const doc = new DOMParser().parseFromString(await r.text(), "image/svg+xml");
  const svg = doc.documentElement;
  if (svg.nodeName !== "svg") return;
  svg.querySelectorAll("script,foreignObject").forEach((e) => e.remove());
  const root = $("toolpath").appendChild(document.importNode(svg, true));
  pieces = Array.from(root.querySelectorAll("polyline.path"), (el) =>
    ({ el: el, n: Number(el.getAttribute("data-command")) }));
  const top = root.querySelector('g.view[data-view="top"]');
  if (top) {
    view = { map: (top.getAttribute("data-map") || "0 0 1 1").split(/\s+/).map(Number) };
    const box = root.viewBox && root.viewBox.baseVal;
    tool = document.createElementNS("http://www.w3.org/2000/svg", "circle");
    tool.id = "tool";
    tool.setAttribute("r", box && box.width ? Math.max(box.width, box.height) / 90 : 4);
    top.appendChild(tool);
  }
  cutUpTo = 0;
}
function follow() {
  const events = new EventSource("/api/events?token=" + encodeURIComponent(token));
  events.addEventListener("status", (e) => { render(JSON.parse(e.data)); notice(ended ? $("notice").textContent : ""); });
  events.addEventListener("message", (e) => addMessage(Number(e.lastEventId), e.data));
  events.addEventListener("end", (e) => { const d = JSON.parse(e.data); finish(d.state, d.exit_code); events.close(); buttons(); });
  events.onerror = () => { if (!ended) notice("The connection to millstation was lost; trying again\u2026"); };
}
async function control(what) {
  const r = await fetch("/api/" + what, { method: "POST", headers: { Authorization: "Bearer " + token } });
  if (r.status === 401) { notice("The token is missing or wrong."); return false; }
  const s = await r.json();
  render(s);
  if (r.status === 409) notice("Not possible now: the job is " + s.state + (s.ended ? " (ended)" : "") + ".");
  return r.ok;
}
$("pause").onclick = async () => { if (await control("pause")) { pausePending = state !== "paused"; buttons(); } };
$("continue").onclick = async () => { if (await control("continue")) { pausePending = false; buttons(); } };
$("stop").onclick = () => {
  if (!stopArmed) {
    $("stop").textContent = "Really stop?";
    stopArmed = setTimeout(() => { stopArmed = null; $("stop").textContent = "Stop"; }, 3000);
    return;
  }
  clearTimeout(stopArmed); stopArmed = null; $("stop").textContent = "Stop";
  control("stop");
};
(async () => {
  const r = await fetch("/api/status?token=" + encodeURIComponent(token));
  if (r.status === 401) { notice("The token is missing or wrong: open the address millstation printed."); ended = true; buttons(); return; }
  await loadToolpath().catch(() => {});
  if (r.ok) render(await r.json());
  follow();
})().catch(() => notice("millstation does not answer."));
</script>
</body>
</html>
)PAGE";

}  // namespace

const char* station_page_html() { return page; }
