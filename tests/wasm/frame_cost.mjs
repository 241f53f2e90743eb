// The module's cost per frame from JavaScript, in Node (single-threaded), for two builds
// of the package side by side: each package's update() plus the points getter, the first
// one's update() with the getters the live page used to call each frame, and the second's
// track() (the whole per-frame result), in alternating rounds on the same decoded franck
// frames, so that the machine's load falls on all of them alike; the median of each
// round's first and last tenth shows whether the cost grows with the calls made. Also the
// download of each (gzip -9 of what a page fetches). Not a ctest: run by hand.
//
// Usage: node frame_cost.mjs --before DIR --after DIR --video franck.mp4 [--frames 300] [--rounds 5]
import { readFileSync, rmSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { gzipSync } from 'node:zlib';
import { decodeFrames, frameOf, parseArgs } from './common.mjs';

const args = parseArgs(process.argv.slice(2));
const count = Number(args.frames || 300), rounds = Number(args.rounds || 5);
const frames = decodeFrames(args.video, 360, 288, count);
const median = (v) => { const s = [...v].sort((a, b) => a - b); return s[Math.floor(s.length / 2)]; };
const p95 = (v) => { const s = [...v].sort((a, b) => a - b); return s[Math.min(s.length - 1, Math.ceil(0.95 * s.length) - 1)]; };

async function tracker(dir) {
  const { createKestavo } = await import(pathToFileURL(resolve(dir, 'kestavo.mjs')).href);
  return createKestavo({ threads: false, onError: () => {}, onPrint: () => {} });
}

// What the page read from each tracked frame before track() gave it all.
const PAGE_GETTERS = ['kvo_get_faceShape_points', 'kvo_get_faceShape_bounds', 'kvo_get_faceShape_candideShapeVertices',
  'kvo_get_faceShape_scale', 'kvo_get_faceShape_translationX', 'kvo_get_faceShape_translationY',
  'kvo_get_faceShape_rotationX', 'kvo_get_faceShape_rotationY', 'kvo_get_faceShape_rotationZ'];

const runs = {
  'before: update + points': { dir: args.before, step: (k, f) => { const s = k.update(f); if (s === 'state_face_tracking') k.call('kvo_get_faceShape_points'); } },
  'after: update + points': { dir: args.after, step: (k, f) => { const s = k.update(f); if (s === 'state_face_tracking') k.call('kvo_get_faceShape_points'); } },
  'before: update + the page\'s getters': { dir: args.before, step: (k, f) => {
    if (k.update(f) !== 'state_face_tracking') return;
    for (const g of PAGE_GETTERS) k.call(g);
  } },
  'after: track (the whole result)': { dir: args.after, step: (k, f) => k.track(f) },
};
const times = Object.fromEntries(Object.keys(runs).map((n) => [n, []]));
const tenths = Object.fromEntries(Object.keys(runs).map((n) => [n, { first: [], last: [] }]));
try {
  for (let r = 0; r < rounds; ++r) {
    for (const [name, run] of Object.entries(runs)) {
      const kvo = await tracker(run.dir);
      kvo.init(frameOf(frames, 0));
      for (let i = 0; i < frames.count; ++i) {
        const f = frameOf(frames, i);
        const t0 = performance.now();
        run.step(kvo, f);
        const ms = performance.now() - t0;
        times[name].push(ms);
        if (i < frames.count / 10) tenths[name].first.push(ms);
        if (i >= frames.count - frames.count / 10) tenths[name].last.push(ms);
      }
      kvo.dispose();
    }
  }
  console.log(`${frames.count} franck frames (360 x 288) x ${rounds} alternating rounds, Node ${process.version}, single-threaded module`);
  for (const [name, t] of Object.entries(times)) {
    console.log(`  ${name.padEnd(36)} median ${median(t).toFixed(3)} ms, p95 ${p95(t).toFixed(3)} ms; ` +
      `first tenth ${median(tenths[name].first).toFixed(3)} ms, last tenth ${median(tenths[name].last).toFixed(3)} ms`);
  }
  const gz = (dir, f) => { try { return gzipSync(readFileSync(join(dir, f)), { level: 9 }).length; } catch { return 0; } };
  for (const [label, dir] of [['before', args.before], ['after', args.after]]) {
    const js = ['kestavo.mjs', 'draw.mjs'].map((f) => gz(dir, f)).reduce((a, b) => a + b);
    const threads = js + ['kestavo-threads.js', 'kestavo-threads.wasm', 'kestavo-threads.worker.js'].map((f) => gz(dir, f)).reduce((a, b) => a + b);
    const single = js + ['kestavo-single.js', 'kestavo-single.wasm'].map((f) => gz(dir, f)).reduce((a, b) => a + b);
    console.log(`  download ${label.padEnd(6)} (gzip -9): threaded ${threads} B, single ${single} B (of which the API's JavaScript ${js} B)`);
  }
} finally {
  rmSync(frames.dir, { recursive: true, force: true });
}
