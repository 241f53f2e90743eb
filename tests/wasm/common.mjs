// What the WebAssembly tests share: their arguments, the package, decoded frames, and a
// tiny check tally that prints one line per check and sets the exit status.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

// --name value pairs into an object.
export function parseArgs(argv) {
  const out = {};
  for (let i = 0; i < argv.length; i += 2) {
    if (!argv[i].startsWith('--') || i + 1 >= argv.length) throw new Error(`Error: bad argument ${argv[i]}`);
    out[argv[i].slice(2)] = argv[i + 1];
  }
  return out;
}

// Exit status that ctest reads as "skipped".
export const SKIP = 77;

// The package's API module, or exits as skipped when the package is not built.
export async function loadPackage(dir) {
  const api = join(dir, 'kestavo.mjs');
  if (!existsSync(api)) {
    console.log(`skipped: no WebAssembly package in ${dir} (scripts/build.sh wasm builds it)`);
    process.exit(SKIP);
  }
  return import(pathToFileURL(resolve(api)).href);
}

// The first `count` frames of a video as RGBA bytes ({width, height, count, bytes}),
// decoded once by ffmpeg.
export function decodeFrames(video, width, height, count) {
  const dir = mkdtempSync(join(tmpdir(), 'kvo-wasm-'));
  try {
    const file = join(dir, 'frames.rgba');
    execFileSync('ffmpeg', ['-loglevel', 'error', '-y', '-i', video, '-frames:v', String(count),
                            '-f', 'rawvideo', '-pix_fmt', 'rgba', file]);
    const bytes = readFileSync(file);
    return { width, height, count: Math.floor(bytes.length / (width * height * 4)), bytes, file, dir };
  } catch (e) {
    rmSync(dir, { recursive: true, force: true });
    throw e;
  }
}

// Frame i of decoded frames as {width, height, data}.
export function frameOf(frames, i) {
  const n = frames.width * frames.height * 4;
  return { width: frames.width, height: frames.height,
           data: new Uint8Array(frames.bytes.buffer, frames.bytes.byteOffset + i * n, n) };
}

export class Checks {
  constructor() { this.passed = 0; this.failed = 0; }
  check(ok, what) {
    if (ok) { this.passed += 1; console.log(`ok   ${what}`); } else { this.failed += 1; console.log(`FAIL ${what}`); }
    return ok;
  }
  finish() {
    console.log(`${this.passed} passed, ${this.failed} failed`);
    process.exit(this.failed === 0 ? 0 : 1);
  }
}
