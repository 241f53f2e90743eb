// The live page in headless Chromium: fed franck from the fake camera it tracks the face
// and draws it; bad use of the JavaScript API from the page gives one Error: line each and
// the page goes on; the threaded module when the page is cross-origin isolated, the
// single-threaded one (and a message saying so) when it is not.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { missing, serve, launch, open } from './harness.mjs';

const why = missing();
let server, url, browser;

before(async () => {
  if (why) return;
  ({ server, url } = await serve());
  browser = await launch();
});
after(async () => {
  if (browser) await browser.close();
  if (server) server.close();
});

// Overlay pixels of a PNG inside and outside boxes (grown by `margin`): the 68 points'
// pure cyan against the points' bounds, the Candide mesh's magenta (blended over the video)
// against the box of its vertices.
async function countOverlayPixels(page, pngBase64, box, meshBox, margin) {
  return page.evaluate(async (b64, box, meshBox, margin) => {
    const bytes = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
    const bmp = await createImageBitmap(new Blob([bytes], { type: 'image/png' }));
    const c = new OffscreenCanvas(bmp.width, bmp.height);
    const g = c.getContext('2d');
    g.drawImage(bmp, 0, 0);
    const d = g.getImageData(0, 0, bmp.width, bmp.height).data;
    const n = { cyanInside: 0, cyanOutside: 0, magentaNear: 0, magentaFar: 0, width: bmp.width, height: bmp.height };
    for (let y = 0; y < bmp.height; ++y) {
      for (let x = 0; x < bmp.width; ++x) {
        const i = 4 * (y * bmp.width + x);
        const [r, gr, b] = [d[i], d[i + 1], d[i + 2]];
        const inBox = x >= box.x - margin && x <= box.x + box.width + margin &&
          y >= box.y - margin && y <= box.y + box.height + margin;
        const near = x >= meshBox.x - margin && x <= meshBox.x + meshBox.width + margin &&
          y >= meshBox.y - margin && y <= meshBox.y + meshBox.height + margin;
        if (r < 70 && gr > 190 && b > 190) {
          if (inBox) ++n.cyanInside; else ++n.cyanOutside;
        } else if (r > 150 && b > 150 && r - gr > 70 && b - gr > 70) {
          if (near) ++n.magentaNear; else ++n.magentaFar;
        }
      }
    }
    return n;
  }, pngBase64, box, meshBox, margin);
}

test('the page tracks franck from the fake camera in the threaded module and draws the face', { skip: why || false, timeout: 60_000 }, async () => {
  const { page, log } = await open(browser, url);
  const ready = await page.evaluate(() => window.kvoPage.ready);
  assert.equal(ready.error, undefined, `page failed: ${ready.error}`);
  assert.equal(ready.isolated, true, 'served with COOP/COEP the page is cross-origin isolated');
  assert.equal(ready.threaded, true, 'isolated, the page loads the threaded module');
  // 200 frames: about 8 s of the 24 fps clip, which is 20 s long (no loop yet).
  await page.waitForFunction(() => window.kvoPage.counters.frames >= 200, { timeout: 45_000, polling: 250 });
  const { counters, states } = await page.evaluate(() => ({ counters: window.kvoPage.counters, states: window.kvoPage.states }));
  assert.ok(counters.firstFace >= 0, 'a face is found');
  assert.ok(counters.firstTracking >= 0, 'the shape is confirmed');
  const after = states.slice(counters.firstFace);
  const tracked = after.filter((s) => s === 'state_face_tracking').length;
  const startPhase = after.filter((s) => s === 'state_face_tracking_start').length;
  // The start phase (a few frames before the first shape is confirmed) is not tracking yet.
  assert.ok(startPhase <= 10, `start phase of ${startPhase} frames`);
  const share = tracked / (after.length - startPhase);
  assert.ok(share >= 0.99, `tracked ${tracked} of ${after.length - startPhase} frames after the start phase (${(100 * share).toFixed(1)} %)`);

  // Hold the page on a tracked frame, then check the screenshot for the drawn points.
  await page.waitForFunction(() => window.kvoPage.lastResult && window.kvoPage.lastResult.state === 'state_face_tracking');
  await page.evaluate(() => { window.kvoPage.hold = true; });
  await new Promise((r) => setTimeout(r, 100));
  const result = await page.evaluate(() => window.kvoPage.lastResult);
  assert.equal(result.state, 'state_face_tracking');
  assert.equal(result.points.length, 68);
  assert.ok(result.candide && result.candide.vertices.length > 100 && result.candide.triangles.length > 300, 'the Candide mesh is read');
  assert.ok(result.candide.vertices.every((v) => Number.isFinite(v.x) && Number.isFinite(v.y)), 'mesh vertices as points');
  assert.ok(result.pose && Number.isFinite(result.pose.rx) && result.pose.scale > 0, 'the pose is read');
  const png = await (await page.$('#view')).screenshot({ encoding: 'base64' });
  const xs = result.candide.vertices.map((v) => v.x), ys = result.candide.vertices.map((v) => v.y);
  const meshBox = { x: Math.min(...xs), y: Math.min(...ys), width: Math.max(...xs) - Math.min(...xs), height: Math.max(...ys) - Math.min(...ys) };
  const px = await countOverlayPixels(page, png, result.bounds, meshBox, 6);
  assert.equal(px.width, 360);
  // 68 filled dots of radius 2.5 cover well over 68 × 10 pixels where they do not overlap.
  assert.ok(px.cyanInside >= 400, `point pixels within the face: ${px.cyanInside}`);
  assert.ok(px.cyanOutside <= 20, `point-coloured pixels elsewhere: ${px.cyanOutside}`);
  // The mesh's edges (about 300 of them, a face wide) leave many magenta pixels around the face.
  assert.ok(px.magentaNear >= 300, `mesh pixels around the face: ${px.magentaNear}`);
  assert.ok(px.magentaFar <= 20, `mesh-coloured pixels away from the mesh: ${px.magentaFar}`);
  await page.evaluate(() => { window.kvoPage.hold = false; });
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('bad use from JavaScript gives one Error: line each and never an exception', { skip: why || false, timeout: 30_000 }, async () => {
  const { page, log } = await open(browser, url);
  await page.evaluate(() => window.kvoPage.ready);
  const r = await page.evaluate(async () => {
    const { createKestavo } = await import('/kestavo/kestavo.mjs');
    const lines = [];
    const kvo = await createKestavo({ threads: 'auto', onError: (l) => lines.push(l) });
    const out = {};
    const attempt = (label, f) => {
      const before = lines.length;
      let value, thrown = null;
      try {
        value = f();
      } catch (e) {
        thrown = String(e);
      }
      out[label] = { value: value === undefined ? 'undefined' : value, thrown, lines: lines.slice(before) };
    };
    const w = 64, h = 48;
    const good = { width: w, height: h, data: new Uint8ClampedArray(w * h * 4).fill(90) };
    attempt('update before init', () => kvo.update(good));
    attempt('init', () => kvo.init(good));
    attempt('good update', () => kvo.update(good));
    attempt('wrong buffer size', () => kvo.update({ width: w, height: h, data: new Uint8Array(w * h * 4 - 4) }));
    const buffer = new ArrayBuffer(w * h * 4);
    const data = new Uint8Array(buffer);
    structuredClone(buffer, { transfer: [buffer] });  // detaches `buffer`: `data` is now empty
    attempt('detached buffer', () => kvo.update({ width: w, height: h, data }));
    attempt('unknown name', () => kvo.call('kvo_no_such_function', 1));
    attempt('update after bad use', () => kvo.update(good));
    kvo.dispose();
    return out;
  });
  for (const label of ['update before init', 'wrong buffer size', 'detached buffer', 'unknown name']) {
    const a = r[label];
    assert.equal(a.thrown, null, `${label}: threw ${a.thrown}`);
    assert.equal(a.value, null, `${label}: returns null`);
    assert.equal(a.lines.length, 1, `${label}: one line, got ${JSON.stringify(a.lines)}`);
    assert.match(a.lines[0], /^Error: /, label);
  }
  assert.equal(r.init.thrown, null);
  assert.deepEqual(r.init.lines, []);
  assert.equal(r['good update'].value, 'state_face_detection', 'a grey frame has no face');
  assert.equal(r['update after bad use'].value, 'state_face_detection', 'the tracker works on after bad use');
  assert.deepEqual(r['update after bad use'].lines, []);
  // The live page goes on tracking beside it.
  const frames = await page.evaluate(() => window.kvoPage.counters.frames);
  await page.waitForFunction((n) => window.kvoPage.counters.frames > n + 10, { timeout: 15_000 }, frames);
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('the page\'s controls reach the library: settings, mode and host points', { skip: why || false, timeout: 30_000 }, async () => {
  const { page, log } = await open(browser, url);
  await page.evaluate(() => window.kvoPage.ready);
  await page.waitForFunction(() => window.kvoPage.counters.firstTracking >= 0, { timeout: 20_000, polling: 250 });
  // Settings: the finest search level 0 and the detector's values, applied by the button.
  await page.select('#fine-search', '0');
  await page.$eval('#min-detections', (e) => { e.value = '6'; });
  await page.click('#apply');
  await page.click('#candide');  // off
  const flags = await page.evaluate(() => [window.kvoPage.kvo.call('kvo_get_candideEnabled'),
    window.kvoPage.kvo.call('kvo_get_candideActionUnitsEnabled')]);
  assert.deepEqual(flags, [false, true]);
  const frames = await page.evaluate(() => window.kvoPage.counters.frames);
  await page.waitForFunction((n) => window.kvoPage.counters.frames > n + 5, { timeout: 10_000 }, frames);
  const afterSettings = await page.evaluate(() => window.kvoPage.lastResult);
  assert.equal(afterSettings.state, 'state_face_tracking', 'tracking goes on with the finer search');
  assert.equal(afterSettings.candide, null, 'no mesh drawn with Candide off');
  // Point tracking: the mode from the selector, a point from a click on the video.
  await page.select('#mode', 'mode_point_tracking');
  assert.equal(await page.evaluate(() => window.kvoPage.kvo.call('kvo_get_mode')), 'mode_point_tracking');
  const box = await (await page.$('#view')).boundingBox();
  await page.mouse.click(box.x + 180, box.y + 150);
  await page.waitForFunction(() => {
    const r = window.kvoPage.lastResult;
    return r.state === 'state_point_tracking' && r.hostPoints && r.hostPoints.length === 1;
  }, { timeout: 10_000 });
  const p = await page.evaluate(() => window.kvoPage.lastResult.hostPoints[0]);
  assert.ok(Math.abs(p.x - 180) < 20 && Math.abs(p.y - 150) < 20, `the point stays near where it was put: ${JSON.stringify(p)}`);
  assert.deepEqual(await page.evaluate(() => window.kvoPage.errors), [], 'no Error: line from any control');
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('the landmark refinement checkbox is on by default and reaches the library', { skip: why || false, timeout: 30_000 }, async () => {
  const { page, log } = await open(browser, url);
  await page.evaluate(() => window.kvoPage.ready);
  await page.waitForFunction(() => window.kvoPage.counters.firstTracking >= 0, { timeout: 20_000, polling: 250 });
  const label = await page.$eval('#refine', (e) => e.parentElement.textContent.trim());
  assert.equal(label, 'Landmark refinement');
  const first = await page.evaluate(() => ({ ...window.kvoPage.refinement, checked: document.getElementById('refine').checked,
    disabled: document.getElementById('refine').disabled,
    note: document.getElementById('refine-note').hidden ? '' : document.getElementById('refine-note').textContent }));
  // Asked for at the start, whatever the build; taken, or refused for want of a model.
  assert.equal(first.asked, true, 'the page asks for the refinement by default');
  if (first.on) {
    assert.equal(first.refusal, null);
    assert.deepEqual([first.checked, first.disabled, first.note], [true, false, '']);
    // Unticked, the next call passes false, and tracking goes on.
    await page.click('#refine');
    assert.deepEqual(await page.evaluate(() => window.kvoPage.refinement), { asked: false, on: false, refusal: null });
  } else {
    assert.match(first.refusal, /^Error: .*refine/, 'refused with the library\'s own line');
    assert.deepEqual([first.checked, first.disabled], [false, true], 'refused, the box is unticked and disabled');
    assert.match(first.note, /no refiner model/);
    // Apply again: the disabled box asks no more, so no line comes.
    await page.click('#apply');
    assert.deepEqual(await page.evaluate(() => window.kvoPage.refinement), { asked: false, on: false, refusal: null });
  }
  const frames = await page.evaluate(() => window.kvoPage.counters.frames);
  await page.waitForFunction((n) => window.kvoPage.counters.frames > n + 5, { timeout: 10_000 }, frames);
  assert.equal(await page.evaluate(() => window.kvoPage.lastResult.state), 'state_face_tracking');
  assert.deepEqual(await page.evaluate(() => window.kvoPage.errors), [], 'the refusal is said beside the box, not as an error');
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('not cross-origin isolated, the page says so and runs the single-threaded module', { skip: why || false, timeout: 30_000 }, async () => {
  const { page, log } = await open(browser, new URL('/?isolated=0', url).href);
  const ready = await page.evaluate(() => window.kvoPage.ready);
  assert.equal(ready.error, undefined, `page failed: ${ready.error}`);
  assert.equal(ready.isolated, false);
  assert.equal(ready.threaded, false);
  const message = await page.$eval('#message', (m) => (m.hidden ? '' : m.textContent));
  assert.match(message, /not cross-origin isolated/);
  assert.match(message, /single-threaded/);
  await page.waitForFunction(() => window.kvoPage.counters.firstTracking >= 0, { timeout: 20_000, polling: 250 });
  assert.deepEqual(log.pageErrors, []);
  await page.close();
});

test('a refused camera gives a clear message', { skip: why || false, timeout: 20_000 }, async () => {
  // Without the flag that grants the fake camera, headless Chromium refuses it.
  const refusing = await launch([], { grantCamera: false });
  try {
    const { page, log } = await open(refusing, url);
    await page.evaluate(() => window.kvoPage.ready);
    await page.waitForFunction(() => !document.getElementById('message').hidden, { timeout: 10_000 });
    const message = await page.$eval('#message', (m) => m.textContent);
    assert.match(message, /camera was refused/);
    assert.deepEqual(log.pageErrors, []);
  } finally {
    await refusing.close();
  }
});
