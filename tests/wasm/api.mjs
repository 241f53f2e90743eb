// The JavaScript API's contract, as a page uses it: plain values back from every getter,
// setters that say whether they were taken, the per-frame result of track(), the module
// Node gets, and for each misuse one "Error:" line, a null (or, from a setter, false)
// result, no exception, and a tracker that carries on as before. Also the package itself:
// npm can pack it with its typings, and its download fits the size budget.
//
// Usage: node api.mjs --package DIR --video franck.mp4
import { execFileSync } from 'node:child_process';
import { readFileSync, rmSync } from 'node:fs';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { Checks, decodeFrames, frameOf, loadPackage, parseArgs } from './common.mjs';

const args = parseArgs(process.argv.slice(2));
const { createKestavo } = await loadPackage(args.package);
const frames = decodeFrames(args.video, 360, 288, 40);
const checks = new Checks();
const errors = [];
const kvo = await createKestavo({ threads: false, onError: (l) => errors.push(l), onPrint: () => {} });

// Runs `what`, which must give exactly one error line and `expected` (null, or false for a
// setter), without throwing.
function misuse(description, what, expected = null) {
  const before = errors.length;
  let result, threw = null;
  try { result = what(); } catch (e) { threw = e; }
  const lines = errors.slice(before);
  checks.check(threw === null && result === expected && lines.length === 1 && lines[0].startsWith('Error: '),
               `${description}: one error line, ${expected}, no exception` + (result !== expected ? ` (gave ${result})` : '') +
               (threw ? ` (threw ${threw})` : lines.length !== 1 ? ` (${lines.length} lines)` : ` — ${lines[0]}`));
}

try {
  checks.check(kvo.names.length === 36 && kvo.names[0] === 'kvo_init' && kvo.names.includes('kvo_get_faceShape_points'),
               `the 36 named functions by name (${kvo.names.length})`);
  checks.check(kvo.threaded === false, 'threads: false loads the single-threaded module');

  // Node gets the single-threaded module by default; threads: true, which cannot run in
  // Node, is refused with one clear message, and so is a value that means nothing.
  const auto = await createKestavo({ onError: (l) => errors.push(l), onPrint: () => {} });
  checks.check(auto.threaded === false, "threads 'auto' (the default) in Node loads the single-threaded module");
  auto.dispose();
  for (const [label, opts, pattern] of [
    ['threads: true', { threads: true }, /^Error: threads: true .*cannot run here: Node has no web workers/],
    ["threads: 'yes'", { threads: 'yes' }, /^Error: threads must be 'auto', true or false/],
  ]) {
    let rejected = null;
    try { await createKestavo({ ...opts, onError: (l) => errors.push(l), onPrint: () => {} }); } catch (e) { rejected = e; }
    const text = rejected ? String(rejected.message) : '';
    // Printed (String(e), or an uncaught stack's first line) it is the same one line.
    checks.check(rejected instanceof Error && pattern.test(text) && !text.includes('\n') && text.length < 400 &&
                 !(rejected instanceof ReferenceError) && String(rejected) === text && rejected.stack.startsWith(`${text}\n`),
                 `${label} in Node rejects with one clear line (${text})`);
  }

  // Before init.
  misuse('update before init', () => kvo.update(frameOf(frames, 0)));
  misuse('updateByEyes before init', () => kvo.updateByEyes(frameOf(frames, 0), { x: 150, y: 150 }, { x: 200, y: 150 }));

  // Bad frames for init.
  misuse('update without a frame before init', () => kvo.update());
  misuse('the face points before any frame', () => kvo.call('kvo_get_faceShape_points'));
  misuse('init with a buffer of the wrong length', () => kvo.init({ width: 360, height: 288, data: new Uint8Array(100) }), false);
  misuse('init with a frame that is no frame', () => kvo.init({ width: 360 }), false);
  misuse('init with a negative size', () => kvo.init({ width: -4, height: 288, data: new Uint8Array(0) }), false);
  misuse('init with a region that is no rectangle', () => kvo.init(frameOf(frames, 0), { x: 1 }), false);
  const moved = new ArrayBuffer(360 * 288 * 4);
  const detachedView = new Uint8Array(moved);
  structuredClone(moved, { transfer: [moved] });
  misuse('init with a detached buffer', () => kvo.init({ width: 360, height: 288, data: detachedView }), false);
  misuse('init with pixels in a Float32Array', () => kvo.init({ width: 2, height: 2, data: new Float32Array(16) }), false);

  // A good start, then misuse between good frames: the track must carry on.
  checks.check(kvo.init(frameOf(frames, 0)) === true, 'init with the first frame');
  let state = null;
  for (let i = 0; i < 20; ++i) state = kvo.update(frameOf(frames, i));
  checks.check(state === 'state_face_tracking', `tracking after 20 frames (${state})`);
  const before = kvo.call('kvo_get_faceShape_points');

  misuse('init a second time', () => kvo.init(frameOf(frames, 1)), false);
  misuse('kvo_init a second time through call()', () => kvo.call('kvo_init', frameOf(frames, 1)), false);
  misuse('update without a frame', () => kvo.update());
  misuse('kvo_update without a frame through call()', () => kvo.call('kvo_update'));
  misuse('track with something that is no frame', () => kvo.track({ width: 360, height: 288 }));
  misuse('track with a frame of another size', () => kvo.track({ width: 8, height: 8, data: new Uint8Array(256) }));
  misuse('update with a frame of another size', () => kvo.update({ width: 10, height: 10, data: new Uint8Array(400) }));
  misuse('update with a detached buffer', () => {
    const b = new ArrayBuffer(360 * 288 * 4); const v = new Uint8Array(b);
    structuredClone(b, { transfer: [b] });
    return kvo.update({ width: 360, height: 288, data: v });
  });
  misuse('an unknown function name', () => kvo.call('kvo_doesNotExist'));
  misuse('a name that is not a string', () => kvo.call(42));
  misuse('an argument that cannot be passed (a function)', () => kvo.call('kvo_set_mode', () => 1), false);
  misuse('a setter the library refuses (an unknown mode)', () => kvo.call('kvo_set_mode', 'mode_no_such_mode'), false);
  misuse('start in Node (no animation frames)', () => kvo.start(frameOf(frames, 2), () => {}), false);
  misuse('draw on something that is no canvas', () => kvo.draw({}, { state: 'state_face_tracking' }), false);
  misuse('two frames in one call', () => kvo.call('kvo_update', frameOf(frames, 2), frameOf(frames, 3)));

  const after = kvo.call('kvo_get_faceShape_points');
  checks.check(JSON.stringify(after) === JSON.stringify(before), 'the misuse left the landmarks as they were');
  checks.check(kvo.call('kvo_get_state') === 'state_face_tracking', 'and the state');
  for (let i = 20; i < 40; ++i) state = kvo.update(frameOf(frames, i));
  checks.check(state === 'state_face_tracking', `the track carries on after the misuse (${state})`);

  // The library's own checks reach the same callback.
  const libBefore = errors.length;
  const r = kvo.call('kvo_setFaceTrackingVars', 4, 0.5, 4, 7);
  checks.check(errors.length === libBefore + 1 && errors.at(-1).startsWith('Error: kvo_setFaceTrackingVars'),
               `the library's own error lines reach onError (${errors.at(-1)})`);
  checks.check(r === false, 'a setter the library refused returns false');
  const takenBefore = errors.length;
  const taken = [kvo.call('kvo_setFaceTrackingVars', 50, 500, 1, 2), kvo.call('kvo_set_candideEnabled', true),
                 kvo.call('kvo_setFaceDetectionVars', 4, 0.5, 12, 0.04, 12, false)];
  checks.check(taken.every((v) => v === true) && errors.length === takenBefore,
               `setters the library takes return true, with no error line (${taken.join(', ')})`);
  checks.check(kvo.stop() === false && errors.length === takenBefore, 'stop() with no loop running: false, no line');

  // Plain values from the getters.
  const points = kvo.call('kvo_get_faceShape_points');
  checks.check(Array.isArray(points) && points.length === 68 &&
               points.every((p) => Number.isFinite(p.x) && Number.isFinite(p.y) && p.x > 0 && p.x < 360 && p.y > 0 && p.y < 288),
               '68 landmarks as {x, y} inside the frame');
  const bounds = kvo.call('kvo_get_faceShape_bounds');
  checks.check(bounds && bounds.width > 40 && bounds.height > 40 && bounds.x >= 0, `the bounds as a rectangle (${JSON.stringify(bounds)})`);
  const tris = kvo.call('kvo_get_faceShape_candideShapeTriangles');
  const verts = kvo.call('kvo_get_faceShape_candideShapeVertices');
  // Vertices come flat, x then y of each, in frame pixels.
  const vertexCount = verts.length / 2;
  checks.check(Array.isArray(tris) && tris.length > 0 && tris.length % 3 === 0 && tris.every(Number.isInteger) &&
               Array.isArray(verts) && verts.length % 2 === 0 && verts.every(Number.isFinite) &&
               tris.every((t) => t >= 0 && t < vertexCount),
               `the Candide mesh: ${tris.length / 3} triangles over ${vertexCount} vertices`);
  const pose = ['rotationX', 'rotationY', 'rotationZ', 'translationX', 'translationY', 'scale']
    .map((n) => kvo.call(`kvo_get_faceShape_${n}`));
  checks.check(pose.every(Number.isFinite), `the pose as numbers (${pose.map((v) => v.toFixed(3)).join(', ')})`);
  checks.check(kvo.call('kvo_get_mode') === 'mode_face_tracking' && typeof kvo.call('kvo_get_candideEnabled') === 'boolean',
               'the mode as a string, a switch as a boolean');

  // The per-frame result: the same values as the getters, with units as documented.
  const result = kvo.track(frameOf(frames, 39));
  checks.check(result !== null && result.state === 'state_face_tracking' && result.tracked === true && result.confirmed === true,
               `track(): a tracked frame's result (${result && result.state})`);
  checks.check(JSON.stringify(result.points) === JSON.stringify(kvo.call('kvo_get_faceShape_points')) &&
               result.points.length === 68 && JSON.stringify(result.bounds) === JSON.stringify(kvo.call('kvo_get_faceShape_bounds')),
               'track(): the 68 points and the bounds are the getters\' values');
  const p = result.pose;
  checks.check(p !== null && p.rotationX === kvo.call('kvo_get_faceShape_rotationX') && p.scale === kvo.call('kvo_get_faceShape_scale') &&
               Math.abs(p.rotationY) < Math.PI && p.translationX > 0 && p.translationX < 360 && p.translationY > 0 && p.translationY < 288,
               `track(): the pose, radians and frame pixels (${JSON.stringify(p)})`);
  checks.check(result.candide !== null && result.candide.triangles.length % 3 === 0 &&
               result.candide.vertices.length * 2 === kvo.call('kvo_get_faceShape_candideShapeVertices').length,
               `track(): the Candide mesh (${result.candide && result.candide.vertices.length} vertices)`);
  checks.check(result.score === null && result.width === 360 && result.height === 288 && result.updateMs > 0,
               'track(): no score (the library gives none), the frame size and the update time');
  // Without a face: no points, and the shape getters refuse.
  const grey = { width: 360, height: 288, data: new Uint8Array(360 * 288 * 4).fill(90) };
  kvo.call('kvo_reset');
  const none = kvo.track(grey);
  checks.check(none !== null && none.state === 'state_face_detection' && none.tracked === false && none.points === null &&
               none.bounds === null && none.pose === null && none.candide === null,
               `track() on a frame with no face: ${none && none.state}, no points, bounds or pose`);
  misuse('the face points with no face', () => kvo.call('kvo_get_faceShape_points'));
  misuse('the face bounds with no face', () => kvo.call('kvo_get_faceShape_bounds'));
  misuse('the pose with no face', () => kvo.call('kvo_get_faceShape_rotationY'));
  let again = null;
  for (let i = 0; i < 20; ++i) again = kvo.track(frameOf(frames, i));
  checks.check(again !== null && again.state === 'state_face_tracking' && again.points.length === 68,
               `track() finds the face again after the grey frame (${again && again.state})`);

  // A getter's cost does not grow with the calls made before it: each call's values are
  // freed at its end (the bridge once kept every filled vertex list, and a page reading the
  // mesh each frame got slower by the minute).
  const callMs = (name, n) => {
    const t = [];
    for (let i = 0; i < n; ++i) { const t0 = performance.now(); kvo.call(name); t.push(performance.now() - t0); }
    return t.sort((a, b) => a - b)[n >> 1];
  };
  const early = callMs('kvo_get_state', 301);
  for (let i = 0; i < 3000; ++i) kvo.call('kvo_get_faceShape_candideShapeVertices');
  const late = callMs('kvo_get_state', 301);
  checks.check(late < Math.max(5 * early, 0.05),
               `kvo_get_state after 3000 vertex lists read: median ${(1000 * late).toFixed(1)} µs, before them ${(1000 * early).toFixed(1)} µs`);

  // Point tracking through the same calls.
  kvo.call('kvo_set_mode', 'mode_point_tracking');
  kvo.call('kvo_addPointsToTrack', [{ x: 180, y: 150 }, { x: 190, y: 160 }], [true, true]);
  kvo.update(frameOf(frames, 39));
  const tracked = kvo.call('kvo_get_pointsToTrack');
  checks.check(Array.isArray(tracked) && tracked.length === 2 && tracked.every((p) => Number.isFinite(p.x)),
               `points added from JavaScript come back from the getter (${JSON.stringify(tracked)})`);

  kvo.dispose();
  misuse('a call after dispose', () => kvo.call('kvo_get_state'));

  // kvo_setFaceTrackingVars' fifth argument, the landmark refinement, reaches the library
  // through call(): two trackers on the same frames, one asking for it and one not. A
  // library without a refiner model refuses it with one error line about it, and the two
  // tracks are the same; one with a model takes it silently, and the points move.
  const refineErrors = [];
  const asked = await createKestavo({ threads: false, onError: (l) => refineErrors.push(l), onPrint: () => {} });
  const plain = await createKestavo({ threads: false, onError: (l) => refineErrors.push(l), onPrint: () => {} });
  asked.init(frameOf(frames, 0));
  plain.init(frameOf(frames, 0));
  plain.call('kvo_setFaceTrackingVars', 50, 500, 1, 2, false);
  checks.check(refineErrors.length === 0, `the refinement's false is taken silently (${refineErrors.join(' | ')})`);
  asked.call('kvo_setFaceTrackingVars', 50, 500, 1, 2, true);
  const refused = refineErrors.length === 1 && refineErrors[0].startsWith('Error: ') && /refine/.test(refineErrors[0]);
  checks.check(refineErrors.length === 0 || refused,
               `the refinement's true is taken or refused with one error line about it (${refineErrors.join(' | ')})`);
  let compared = 0, movedFrames = 0;
  for (let i = 0; i < 40; ++i) {
    const sa = asked.update(frameOf(frames, i)), sb = plain.update(frameOf(frames, i));
    if (sa !== 'state_face_tracking' || sb !== 'state_face_tracking') continue;
    compared += 1;
    if (JSON.stringify(asked.call('kvo_get_faceShape_points')) !== JSON.stringify(plain.call('kvo_get_faceShape_points'))) movedFrames += 1;
  }
  checks.check(compared >= 20, `both trackers tracked the frames compared (${compared})`);
  checks.check(refused ? movedFrames === 0 : movedFrames > 0,
               refused ? `refused (no refiner model): the points are the default search's on all ${compared} frames (${movedFrames} differ)`
                       : `taken: the points moved on ${movedFrames} of ${compared} tracked frames`);
  asked.dispose();
  plain.dispose();

  // The package: npm packs every file the API loads; the download fits the budget.
  const listing = JSON.parse(execFileSync('npm', ['pack', '--dry-run', '--json'], { cwd: args.package }).toString());
  const files = new Set(listing[0].files.map((f) => f.path));
  const needed = ['package.json', 'kestavo.mjs', 'kestavo.d.ts', 'draw.mjs', 'README.md', 'kestavo-single.js', 'kestavo-single.wasm', 'kestavo-threads.js',
                  'kestavo-threads.wasm', 'kestavo-threads.worker.js'];
  checks.check(needed.every((f) => files.has(f)), `npm pack holds ${needed.join(', ')}`);
  const gz = (f) => gzipSync(readFileSync(join(args.package, f)), { level: 9 }).length;
  const types = JSON.parse(readFileSync(join(args.package, 'package.json'), 'utf8'));
  checks.check(types.types === 'kestavo.d.ts' && types.exports['.'].types === './kestavo.d.ts',
               'package.json names the typings (types and exports)');
  const threadsDownload = ['kestavo.mjs', 'draw.mjs', 'kestavo-threads.js', 'kestavo-threads.wasm', 'kestavo-threads.worker.js'].map(gz).reduce((a, b) => a + b);
  const singleDownload = ['kestavo.mjs', 'draw.mjs', 'kestavo-single.js', 'kestavo-single.wasm'].map(gz).reduce((a, b) => a + b);
  checks.check(threadsDownload <= 3e6 && singleDownload <= 3e6,
               `download (gzip -9) within 3 MB: threaded ${(threadsDownload / 1e6).toFixed(2)} MB, single ${(singleDownload / 1e6).toFixed(2)} MB`);
} finally {
  rmSync(frames.dir, { recursive: true, force: true });
}
checks.finish();
