// The package's TypeScript typings (kestavo.d.ts), as a TypeScript user gets them: the
// package packed and installed into an empty project, then the compiler (pinned, from
// .cache/web/typescript) in strict mode on a usage file that must compile, and on one with
// a wrong use on each marked line, each of which must be reported. The declared names and
// methods are also checked against the module itself.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { CACHE, PACKAGE } from './harness.mjs';

const TSC = path.join(CACHE, 'web/typescript/node_modules/typescript/bin/tsc');
const why = !fs.existsSync(path.join(PACKAGE, 'kestavo.d.ts')) ? `no typed WebAssembly package at ${PACKAGE} (scripts/build.sh wasm)`
  : !fs.existsSync(TSC) ? `no TypeScript compiler at ${TSC} (scripts/setup_web.sh)` : null;
let dir, app;

before(() => {
  if (why) return;
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kvo-typings-'));
  const npm = (cwd, ...a) => execFileSync('npm', [...a, '--no-audit', '--no-fund', '--offline', '--loglevel=error'], { cwd }).toString();
  const packed = JSON.parse(npm(PACKAGE, 'pack', '--json', '--pack-destination', dir));
  app = path.join(dir, 'app');
  fs.mkdirSync(app);
  npm(app, 'init', '-y');
  npm(app, 'install', path.join(dir, packed[0].filename));
  fs.writeFileSync(path.join(app, 'tsconfig.json'), JSON.stringify({
    compilerOptions: { strict: true, noEmit: true, module: 'nodenext', moduleResolution: 'nodenext', target: 'es2022',
      lib: ['es2022', 'dom'], types: [], skipLibCheck: false },
  }));
});
after(() => {
  if (dir) fs.rmSync(dir, { recursive: true, force: true });
});

function tsc(file, source) {
  fs.writeFileSync(path.join(app, file), source);
  const r = spawnSync(process.execPath, [TSC, '-p', 'tsconfig.json', '--pretty', 'false'], { cwd: app, encoding: 'utf8' });
  fs.rmSync(path.join(app, file));
  return { status: r.status, out: r.stdout + r.stderr };
}

const USAGE = `
import { createKestavo, draw, threadsAvailable, VIDEO_DETECTION_VARS, type TrackResult, type Point } from 'kestavo';

const kvo = await createKestavo({ threads: 'auto', onError: (line: string) => console.warn(line) });
const threaded: boolean = kvo.threaded || threadsAvailable();
const frame = { width: 2, height: 2, data: new Uint8ClampedArray(16) };
const result: TrackResult | null = kvo.track(frame);
if (result && result.points) {
  const first: Point = result.points[0];
  console.log(first.x + first.y, result.bounds?.width, result.state, result.confirmed, result.updateMs);
}
if (result?.pose) console.log(result.pose.rotationY * 180 / Math.PI, result.pose.translationX, result.pose.scale);
if (result?.candide) console.log(result.candide.vertices.length, result.candide.triangles.length);
const taken: boolean = kvo.call('kvo_setFaceDetectionVars', ...VIDEO_DETECTION_VARS);
const refined: boolean = kvo.call('kvo_setFaceTrackingVars', 50, 500, 1, 2, true);
const points: Point[] | null = kvo.call('kvo_get_faceShape_points');
const state: string | null = kvo.update(new ImageData(2, 2));
const pitch: number | null = kvo.call('kvo_get_faceShape_rotationX');
const video = document.createElement('video');
const canvas = document.createElement('canvas');
const started: boolean = kvo.start(video, (r) => { kvo.draw(canvas, r, { image: video, mirror: true }); draw(canvas.getContext('2d')!, r); });
kvo.track(canvas);
kvo.track(await createImageBitmap(canvas));
const stopped: boolean = kvo.stop();
const size: [number, number] | null = kvo.frameSize;
console.log(threaded, taken, refined, points, state, pitch, started, stopped, size, kvo.names.length, kvo.startup.loadMs);
kvo.dispose();
`;

// Each line ending in "// wrong" must draw a compiler error.
const WRONG = `
import { createKestavo } from 'kestavo';
const kvo = await createKestavo();
await createKestavo({ threads: 'yes' }); // wrong
kvo.track(42); // wrong
const r = kvo.track({ width: 2, height: 2, data: new Uint8Array(16) })!;
console.log(r.points[0].x); // wrong
console.log(r.pose?.yaw); // wrong
kvo.call('kvo_get_face_points'); // wrong
const mode: string = kvo.call('kvo_set_mode', 'mode_face_tracking'); // wrong
kvo.start({ width: 2, height: 2, data: new Uint8Array(16) }, () => {}); // wrong
kvo.draw(document.createElement('canvas'), r, { mirrored: true }); // wrong
console.log(mode);
`;

test('the typings compile for the uses the README shows, in strict mode', { skip: why || false, timeout: 60_000 }, () => {
  const r = tsc('usage.mts', USAGE);
  assert.equal(r.status, 0, r.out);
});

test('the typings catch wrong uses, each on its own line', { skip: why || false, timeout: 60_000 }, () => {
  const r = tsc('wrong.mts', WRONG);
  assert.notEqual(r.status, 0);
  const wanted = WRONG.split('\n').map((l, i) => (l.endsWith('// wrong') ? i + 1 : 0)).filter(Boolean);
  const reported = [...new Set([...r.out.matchAll(/^wrong\.mts\((\d+),\d+\): error TS\d+/gm)].map((m) => Number(m[1])))];
  assert.deepEqual(reported.sort((a, b) => a - b), wanted, r.out);
});

test('the declared function names and members are the module\'s own', { skip: why || false, timeout: 60_000 }, async () => {
  const dts = fs.readFileSync(path.join(app, 'node_modules/kestavo/kestavo.d.ts'), 'utf8');
  const union = /export type FunctionName =([^;]*);/.exec(dts)[1];
  const declared = [...union.matchAll(/'(\w+)'/g)].map((m) => m[1]);
  const body = /export interface Kestavo \{([\s\S]*?)\n\}/.exec(dts)[1];
  const methods = [...new Set([...body.matchAll(/^ {2}(\w+)\(/gm)].map((m) => m[1]))];
  const fields = [...body.matchAll(/^ {2}readonly (\w+):/gm)].map((m) => m[1]);
  const api = await import(pathToFileURL(path.join(app, 'node_modules/kestavo/kestavo.mjs')).href);
  const kvo = await api.createKestavo({ onError: () => {}, onPrint: () => {} });
  try {
    assert.deepEqual(declared, [...kvo.names], 'FunctionName lists the 36 functions in the table\'s order');
    assert.ok(methods.length >= 9, methods.join(' '));
    for (const m of methods) assert.equal(typeof kvo[m], 'function', `kvo.${m}`);
    for (const f of fields) assert.notEqual(kvo[f], undefined, `kvo.${f}`);
    const exported = [...dts.matchAll(/^export (?:function|const) (\w+)/gm)].map((m) => m[1]).sort();
    assert.deepEqual(exported, Object.keys(api).sort(), 'the declared exports are the module\'s');
  } finally {
    kvo.dispose();
  }
});
