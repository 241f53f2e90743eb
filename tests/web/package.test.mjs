// The package as a JavaScript developer picks it up in a browser: packed by npm, installed
// from the tarball into an empty project, served from there, and used in headless
// Chromium with the README's three lines (import, await createKestavo(), kvo.track) in a
// page and in a module worker. Also each kind of source handed over directly (ImageData,
// {width, height, data}, a canvas, an ImageBitmap: the same pixels give the same points),
// start()/stop() over a playing video and over the fake camera's stream, draw(), and
// threads: true refused in a page that is not cross-origin isolated; and the README's
// page and worker examples themselves, as written there.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startServer } from '../../tools/web/server.mjs';
import { CACHE, PACKAGE, missing, launch, open } from './harness.mjs';

const why = missing();
const W = 360, H = 288, FRAMES = 40;
let dir, server, url, browser;

const FIRST_USE = `<!doctype html>
<meta charset="utf-8"><title>kestavo first use</title>
<video id="video" src="/media/franck.webm" muted playsinline loop></video>
<canvas id="view"></canvas>
`;

const WORKER = `// The README's worker, reporting back what it tracked.
import { createKestavo } from './node_modules/kestavo/kestavo.mjs';
const ready = createKestavo();
onmessage = async ({ data: bitmap }) => {
  const kvo = await ready;
  const result = kvo.track(bitmap);
  bitmap.close();
  postMessage({ result, threaded: kvo.threaded });
};
`;

before(async () => {
  if (why) return;
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kvo-web-package-'));
  const npm = (cwd, ...a) => execFileSync('npm', [...a, '--no-audit', '--no-fund', '--offline', '--loglevel=error'], { cwd }).toString();
  const packed = JSON.parse(npm(PACKAGE, 'pack', '--json', '--pack-destination', dir));
  const app = path.join(dir, 'app');
  fs.mkdirSync(app);
  npm(app, 'init', '-y');
  npm(app, 'install', path.join(dir, packed[0].filename));
  fs.writeFileSync(path.join(app, 'index.html'), FIRST_USE);
  fs.writeFileSync(path.join(app, 'worker.mjs'), WORKER);
  // The README's examples, its page playing the sample clip.
  const readme = fs.readFileSync(path.join(app, 'node_modules/kestavo/README.md'), 'utf8');
  const blocks = [...readme.matchAll(/```(html|js)\n([\s\S]*?)```/g)].map((m) => ({ kind: m[1], text: m[2] }));
  const html = blocks.find((b) => b.kind === 'html');
  const worker = blocks.find((b) => b.text.startsWith('// tracker.mjs'));
  if (html) fs.writeFileSync(path.join(app, 'readme-page.html'), html.text.replace('src="clip.webm"', 'src="/media/franck.webm"'));
  if (worker) fs.writeFileSync(path.join(app, 'tracker.mjs'), worker.text);
  const frames = path.join(dir, 'frames.rgba');
  execFileSync('ffmpeg', ['-loglevel', 'error', '-y', '-i', path.join(CACHE, 'media/franck.mp4'), '-frames:v', String(FRAMES),
    '-s', `${W}x${H}`, '-f', 'rawvideo', '-pix_fmt', 'rgba', frames]);
  ({ server, url } = await startServer({
    port: 0, host: '127.0.0.1',
    roots: [{ prefix: '/media/', dir: path.join(CACHE, 'media') }, { prefix: '/', dir: app }],
    frames: { file: frames, width: W, height: H },
  }));
  browser = await launch();
});
after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
  if (dir) fs.rmSync(dir, { recursive: true, force: true });
});

// In the page: the decoded frames as ImageData, fetched from the server's frame route.
async function fetchFrames(page) {
  await page.evaluate(async (n) => {
    window.frames_ = [];
    for (let i = 0; i < n; ++i) {
      const bytes = new Uint8ClampedArray(await (await fetch(`/frames/${i}`)).arrayBuffer());
      window.frames_.push(new ImageData(bytes, 360, 288));
    }
  }, FRAMES);
}

const face = (r) => r && r.tracked && r.points && r.points.length === 68;

test('in a page: import, await createKestavo(), kvo.track(frame) from the installed tarball', { skip: why || false, timeout: 60_000 }, async () => {
  const { page, log } = await open(browser, url);
  await fetchFrames(page);
  const out = await page.evaluate(async () => {
    const lines = [];
    const { createKestavo } = await import('./node_modules/kestavo/kestavo.mjs');
    const kvo = await createKestavo();
    const results = window.frames_.map((f) => kvo.track(f));
    return { threaded: kvo.threaded, isolated: self.crossOriginIsolated, results, lines };
  });
  assert.equal(out.isolated, true, 'the test server sends COOP/COEP');
  assert.equal(out.threaded, true, "'auto' in an isolated page loads the threaded module");
  const tracked = out.results.filter(face).length;
  console.log(`# page from the tarball: ${out.threaded ? 'threaded' : 'single-threaded'} module, a face with 68 points in ${tracked} of ${FRAMES} frames`);
  assert.ok(tracked >= FRAMES - 5, `a face with 68 points in ${tracked} of ${FRAMES} frames`);
  assert.ok(out.results.every((r) => r.score === null && r.width === W && r.height === H));
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('in a module worker: the same three lines on ImageBitmaps the page posts', { skip: why || false, timeout: 60_000 }, async () => {
  const { page, log } = await open(browser, url);
  await fetchFrames(page);
  const out = await page.evaluate(async () => {
    const worker = new Worker('./worker.mjs', { type: 'module' });
    const answers = [];
    const done = new Promise((resolve, reject) => {
      worker.onmessage = ({ data }) => { answers.push(data); if (answers.length === window.frames_.length) resolve(); };
      worker.onerror = (e) => reject(new Error(`worker: ${e.message}`));
    });
    for (const f of window.frames_) {
      const bitmap = await createImageBitmap(f);
      worker.postMessage(bitmap, [bitmap]);
    }
    await done;
    worker.terminate();
    // The same frames in the page, single-threaded, for comparison.
    const { createKestavo } = await import('./node_modules/kestavo/kestavo.mjs');
    const kvo = await createKestavo({ threads: false });
    const here = window.frames_.map((f) => kvo.track(f));
    return { answers, here };
  });
  assert.equal(out.answers.length, FRAMES);
  assert.ok(out.answers.every((a) => a.threaded === true), 'the isolated page\'s worker runs the threaded module');
  const tracked = out.answers.filter((a) => face(a.result)).length;
  console.log(`# module worker from the tarball: ${out.answers[0].threaded ? 'threaded' : 'single-threaded'} module, a face with 68 points in ${tracked} of ${FRAMES} frames`);
  assert.ok(tracked >= FRAMES - 5, `the worker found a face with 68 points in ${tracked} of ${FRAMES} frames`);
  // An ImageBitmap of an ImageData keeps its pixels: the worker's shapes are the page's.
  let worst = 0;
  for (let i = 0; i < FRAMES; ++i) {
    const a = out.answers[i].result, b = out.here[i];
    assert.equal(a.state, b.state, `frame ${i}`);
    if (a.points) a.points.forEach((p, k) => { worst = Math.max(worst, Math.abs(p.x - b.points[k].x), Math.abs(p.y - b.points[k].y)); });
  }
  assert.ok(worst <= 1e-3, `worker and page points within 0.001 px (largest difference ${worst})`);
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('sources handed over directly: ImageData, {width, height, data}, a canvas and an ImageBitmap give the same points', { skip: why || false, timeout: 60_000 }, async () => {
  const { page, log } = await open(browser, url);
  await fetchFrames(page);
  const out = await page.evaluate(async () => {
    const { createKestavo } = await import('./node_modules/kestavo/kestavo.mjs');
    const kinds = {
      imageData: (f) => f,
      plain: (f) => ({ width: f.width, height: f.height, data: new Uint8Array(f.data.buffer) }),
      canvas: (f) => { const c = document.createElement('canvas'); c.width = f.width; c.height = f.height; c.getContext('2d').putImageData(f, 0, 0); return c; },
      offscreen: (f) => { const c = new OffscreenCanvas(f.width, f.height); c.getContext('2d').putImageData(f, 0, 0); return c; },
      bitmap: (f) => createImageBitmap(f),
    };
    const out = {};
    for (const [kind, make] of Object.entries(kinds)) {
      const kvo = await createKestavo({ threads: false });
      const points = [];
      for (const f of window.frames_) {
        const r = kvo.track(await make(f));
        points.push(r && r.points ? r.points : null);
      }
      out[kind] = points;
      kvo.dispose();
    }
    // A video element, read where it is (its own frame size), and one not ready yet.
    const lines = [];
    const kvo = await createKestavo({ threads: false, onError: (l) => lines.push(l) });
    const early = document.createElement('video');
    const notReady = kvo.track(early);
    const video = document.getElementById('video');
    await video.play();
    let fromVideo = null;
    for (let i = 0; i < 30 && !(fromVideo && fromVideo.tracked); ++i) {
      await new Promise((r) => video.requestVideoFrameCallback(r));
      fromVideo = kvo.track(video);
    }
    video.pause();
    return { out, notReady, lines, fromVideo };
  });
  const tracked = out.out.imageData.filter((p) => p && p.length === 68).length;
  assert.ok(tracked >= FRAMES - 5, `ImageData: 68 points on ${tracked} of ${FRAMES} frames`);
  for (const kind of ['plain', 'canvas', 'offscreen', 'bitmap']) {
    assert.deepEqual(out.out[kind], out.out.imageData, `${kind}: the same points as the ImageData`);
  }
  assert.equal(out.notReady, null, 'a video with no frame yet gives null');
  assert.equal(out.lines.length, 1, JSON.stringify(out.lines));
  assert.match(out.lines[0], /^Error: track: the video has no frame yet/);
  assert.ok(out.fromVideo && out.fromVideo.tracked && out.fromVideo.width === W, `a playing video is tracked: ${out.fromVideo && out.fromVideo.state}`);
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('start() over a playing video and over the camera stream, stop(), and draw() on a canvas', { skip: why || false, timeout: 60_000 }, async () => {
  const { page, log } = await open(browser, url);
  const out = await page.evaluate(async () => {
    const { createKestavo, POINT_COLOUR } = await import('./node_modules/kestavo/kestavo.mjs');
    const lines = [];
    const kvo = await createKestavo({ onError: (l) => lines.push(l) });
    const video = document.getElementById('video');
    const view = document.getElementById('view');
    video.currentTime = 0;
    await video.play();
    const results = [];
    let drawn = false;
    const started = kvo.start(video, (r) => {
      results.push({ state: r.state, mediaTime: r.mediaTime, tracked: r.tracked });
      if (r.confirmed && !drawn) {
        view.width = r.width;
        view.height = r.height;
        drawn = kvo.draw(view, r, { image: video, mirror: true });
      }
    });
    const again = kvo.start(video, () => {});
    await new Promise((r) => setTimeout(r, 2500));
    const running = kvo.running;
    const stopped = kvo.stop();
    const atStop = results.length;
    await new Promise((r) => setTimeout(r, 500));
    const afterStop = results.length - atStop;
    video.pause();
    // The drawn canvas: the landmarks' cyan is there.
    const d = view.getContext('2d').getImageData(0, 0, view.width, view.height).data;
    let cyan = 0;
    for (let i = 0; i < d.length; i += 4) if (d[i] < 70 && d[i + 1] > 190 && d[i + 2] > 190) ++cyan;
    // The fake camera's stream, handed over as it is.
    const stream = await navigator.mediaDevices.getUserMedia({ video: true });
    const camera = [];
    const cameraKvo = await createKestavo({ onError: (l) => lines.push(l) });
    const cameraStarted = cameraKvo.start(stream, (r) => camera.push(r.state));
    await new Promise((r) => setTimeout(r, 2500));
    cameraKvo.stop();
    stream.getTracks().forEach((t) => t.stop());
    const bad = [kvo.start(document.createElement('div'), () => {}), kvo.start(video, 'not a function'),
      kvo.draw(null, results[0]), kvo.draw(view, null)];
    return { started, again, running, stopped, results, afterStop, drawn, cyan, colour: POINT_COLOUR, camera, cameraStarted, bad, lines };
  });
  assert.equal(out.started, true);
  assert.equal(out.again, false, 'a second start() while one runs is refused');
  assert.equal(out.running, true);
  assert.equal(out.stopped, true);
  assert.ok(out.results.length >= 20, `results from the video in 2.5 s: ${out.results.length}`);
  const times = out.results.map((r) => r.mediaTime);
  assert.ok(times.every((t, i) => i === 0 || t > times[i - 1]), 'each result is a new video frame, in order');
  assert.ok(out.results.filter((r) => r.tracked).length >= out.results.length - 10, 'the face is tracked');
  assert.equal(out.afterStop, 0, 'no result after stop()');
  assert.equal(out.drawn, true);
  assert.ok(out.cyan >= 300, `landmark pixels drawn on the canvas: ${out.cyan}`);
  assert.equal(out.cameraStarted, true);
  assert.ok(out.camera.length >= 20 && out.camera.includes('state_face_tracking'), `the camera stream: ${out.camera.length} frames`);
  assert.deepEqual(out.bad, [false, false, false, false], 'a source that is none, a callback that is none, draw without a canvas or result');
  assert.equal(out.lines.length, 5, JSON.stringify(out.lines));
  assert.ok(out.lines.every((l) => l.startsWith('Error: ')), JSON.stringify(out.lines));
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('threads: true in a page that is not cross-origin isolated rejects with one clear line', { skip: why || false, timeout: 30_000 }, async () => {
  const { page, log } = await open(browser, new URL('/?isolated=0', url).href);
  const out = await page.evaluate(async () => {
    const { createKestavo } = await import('./node_modules/kestavo/kestavo.mjs');
    let message = null;
    try { await createKestavo({ threads: true }); } catch (e) { message = e.message; }
    const kvo = await createKestavo();
    return { message, isolated: self.crossOriginIsolated, threaded: kvo.threaded };
  });
  assert.equal(out.isolated, false);
  assert.match(out.message, /^Error: threads: true .*cannot run here: this page is not cross-origin isolated/);
  assert.ok(!out.message.includes('\n'));
  assert.equal(out.threaded, false, "'auto' there loads the single-threaded module");
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('the README\'s page and worker examples, as written there, track and draw', { skip: why || false, timeout: 60_000 }, async () => {
  const { page, log } = await open(browser, new URL('/readme-page.html', url).href);
  // The page's own loop draws the landmarks' cyan on its canvas.
  await page.waitForFunction(() => {
    const view = document.getElementById('view');
    if (!view || view.width !== 360) return false;
    const d = view.getContext('2d').getImageData(0, 0, view.width, view.height).data;
    let cyan = 0;
    for (let i = 0; i < d.length; i += 4) if (d[i] < 70 && d[i + 1] > 190 && d[i + 2] > 190) ++cyan;
    return cyan >= 300;
  }, { timeout: 30_000, polling: 250 });
  await fetchFrames(page);
  const results = await page.evaluate(async () => {
    const worker = new Worker('./tracker.mjs', { type: 'module' });
    const out = [];
    const done = new Promise((resolve, reject) => {
      worker.onmessage = ({ data }) => { out.push(data); if (out.length === window.frames_.length) resolve(); };
      worker.onerror = (e) => reject(new Error(`worker: ${e.message}`));
    });
    for (const f of window.frames_) {
      const bitmap = await createImageBitmap(f);
      worker.postMessage(bitmap, [bitmap]);
    }
    await done;
    worker.terminate();
    return out;
  });
  const tracked = results.filter(face).length;
  assert.ok(tracked >= FRAMES - 5, `the README's worker: a face with 68 points in ${tracked} of ${FRAMES} frames`);
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});
