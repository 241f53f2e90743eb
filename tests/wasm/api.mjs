// The JavaScript API's contract, as a page uses it: plain values back from every getter,
// and for each misuse one "Error:" line, a null result, no exception, and a tracker that
// carries on as before. Also the package itself: npm can pack it, and its download fits
// the size budget.
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

// Runs `what`, which must give exactly one error line and null, without throwing.
function misuse(description, what) {
  const before = errors.length;
  let result, threw = null;
  try { result = what(); } catch (e) { threw = e; }
  const lines = errors.slice(before);
  checks.check(threw === null && result === null && lines.length === 1 && lines[0].startsWith('Error: '),
               `${description}: one error line, null, no exception` +
               (threw ? ` (threw ${threw})` : lines.length !== 1 ? ` (${lines.length} lines)` : ` — ${lines[0]}`));
}

try {
  checks.check(kvo.names.length === 36 && kvo.names[0] === 'kvo_init' && kvo.names.includes('kvo_get_faceShape_points'),
               `the 36 named functions by name (${kvo.names.length})`);
  checks.check(kvo.threaded === false, 'threads: false loads the single-threaded module');

  // Before init.
  misuse('update before init', () => kvo.update(frameOf(frames, 0)));
  misuse('updateByEyes before init', () => kvo.updateByEyes(frameOf(frames, 0), { x: 150, y: 150 }, { x: 200, y: 150 }));

  // Bad frames for init.
  misuse('init with a buffer of the wrong length', () => kvo.init({ width: 360, height: 288, data: new Uint8Array(100) }));
  misuse('init with a frame that is no frame', () => kvo.init({ width: 360 }));
  misuse('init with a negative size', () => kvo.init({ width: -4, height: 288, data: new Uint8Array(0) }));
  const moved = new ArrayBuffer(360 * 288 * 4);
  const detachedView = new Uint8Array(moved);
  structuredClone(moved, { transfer: [moved] });
  misuse('init with a detached buffer', () => kvo.init({ width: 360, height: 288, data: detachedView }));
  misuse('init with pixels in a Float32Array', () => kvo.init({ width: 2, height: 2, data: new Float32Array(16) }));

  // A good start, then misuse between good frames: the track must carry on.
  checks.check(kvo.init(frameOf(frames, 0)) === true, 'init with the first frame');
  let state = null;
  for (let i = 0; i < 20; ++i) state = kvo.update(frameOf(frames, i));
  checks.check(state === 'state_face_tracking', `tracking after 20 frames (${state})`);
  const before = kvo.call('kvo_get_faceShape_points');

  misuse('init a second time', () => kvo.init(frameOf(frames, 1)));
  misuse('update with a frame of another size', () => kvo.update({ width: 10, height: 10, data: new Uint8Array(400) }));
  misuse('update with a detached buffer', () => {
    const b = new ArrayBuffer(360 * 288 * 4); const v = new Uint8Array(b);
    structuredClone(b, { transfer: [b] });
    return kvo.update({ width: 360, height: 288, data: v });
  });
  misuse('an unknown function name', () => kvo.call('kvo_doesNotExist'));
  misuse('a name that is not a string', () => kvo.call(42));
  misuse('an argument that cannot be passed (a function)', () => kvo.call('kvo_set_mode', () => 1));
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
  checks.check(r === null, 'a function without a result returns null');

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
  const needed = ['package.json', 'kestavo.mjs', 'kestavo-single.js', 'kestavo-single.wasm', 'kestavo-threads.js',
                  'kestavo-threads.wasm', 'kestavo-threads.worker.js'];
  checks.check(needed.every((f) => files.has(f)), `npm pack holds ${needed.join(', ')}`);
  const gz = (f) => gzipSync(readFileSync(join(args.package, f)), { level: 9 }).length;
  const threadsDownload = ['kestavo.mjs', 'kestavo-threads.js', 'kestavo-threads.wasm', 'kestavo-threads.worker.js'].map(gz).reduce((a, b) => a + b);
  const singleDownload = ['kestavo.mjs', 'kestavo-single.js', 'kestavo-single.wasm'].map(gz).reduce((a, b) => a + b);
  checks.check(threadsDownload <= 3e6 && singleDownload <= 3e6,
               `download (gzip -9) within 3 MB: threaded ${(threadsDownload / 1e6).toFixed(2)} MB, single ${(singleDownload / 1e6).toFixed(2)} MB`);
} finally {
  rmSync(frames.dir, { recursive: true, force: true });
}
checks.finish();
