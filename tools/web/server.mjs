// A small static file server for the browser page, the browser tests and the browser
// report: serves folders under URL prefixes, and decoded video frames one at a time.
//
// Every response carries the two headers that make a page cross-origin isolated
// (Cross-Origin-Opener-Policy: same-origin, Cross-Origin-Embedder-Policy: require-corp),
// which the threaded WebAssembly module needs for SharedArrayBuffer, plus
// Cross-Origin-Resource-Policy: same-origin. A request whose query has `isolated=0` is
// answered without them, so a page can be opened not isolated on purpose.
//
// Frames: `--frames FILE:WIDTHxHEIGHT` serves a raw RGBA file (frames back to back) as
// GET /frames/info → {"width", "height", "count"} and GET /frames/<i> → the 4·w·h bytes
// of frame i. Only files under the given roots are served; `..` never leaves a root.
//
// Usage: node tools/web/server.mjs [--port N] [--host H] --root /PREFIX/=DIR ... [--frames FILE:WxH]
// Prints "serving http://HOST:PORT/" once listening. Port 0 picks a free port.
//
// Thread safety: one Node event loop; file reads are asynchronous and independent.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';

const MIME = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.jpg': 'image/jpeg',
  '.svg': 'image/svg+xml',
  '.mp4': 'video/mp4',
  '.webm': 'video/webm',
  '.bin': 'application/octet-stream',
  '.map': 'application/json',
};

// Parses the command line. Ensures: roots sorted longest prefix first.
export function parseArgs(argv) {
  const opts = { port: 8327, host: '127.0.0.1', roots: [], frames: null };
  for (let i = 0; i < argv.length; ++i) {
    const a = argv[i];
    const next = () => {
      if (i + 1 >= argv.length) throw new Error(`${a} needs a value`);
      return argv[++i];
    };
    if (a === '--port') opts.port = Number(next());
    else if (a === '--host') opts.host = next();
    else if (a === '--root') {
      const v = next();
      const eq = v.indexOf('=');
      if (eq <= 0) throw new Error(`--root wants /PREFIX/=DIR, got ${v}`);
      let prefix = v.slice(0, eq);
      if (!prefix.endsWith('/')) prefix += '/';
      opts.roots.push({ prefix, dir: path.resolve(v.slice(eq + 1)) });
    } else if (a === '--frames') {
      const m = /^(.*):(\d+)x(\d+)$/.exec(next());
      if (!m) throw new Error('--frames wants FILE:WIDTHxHEIGHT');
      opts.frames = { file: path.resolve(m[1]), width: Number(m[2]), height: Number(m[3]) };
    } else throw new Error(`unknown argument ${a}`);
  }
  opts.roots.sort((x, y) => y.prefix.length - x.prefix.length);
  return opts;
}

function isolationHeaders(url) {
  if (url.searchParams.get('isolated') === '0') return {};
  return {
    'Cross-Origin-Opener-Policy': 'same-origin',
    'Cross-Origin-Embedder-Policy': 'require-corp',
    'Cross-Origin-Resource-Policy': 'same-origin',
  };
}

function send(res, status, headers, body) {
  res.writeHead(status, { 'Cache-Control': 'no-store', ...headers });
  res.end(body);
}

// Maps a URL path to a file under one of the roots, or null.
export function resolveFile(roots, urlPath) {
  let decoded;
  try {
    decoded = decodeURIComponent(urlPath);
  } catch {
    return null;
  }
  for (const { prefix, dir } of roots) {
    if (!(decoded + '/').startsWith(prefix) && decoded !== prefix.slice(0, -1)) continue;
    let rest = decoded.slice(prefix.length);
    if (rest === '' || rest.endsWith('/')) rest += 'index.html';
    const file = path.resolve(dir, '.' + path.posix.normalize('/' + rest));
    if (file !== dir && !file.startsWith(dir + path.sep)) return null;
    return file;
  }
  return null;
}

export function createServer(opts) {
  let frameCount = 0;
  let frameFd = null;
  const frameBytes = opts.frames ? opts.frames.width * opts.frames.height * 4 : 0;
  if (opts.frames) {
    const size = fs.statSync(opts.frames.file).size;
    if (size % frameBytes !== 0) throw new Error(`${opts.frames.file}: ${size} bytes is not a whole number of frames`);
    frameCount = size / frameBytes;
    frameFd = fs.openSync(opts.frames.file, 'r');
  }

  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://localhost');
    const iso = isolationHeaders(url);
    if (req.method !== 'GET' && req.method !== 'HEAD') return send(res, 405, iso, 'method not allowed');

    if (opts.frames && url.pathname.startsWith('/frames/')) {
      const what = url.pathname.slice('/frames/'.length);
      if (what === 'info') {
        const { width, height } = opts.frames;
        return send(res, 200, { ...iso, 'Content-Type': 'application/json' },
          JSON.stringify({ width, height, count: frameCount }));
      }
      const i = /^\d+$/.test(what) ? Number(what) : -1;
      if (i < 0 || i >= frameCount) return send(res, 404, iso, 'no such frame');
      const buf = Buffer.allocUnsafe(frameBytes);
      fs.read(frameFd, buf, 0, frameBytes, i * frameBytes, (err, n) => {
        if (err || n !== frameBytes) return send(res, 500, iso, 'frame read failed');
        send(res, 200, { ...iso, 'Content-Type': 'application/octet-stream' }, buf);
      });
      return;
    }

    const file = resolveFile(opts.roots, url.pathname);
    if (!file) return send(res, 404, iso, 'not found');
    fs.stat(file, (err, st) => {
      if (err || !st.isFile()) return send(res, 404, iso, 'not found');
      const type = MIME[path.extname(file).toLowerCase()] || 'application/octet-stream';
      res.writeHead(200, { ...iso, 'Cache-Control': 'no-store', 'Content-Type': type, 'Content-Length': st.size });
      if (req.method === 'HEAD') return res.end();
      fs.createReadStream(file).pipe(res);
    });
  });
  server.on('close', () => {
    if (frameFd !== null) fs.closeSync(frameFd);
  });
  return server;
}

// Starts a server and resolves with { server, url } once it listens.
export function startServer(opts) {
  const server = createServer(opts);
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(opts.port, opts.host, () => {
      const { port } = server.address();
      resolve({ server, url: `http://${opts.host === '0.0.0.0' ? '127.0.0.1' : opts.host}:${port}/` });
    });
  });
}

if (import.meta.url === `file://${process.argv[1]}`) {
  let opts;
  try {
    opts = parseArgs(process.argv.slice(2));
  } catch (e) {
    console.log(`Error: ${e.message}`);
    process.exit(2);
  }
  startServer(opts).then(({ url }) => console.log(`serving ${url}`), (e) => {
    console.log(`Error: ${e.message}`);
    process.exit(1);
  });
}
