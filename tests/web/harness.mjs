// What the browser tests share: the paths, the server for the page and the package, and
// headless Chromium (the system browser, driven by puppeteer-core from .cache/web/npm)
// with the fake camera fed from the franck clip.
//
// Thread safety: one Node process; each test file owns the server and browser it starts.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { startServer } from '../../tools/web/server.mjs';

export const ROOT = path.resolve(import.meta.dirname, '../..');
export const CACHE = process.env.KVO_CACHE || path.join(ROOT, '.cache');
export const PACKAGE = process.env.KVO_WASM_PACKAGE || path.join(ROOT, 'build/wasm/package');
export const CLIP = path.join(CACHE, 'web/franck-480.y4m');
export const CHROMIUM = process.env.KVO_CHROMIUM || '/usr/bin/chromium';

// Why the browser tests cannot run here, or null when they can.
export function missing() {
  if (!fs.existsSync(path.join(PACKAGE, 'kestavo.mjs'))) return `no WebAssembly package at ${PACKAGE} (scripts/build.sh wasm)`;
  if (!fs.existsSync(CHROMIUM)) return `no browser at ${CHROMIUM} (scripts/setup.sh)`;
  if (!fs.existsSync(CLIP)) return `no fake-camera clip at ${CLIP} (scripts/setup.sh)`;
  if (!fs.existsSync(path.join(CACHE, 'web/npm/node_modules/puppeteer-core'))) return 'no puppeteer-core (scripts/setup.sh)';
  return null;
}

export function puppeteer() {
  const require = createRequire(path.join(CACHE, 'web/npm/package.json'));
  return require('puppeteer-core');
}

export async function serve() {
  return startServer({
    port: 0,
    host: '127.0.0.1',
    roots: [
      { prefix: '/kestavo/', dir: PACKAGE },
      { prefix: '/media/', dir: path.join(CACHE, 'media') },
      { prefix: '/', dir: path.join(ROOT, 'web') },
    ],
    frames: null,
  });
}

// Headless Chromium whose camera is the franck clip, granted without a prompt (or, with
// grantCamera false, refused as headless Chromium refuses an unanswered prompt).
export async function launch(extraArgs = [], { grantCamera = true } = {}) {
  return puppeteer().launch({
    executablePath: CHROMIUM,
    headless: true,
    protocolTimeout: 120_000,
    args: [
      ...(process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : []),
      ...(grantCamera ? ['--use-fake-ui-for-media-stream'] : []),
      '--use-fake-device-for-media-stream',
      `--use-file-for-fake-video-capture=${CLIP}`,
      '--autoplay-policy=no-user-gesture-required',
      ...extraArgs,
    ],
  });
}

// Opens a page and records what it throws and logs.
export async function open(browser, url) {
  const page = await browser.newPage();
  const log = { pageErrors: [], console: [] };
  page.on('pageerror', (e) => log.pageErrors.push(e.message));
  page.on('console', (m) => log.console.push(m.text()));
  await page.goto(url);
  return { page, log };
}
