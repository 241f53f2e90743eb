// The static server: the isolation headers (and their absence on request), the types the
// browser needs, no way out of a root, and the frame route.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startServer, parseArgs } from '../../tools/web/server.mjs';

let server, url, dir;
const W = 4, H = 3, FRAME = W * H * 4;

before(async () => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kvo-server-'));
  fs.mkdirSync(path.join(dir, 'site/sub'), { recursive: true });
  fs.writeFileSync(path.join(dir, 'site/index.html'), '<p>home</p>');
  fs.writeFileSync(path.join(dir, 'site/sub/m.wasm'), Buffer.from([0, 97, 115, 109]));
  fs.writeFileSync(path.join(dir, 'secret.txt'), 'outside the root');
  const frames = Buffer.alloc(3 * FRAME);
  for (let i = 0; i < 3; ++i) frames.fill(10 + i, i * FRAME, (i + 1) * FRAME);
  fs.writeFileSync(path.join(dir, 'frames.rgba'), frames);
  ({ server, url } = await startServer(parseArgs(['--port', '0', '--root', `/=${dir}/site`, '--frames', `${dir}/frames.rgba:${W}x${H}`])));
});
after(() => {
  server.close();
  fs.rmSync(dir, { recursive: true, force: true });
});

test('pages carry the cross-origin isolation headers unless isolated=0 is asked', async () => {
  const r = await fetch(url);
  assert.equal(r.status, 200);
  assert.equal(await r.text(), '<p>home</p>');
  assert.equal(r.headers.get('cross-origin-opener-policy'), 'same-origin');
  assert.equal(r.headers.get('cross-origin-embedder-policy'), 'require-corp');
  assert.equal(r.headers.get('cross-origin-resource-policy'), 'same-origin');
  const plain = await fetch(new URL('/?isolated=0', url));
  assert.equal(plain.status, 200);
  assert.equal(plain.headers.get('cross-origin-opener-policy'), null);
  assert.equal(plain.headers.get('cross-origin-embedder-policy'), null);
});

test('WebAssembly is served as application/wasm (streaming compilation needs it)', async () => {
  const r = await fetch(new URL('/sub/m.wasm', url));
  assert.equal(r.headers.get('content-type'), 'application/wasm');
  assert.deepEqual([...new Uint8Array(await r.arrayBuffer())], [0, 97, 115, 109]);
});

test('nothing outside a root is served, nor a missing file', async () => {
  for (const p of ['/../secret.txt', '/%2e%2e/secret.txt', '/sub/../../secret.txt', '/nope.html', '/%E0%A4%A']) {
    const r = await fetch(new URL(p, url));
    assert.equal(r.status, 404, p);
  }
  // fetch normalises "..": send the raw path too.
  const raw = await new Promise((resolve) => {
    import('node:http').then(({ default: http }) => {
      http.get({ host: '127.0.0.1', port: new URL(url).port, path: '/../secret.txt' }, (res) => resolve(res.statusCode));
    });
  });
  assert.equal(raw, 404);
  const posted = await fetch(url, { method: 'POST', body: 'x' });
  assert.equal(posted.status, 405);
});

test('frames are served one at a time by index, with their count', async () => {
  const info = await (await fetch(new URL('/frames/info', url))).json();
  assert.deepEqual(info, { width: W, height: H, count: 3 });
  for (let i = 0; i < 3; ++i) {
    const b = new Uint8Array(await (await fetch(new URL(`/frames/${i}`, url))).arrayBuffer());
    assert.equal(b.length, FRAME);
    assert.ok(b.every((v) => v === 10 + i), `frame ${i}`);
  }
  for (const bad of ['3', '-1', 'x', '1.5']) assert.equal((await fetch(new URL(`/frames/${bad}`, url))).status, 404, bad);
});

test('bad command lines are refused with a reason', () => {
  assert.throws(() => parseArgs(['--root', 'nodir']), /--root wants/);
  assert.throws(() => parseArgs(['--frames', 'f.rgba']), /--frames wants/);
  assert.throws(() => parseArgs(['--bogus']), /unknown argument/);
  assert.throws(() => parseArgs(['--port']), /needs a value/);
});
