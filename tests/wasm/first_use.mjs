// A new user's first use in Node, as the package README tells it: the package packed by
// npm, installed from the tarball into an empty project, and the README's Node example
// (the code block that starts "// first-use.mjs") run there with no options on decoded
// sample frames. It must track the face, load the single-threaded module, and print
// nothing on stderr.
//
// Usage: node first_use.mjs --package DIR --video franck.mp4
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, renameSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { Checks, decodeFrames, loadPackage, parseArgs } from './common.mjs';

const args = parseArgs(process.argv.slice(2));
await loadPackage(args.package);  // skips when the package is not built
const checks = new Checks();
const dir = mkdtempSync(join(tmpdir(), 'kvo-first-use-'));
const FRAMES = 60;
try {
  const readme = readFileSync(join(args.package, 'README.md'), 'utf8');
  const block = [...readme.matchAll(/```js\n([\s\S]*?)```/g)].map((m) => m[1]).find((b) => b.startsWith('// first-use.mjs'));
  checks.check(block !== undefined, 'the README has the Node example');
  if (block === undefined) checks.finish();

  const npm = (cwd, ...a) => execFileSync('npm', [...a, '--no-audit', '--no-fund', '--offline', '--loglevel=error'], { cwd }).toString();
  const packed = JSON.parse(npm(args.package, 'pack', '--json', '--pack-destination', dir));
  const tarball = join(dir, packed[0].filename);
  const app = join(dir, 'app');
  mkdirSync(app);
  npm(app, 'init', '-y');
  npm(app, 'install', tarball);
  const installed = JSON.parse(readFileSync(join(app, 'node_modules/kestavo/package.json'), 'utf8'));
  checks.check(installed.name === 'kestavo', `npm installed ${packed[0].filename} (${(packed[0].size / 1e6).toFixed(2)} MB) into an empty project`);

  const frames = decodeFrames(args.video, 360, 288, FRAMES);
  renameSync(frames.file, join(app, 'frames.rgba'));
  rmSync(frames.dir, { recursive: true, force: true });
  writeFileSync(join(app, 'first-use.mjs'), block);
  const run = spawnSync(process.execPath, ['first-use.mjs'], { cwd: app, encoding: 'utf8', timeout: 120_000 });
  console.log(run.stdout.trim().split('\n').map((l) => `info ${l}`).join('\n'));
  checks.check(run.status === 0, `node first-use.mjs exits 0 (${run.status})`);
  checks.check(run.stderr === '', `nothing on stderr${run.stderr ? `: ${run.stderr.slice(0, 300)}` : ''}`);
  const summary = /^single-threaded module: a face in (\d+) of (\d+) frames$/m.exec(run.stdout);
  checks.check(summary !== null && Number(summary[2]) === FRAMES && Number(summary[1]) >= FRAMES - 10,
               `the single-threaded module, a face in most of the ${FRAMES} frames (${summary ? summary[1] : '?'})`);
  checks.check(/^frame 30: state_face_tracking, 68 points in \{/m.test(run.stdout), 'frame 30 tracked with 68 points');
} finally {
  rmSync(dir, { recursive: true, force: true });
}
checks.finish();
