// The side-by-side browser report: drives headless Chromium through the report page
// (bench.html), one tracker at a time on the same decoded franck frames, scores the points
// against the franck annotations and writes a Markdown table and an SVG chart.
//
// Usage (scripts/web_report.sh sets it up):
//   node tools/web_report/report.mjs --url http://127.0.0.1:PORT/ --frames N
//        [--annotations DIR] [--trackers a,b,...] [--native-jsonl FILE] [--out-md FILE] [--out-svg FILE]
//        [--screenshot FILE] [--chromium PATH] [--backend wasm|cpu] [--per-point]
// --native-jsonl: the per-frame records of the command-line tracker (`kestavo --jsonl`) on
// the same video, scored the same way and added as a row (its time: kvo_update plus the
// getters, host clock). Per-frame times in the browser are the tracker call alone, with
// Kestavo's the `update` and the points getter (the frame's fetch and canvas draw are
// outside the timing).
//
// Thread safety: one Node process; pages run one after the other.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { LAYOUTS, SHARED13, frameError, parseAnnotations, quantile, mean } from './layouts.mjs';
import { renderChart, LABELS } from './chart.mjs';

const ANNOTATED_FRAMES = 2400;
const CHUNK = 200;

function parseArgs(argv) {
  const o = {
    url: null, frames: 4800, annotations: null, native: null, chromium: '/usr/bin/chromium',
    trackers: ['kestavo-threads', 'kestavo-single', 'clmtrackr', 'face-api'],
    outMd: null, outSvg: null, screenshot: null, backend: 'wasm',
  };
  for (let i = 0; i < argv.length; ++i) {
    const a = argv[i];
    const v = () => argv[++i];
    if (a === '--url') o.url = v();
    else if (a === '--frames') o.frames = Number(v());
    else if (a === '--annotations') o.annotations = v();
    else if (a === '--trackers') o.trackers = v().split(',').filter(Boolean);
    else if (a === '--native-jsonl') o.native = v();
    else if (a === '--out-md') o.outMd = v();
    else if (a === '--out-svg') o.outSvg = v();
    else if (a === '--screenshot') o.screenshot = v();
    else if (a === '--chromium') o.chromium = v();
    else if (a === '--backend') o.backend = v();
    else if (a === '--per-point') o.perPoint = true;
    else throw new Error(`unknown argument ${a}`);
  }
  if (!o.url) throw new Error('--url is required');
  if (!(o.frames > 0)) throw new Error('--frames wants a positive number');
  return o;
}

function loadPuppeteer() {
  const cache = process.env.KVO_WEB_NPM || path.resolve(import.meta.dirname, '../../.cache/web/npm');
  const require = createRequire(path.join(cache, 'package.json'));
  return require('puppeteer-core');
}

export function launchOptions(chromium, extraArgs = []) {
  return {
    executablePath: chromium,
    headless: true,
    protocolTimeout: 600_000,
    args: [
      // Root in a container has no user namespace for Chromium's sandbox.
      ...(process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : []),
      // WebGL on this machine is the software rasteriser; allow it instead of none.
      '--enable-unsafe-swiftshader',
      ...extraArgs,
    ],
  };
}

// Runs one tracker over frames [0, n) and returns its per-frame results.
async function runTracker(browser, url, name, n, backend) {
  const page = await browser.newPage();
  const lines = [];
  page.on('console', (m) => lines.push(m.text()));
  page.on('pageerror', (e) => lines.push(`pageerror: ${e.message}`));
  const q = new URLSearchParams({ tracker: name });
  if (name === 'face-api') q.set('backend', backend);
  await page.goto(new URL(`/bench/bench.html?${q}`, url).href);
  const info = await page.evaluate(() => window.benchReady);
  if (info.error) throw new Error(`${name}: ${info.error}\n${lines.join('\n')}`);
  const total = Math.min(n, info.frames);
  const times = [], faces = [], points = [], updateTimes = [];
  const t0 = Date.now();
  for (let from = 0; from < total; from += CHUNK) {
    const r = await page.evaluate((a, b) => window.runFrames(a, b), from, Math.min(total, from + CHUNK));
    times.push(...r.times);
    faces.push(...r.faces);
    points.push(...r.points);
    if (r.updateTimes) updateTimes.push(...r.updateTimes);
    process.stderr.write(`\r${name}: ${times.length}/${total} frames`);
  }
  process.stderr.write(`  (${((Date.now() - t0) / 1000).toFixed(0)} s)\n`);
  info.startup = await page.evaluate(() => window.benchStartup());
  await page.close();
  return { name, info, times, faces, points, updateTimes, console: lines };
}

// The command-line tracker's records as a run: its time is kvo_update plus the getters;
// a frame has a face when a shape search ran on it (start phase included), as in the page.
function nativeRun(file, n) {
  const times = [], faces = [], points = [], updateTimes = [];
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    if (!line.trim() || times.length >= n) continue;
    const r = JSON.parse(line);
    times.push(r.update_ms + r.getters_ms);
    updateTimes.push(r.update_ms);
    const face = r.state === 'state_face_tracking' || r.state === 'state_face_tracking_start';
    faces.push(face && r.landmarks ? 1 : 0);
    points.push(face && r.landmarks ? r.landmarks.flat() : null);
  }
  return {
    name: 'kestavo-native', times, faces, points, updateTimes,
    info: { description: 'Kestavo native (libKestavo.so through the stand-in host, `kestavo --jsonl`), the library\'s default settings' },
  };
}

// The table figures of one run.
function summarise(run, annotations) {
  const layout = LAYOUTS[run.name];
  const n = run.times.length;
  const faceCount = run.faces.reduce((a, b) => a + b, 0);
  const e13 = [], eOwn = [];
  let scored = 0;
  if (annotations) {
    for (let i = 0; i < Math.min(n, ANNOTATED_FRAMES); ++i) {
      const ann = annotations.get(i);
      if (!ann || !run.faces[i] || !run.points[i]) continue;
      ++scored;
      e13.push(frameError(run.points[i], layout.fromOurs, ann, SHARED13));
      eOwn.push(frameError(run.points[i], layout.fromOurs, ann, layout.own));
    }
  }
  return {
    name: run.name,
    description: run.info.description,
    frames: n,
    medianMs: quantile(run.times, 0.5),
    p95Ms: quantile(run.times, 0.95),
    updateMedianMs: quantile(run.updateTimes || [], 0.5),
    faceShare: faceCount / n,
    scored,
    e13Mean: mean(e13),
    e13Median: quantile(e13, 0.5),
    ownMean: mean(eOwn),
    ownName: layout.ownName,
    startup: run.info.startup,
  };
}

// Each shared point's mean error (a check of the layout mapping: a wrong pairing stands out).
function perPointLine(run, annotations) {
  const layout = LAYOUTS[run.name];
  const parts = [];
  for (const p of layout.own) {
    const e = [];
    for (let i = 0; i < Math.min(run.times.length, ANNOTATED_FRAMES); ++i) {
      const ann = annotations.get(i);
      if (ann && run.points[i]) e.push(frameError(run.points[i], layout.fromOurs, ann, [p]));
    }
    parts.push(`${p}:${mean(e).toFixed(3)}`);
  }
  return `${run.name} per point (ours:error): ${parts.join(' ')}`;
}

const f = (v, d) => (Number.isFinite(v) ? v.toFixed(d) : '—');

export function markdownTable(rows, frames, annotated) {
  const ref = rows.find((r) => r.name === 'clmtrackr');
  const out = [
    `| Tracker (what runs: below the table) | per-frame ms, median | p95 | frames with a face (of ${frames}) | error on the 13 shared points, mean / median (${annotated ? 'first 2,400 frames' : 'no annotations given'}) | error on the points it shares with ours, mean | frame rate vs clmtrackr |`,
    '|---|---:|---:|---:|---:|---:|---:|',
  ];
  for (const r of rows) {
    const speed = ref && r !== ref && Number.isFinite(r.medianMs) ? `${f(ref.medianMs / r.medianMs, 2)}×` : '—';
    out.push(`| ${LABELS[r.name] || r.name} | ${f(r.medianMs, 2)} | ${f(r.p95Ms, 2)} | ${f(100 * r.faceShare, 1)} % | ` +
      `${f(r.e13Mean, 4)} / ${f(r.e13Median, 4)} (${r.scored} frames) | ${f(r.ownMean, 4)} (${r.ownName}) | ${speed} |`);
  }
  return out.join('\n');
}

async function main() {
  const o = parseArgs(process.argv.slice(2));
  const annotations = o.annotations
    ? parseAnnotations(fs.readFileSync(path.join(o.annotations, 'franck_0000-2399.txt'), 'utf8'))
    : null;
  const puppeteer = loadPuppeteer();
  const browser = await puppeteer.launch(launchOptions(o.chromium));
  const version = await browser.version();
  const rows = [];
  try {
    for (const name of o.trackers) {
      const run = await runTracker(browser, o.url, name, o.frames, o.backend);
      const row = summarise(run, annotations);
      rows.push(row);
      if (o.perPoint && annotations) console.error(perPointLine(run, annotations));
      if (run.info.errors && run.info.errors.length) console.error(`${name} reported: ${run.info.errors.join(' | ')}`);
    }
    if (o.native) rows.push(summarise(nativeRun(o.native, o.frames), annotations));
    if (o.screenshot) {
      const page = await browser.newPage();
      await page.setViewport({ width: 960, height: 640 });
      await page.goto(new URL('/?video=/media/franck.webm&autoplay=1', o.url).href);
      await page.waitForFunction(() => window.kvoPage && window.kvoPage.counters.tracking >= 60, { timeout: 60_000 });
      await page.screenshot({ path: o.screenshot });
      await page.close();
    }
  } finally {
    await browser.close();
  }
  const table = markdownTable(rows, Math.min(...rows.map((r) => r.frames)), !!annotations);
  const native = rows.find((r) => r.name === 'kestavo-native');
  const ratios = native ? rows.filter((r) => r.name.startsWith('kestavo-') && r !== native).map((r) =>
    `${r.name}: kvo_update median ${f(r.updateMedianMs, 2)} ms = ${f(r.updateMedianMs / native.updateMedianMs, 2)}× native's ${f(native.updateMedianMs, 2)} ms`) : [];
  const startup = rows.filter((r) => r.startup).map((r) =>
    `${r.name}: module create ${f(r.startup.createMs, 1)} ms` +
    (Number.isFinite(r.startup.loadMs) ? ` (load ${f(r.startup.loadMs, 1)} ms)` : '') +
    (Number.isFinite(r.startup.initMs) ? `, kvo_init ${f(r.startup.initMs, 1)} ms` : ''));
  const md = [
    `Browser: ${version}, headless, on the shared 2-core machine; the same decoded franck frames (360 × 288 RGBA) handed one at a time to each tracker in the same browser run.`,
    '',
    table,
    '',
    ...(startup.length ? [`Start-up: ${startup.join('; ')}.`, ''] : []),
    ...(ratios.length ? [`WebAssembly against native, same frames: ${ratios.join('; ')}.`, ''] : []),
    ...rows.map((r) => `- ${r.name}: ${r.description}`),
    '',
  ].join('\n');
  console.log(md);
  if (o.outMd) fs.writeFileSync(o.outMd, md + '\n');
  if (o.outSvg) fs.writeFileSync(o.outSvg, renderChart(rows));
}

if (import.meta.url === `file://${process.argv[1]}`) {
  main().catch((e) => {
    console.log(`Error: ${e.message}`);
    process.exit(1);
  });
}
