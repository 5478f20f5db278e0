// millstation's page in headless Chromium, on the simulator: the marker
// moves, the progress advances, Pause holds the commands back, Continue
// finishes the job, and the state reads "finished". Prints the status
// latency: from a line's start in the run journal (its command goes out
// the moment the previous reply has come) to the page showing that line.
//
//   node station.test.mjs BUILD_DIR [--screenshot PATH]
//
// Exit 0 passed, 1 failed, 77 skipped (no Chromium, or puppeteer-core not
// installed: npm ci --prefix tests/browser).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createInterface } from 'node:readline';

const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const build = path.resolve(process.argv[2] || 'build');
const shotIndex = process.argv.indexOf('--screenshot');
const screenshot = shotIndex > 0 ? path.resolve(process.argv[shotIndex + 1]) : '';

if (!fs.existsSync(chromium)) {
  console.log(`SKIPPED: no Chromium at ${chromium}`);
  process.exit(77);
}
let puppeteer;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch {
  console.log('SKIPPED: puppeteer-core is not installed (npm ci --prefix tests/browser)');
  process.exit(77);
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'millstation-browser-'));
const children = [];
let browser = null;

function fail(why) {
  throw new Error(why);
}
/// Polls `test` every 20 ms for at most `ms`; fails with `what` after that.
async function until(test, ms, what) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    const value = await test();
    if (value) return value;
    await sleep(20);
  }
  fail(`timed out after ${ms} ms waiting for ${what}`);
}
function start(program, args, options = {}) {
  const child = spawn(program, args, { cwd: dir, stdio: ['ignore', 'pipe', 'pipe'], ...options });
  child.exited = new Promise((done) => child.on('exit', (code) => done(code)));
  child.errors = '';
  child.stderr.on('data', (d) => { child.errors += d; });
  children.push(child);
  return child;
}
async function exitCode(child, ms, what) {
  const code = await Promise.race([child.exited, sleep(ms).then(() => 'timeout')]);
  if (code === 'timeout') fail(`${what} did not exit within ${ms} ms`);
  return code;
}

// A small plate, demo-like: the header, a plunge, a zig-zag of 40 passes.
function writeJob() {
  const lines = ['set_work_surface_depth_below_top_of_z 2.11', 'N10 G20', 'N20 G90', 'N30 F8.0',
                 'N40 G00 Z2.0500', 'N50 G00 X0.3000 Y0.3000', 'N60 G01 Z2.0300'];
  let y = 0.3;
  for (let pass = 0; pass < 40; ++pass) {
    lines.push(`G01 X${pass % 2 ? '0.3000' : '0.6000'}`);
    y += 0.02;
    lines.push(`G01 Y${y.toFixed(4)}`);
  }
  lines.push('G00 Z2.0500', 'M30');
  fs.writeFileSync(path.join(dir, 'plate.nc'), lines.join('\n') + '\n');
  fs.writeFileSync(path.join(dir, 'plate_machine.nc'), 'open comm COM1\ninclude plate.nc\n');
}

/// Wall-clock time at which each "start" row of the journal was first seen.
function watchJournal() {
  const seen = new Map();
  let text = '';
  const file = path.join(dir, 'RunJournal.txt');
  const timer = setInterval(() => {
    let now;
    try { now = fs.readFileSync(file, 'utf8'); } catch { return; }
    if (now.length === text.length) return;
    const at = Date.now();
    for (const row of now.slice(text.length).split('\n')) {
      const m = /^start \d+ -?\d+ -?\d+ -?\d+ (.+:\d+)$/.exec(row);
      if (m && !seen.has(m[1])) seen.set(m[1], at);
    }
    text = now.slice(0, now.lastIndexOf('\n') + 1);
  }, 2);
  return { seen, rows: () => text.split('\n').length, stop: () => clearInterval(timer) };
}

async function main() {
  writeJob();
  const link = path.join(dir, 'ttyMILL1');
  const sim = start(path.join(build, 'sim', 'millsim'),
                    ['--link', link, '--ms-per-step', '2', '--transcript', path.join(dir, 'transcript.txt')]);
  await until(() => fs.existsSync(link), 10000, 'millsim');

  const station = start(path.join(build, 'millstation'),
                        ['plate_machine.nc', '--listen', '127.0.0.1:0', '--token', 'browser-test-token',
                         '--linger', '2'],
                        { env: { ...process.env, MILLRUN_COM1: link } });
  const first = await Promise.race([
    new Promise((done) => createInterface({ input: station.stdout }).once('line', done)),
    sleep(20000).then(() => '')]);
  const m = /^millstation: (http:\/\/127\.0\.0\.1:\d+\/\?token=browser-test-token)$/.exec(first);
  if (!m) fail(`unexpected first line from millstation: "${first}" ${station.errors}`);
  station.stdout.resume();
  const journal = watchJournal();

  browser = await puppeteer.launch({
    executablePath: chromium, headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', `--user-data-dir=${path.join(dir, 'profile')}`],
  });
  const page = await browser.newPage();
  const pageErrors = [];
  page.on('pageerror', (e) => pageErrors.push(e.message));
  await page.setViewport({ width: 1200, height: 900 });
  // Each time the page shows a new line, when (the page's own clock, the same wall clock).
  await page.evaluateOnNewDocument(() => {
    window.shown = [];
    document.addEventListener('DOMContentLoaded', () => {
      const line = document.getElementById('line');
      new MutationObserver(() => window.shown.push([line.textContent.split('  ')[0], Date.now()]))
        .observe(line, { childList: true, characterData: true, subtree: true });
    });
  });
  await page.goto(m[1]);
  await page.waitForSelector('#tool', { timeout: 10000 });
  const look = () => page.evaluate(() => ({
    state: document.getElementById('state').textContent,
    value: document.getElementById('progress').value,
    max: document.getElementById('progress').max,
    count: Number(document.getElementById('count').textContent.split(' / ')[0]),
    tool: document.getElementById('tool').getAttribute('cx') + ',' +
          document.getElementById('tool').getAttribute('cy'),
    cut: document.querySelectorAll('#toolpath polyline.path.cut').length,
  }));

  // The marker moves and the progress advances while the job runs.
  const early = await until(async () => { const s = await look(); return s.state === 'running' && s.value > 0 && s; },
                            20000, 'the job to run');
  const later = await until(async () => { const s = await look(); return s.value >= early.value + 8 && s; },
                            20000, '#progress to advance');
  if (later.tool === early.tool) fail(`the marker did not move (${early.tool})`);
  if (screenshot) await page.screenshot({ path: screenshot });

  // Pause: once "paused", no command goes out until Continue.
  await page.click('#pause');
  const paused = await until(async () => { const s = await look(); return s.state === 'paused' && s; },
                             10000, '#state to read paused');
  const rowsAtPause = journal.rows();
  await sleep(1000);
  const held = await look();
  if (journal.rows() !== rowsAtPause || held.value !== paused.value)
    fail(`commands went out while paused (journal rows ${rowsAtPause} -> ${journal.rows()}, ` +
         `progress ${paused.value} -> ${held.value})`);

  // Continue finishes the job.
  await page.click('#continue');
  const done = await until(async () => { const s = await look(); return s.state === 'finished' && s; },
                           60000, '#state to read finished');
  if (done.value !== done.max) fail(`#progress ends at ${done.value} of ${done.max}`);
  if (pageErrors.length) fail(`errors on the page: ${pageErrors.join('; ')}`);

  // The status latency, from each line's start to the page showing it.
  const shown = await page.evaluate(() => window.shown);
  // Status events are at most ten a second: a line that starts less than
  // 100 ms after the one before may wait for the next slot. Lines that start
  // later show the latency itself.
  const starts = [...journal.seen.entries()].sort((a, b) => a[1] - b[1]);
  const free = new Set(starts.filter((s, i) => i > 0 && s[1] - starts[i - 1][1] >= 150).map((s) => s[0]));
  const latencies = [], freeLatencies = [];
  const counted = new Set();  // the page redraws a line on each status: its first showing counts
  for (const [where, at] of shown) {
    if (!journal.seen.has(where) || counted.has(where)) continue;
    counted.add(where);
    latencies.push(at - journal.seen.get(where));
    if (free.has(where)) freeLatencies.push(at - journal.seen.get(where));
  }
  journal.stop();
  await browser.close();
  browser = null;

  const code = await exitCode(station, 15000, 'millstation');
  if (code !== 0) fail(`millstation exited with ${code}: ${station.errors}`);
  sim.kill('SIGTERM');
  await exitCode(sim, 10000, 'millsim');
  // The machine received every command the page counted, once.
  const received = fs.readFileSync(path.join(dir, 'transcript.txt'), 'utf8')
    .split('\n').filter((row) => row.startsWith('cmd: ')).length;
  if (received !== done.count) fail(`the simulator received ${received} commands, the page counted ${done.count}`);

  const median = (list) => list.sort((a, b) => a - b)[Math.floor(list.length / 2)];
  if (freeLatencies.length < 10) fail(`only ${freeLatencies.length} lines were timed both in the journal and on the page`);
  console.log(`status latency: median ${median(freeLatencies)} ms over ${freeLatencies.length} lines; ` +
              `with the lines that waited for the ten-a-second bound, median ${median(latencies)} ms, ` +
              `max ${Math.max(...latencies)} ms over ${latencies.length} lines`);
  console.log(`passed: marker moved, progress advanced, pause held ${paused.value} commands for 1 s, ` +
              `continue finished ${done.count} commands, state finished`);
}

try {
  await main();
  fs.rmSync(dir, { recursive: true, force: true });
  process.exit(0);
} catch (e) {
  console.error(`FAILED: ${e.message}\n(files in ${dir})`);
  if (browser) await browser.close().catch(() => {});
  for (const child of children) if (child.exitCode === null) child.kill('SIGKILL');
  process.exit(1);
}
