// Parity between the WebAssembly module and the native library: the same decoded frames
// handed to both (the module through its JavaScript API, the library through the
// stand-in host) must give the same state on every frame and landmarks within TOLERANCE.
//
// Why the tolerance is not zero: the two builds share every source line and model, but
// not the maths library (glibc natively, musl in the module) nor the compiler (GCC
// natively, clang for the module). Today they agree bit for bit on all 4,800 franck
// frames; a new compiler or maths library may legitimately change the last bits of a
// sine or an exponential, and a tracker feeds each frame's shape into the next. A
// thousandth of a pixel allows that and still fails any real difference in the code.
//
// Usage: node parity.mjs --package DIR --native RAW_FRAME_TRACK --library LIBKESTAVO
//                        --video franck.mp4 [--frames 300] [--width 360 --height 288]
import { execFileSync } from 'node:child_process';
import { rmSync } from 'node:fs';
import { Checks, decodeFrames, frameOf, loadPackage, parseArgs } from './common.mjs';

const TOLERANCE_PX = 0.001;

const args = parseArgs(process.argv.slice(2));
const { createKestavo } = await loadPackage(args.package);
const width = Number(args.width || 360), height = Number(args.height || 288);
const frames = decodeFrames(args.video, width, height, Number(args.frames || 300));
const checks = new Checks();
try {
  const native = execFileSync(args.native, [args.library, frames.file, String(width), String(height)],
                              { maxBuffer: 1 << 28 }).toString().trim().split('\n').map((l) => l.split(' '));
  const errors = [];
  const kvo = await createKestavo({ threads: false, onError: (l) => errors.push(l), onPrint: () => {} });
  checks.check(kvo.init(frameOf(frames, 0)) === true, 'the module takes the first frame in kvo_init');
  let stateMismatch = -1, worst = 0, worstFrame = -1, identical = 0;
  const trackedStates = new Set(['state_face_tracking_start', 'state_face_tracking']);
  let tracked = 0;
  for (let i = 0; i < frames.count; ++i) {
    const state = kvo.update(frameOf(frames, i));
    const line = native[i];
    if (!line || line[1] !== state) {
      if (stateMismatch < 0) stateMismatch = i;
      continue;
    }
    // The module gives a face's points only while it tracks one.
    if (!trackedStates.has(state)) continue;
    tracked += 1;
    const points = kvo.call('kvo_get_faceShape_points');
    let frameWorst = points.length * 2 === line.length - 2 ? 0 : Infinity;
    for (let k = 0; k < points.length; ++k) {
      const d = Math.max(Math.abs(points[k].x - Number(line[2 + 2 * k])), Math.abs(points[k].y - Number(line[3 + 2 * k])));
      frameWorst = Math.max(frameWorst, d);
    }
    if (frameWorst === 0) identical += 1;
    if (frameWorst > worst) { worst = frameWorst; worstFrame = i; }
  }
  checks.check(native.length === frames.count, `the native library tracked all ${frames.count} frames (${native.length})`);
  checks.check(stateMismatch < 0, `the same state on every frame${stateMismatch >= 0 ? ` (first difference at frame ${stateMismatch})` : ''}`);
  checks.check(tracked > frames.count * 0.9, `the face is tracked in ${tracked} of ${frames.count} frames`);
  checks.check(worst <= TOLERANCE_PX,
               `landmarks within ${TOLERANCE_PX} px of the native ones: largest difference ${worst.toExponential(2)} px` +
               (worstFrame >= 0 ? ` (frame ${worstFrame})` : ''));
  console.log(`info bit-identical landmarks on ${identical} of the ${tracked} tracked frames (of ${frames.count})`);
  checks.check(errors.length === 0, `no error lines (${errors.length})`);
  kvo.dispose();
} finally {
  rmSync(frames.dir, { recursive: true, force: true });
}
checks.finish();
