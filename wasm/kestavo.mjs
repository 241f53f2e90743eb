// Kestavo in the browser (and in Node): the face tracker's WebAssembly module behind
// the same 36 named functions a native host calls, and a per-frame result object, a frame
// loop over a video, camera or canvas, and an overlay drawing for JavaScript users.
//
// What it represents: one tracker. createKestavo() loads a module instance of its own
// (threaded in a cross-origin isolated page or worker, otherwise single-threaded; always
// single-threaded in Node), makes the host runtime inside it and binds the library's
// function table. track(source) hands over a frame and returns what was found in it;
// call(name, ...args) calls a function by name with plain JavaScript values and returns
// plain values; init(), update() and updateByEyes() hand over frames. A source is an
// ImageData, {width, height, data} with RGBA bytes (4 per pixel, rows one after another),
// or in a browser an HTMLVideoElement, HTMLCanvasElement, OffscreenCanvas, ImageBitmap or
// HTMLImageElement, whose pixels are read through a canvas of the tracker's own.
//
// Errors: every misuse (a call before init, a frame of the wrong size or with a detached
// buffer, no frame, an unknown name, a value that cannot be passed, a face-shape getter
// when no face is tracked) reaches onError as one line starting with "Error:"
// (console.warn when no callback is given). A setter then returns false (true when the
// library took it), anything else null. Nothing here throws once createKestavo() has
// resolved; createKestavo() itself rejects with one "Error: ..." message when the module
// cannot be loaded (threads asked for where they cannot run, a missing file).
//
// Thread safety: use a tracker from the thread (page or worker) that created it. The
// threaded module runs the library's worker threads in its own pool of web workers.
import { draw as drawResult } from './draw.mjs';

export { POINT_COLOUR, MESH_COLOUR } from './draw.mjs';

const isNode = typeof process !== 'undefined' && !!(process.versions && process.versions.node);

// The command-line tracker's detector settings for video (kvo_setFaceDetectionVars'
// arguments: start scale, scale increment, max scale, step factor, min detections, full
// scan): faces from 72 px wide (24 px x (2.5 + 0.5)) with the window shifted by 0.05 of its
// width, where the library's defaults (4, 0.5, 12, 0.04, 12, false) start at 108 px.
export const VIDEO_DETECTION_VARS = Object.freeze([2.5, 0.5, 12, 0.05, 12, false]);

// True when this context can run the threaded module: a browser page or worker with
// SharedArrayBuffer that is cross-origin isolated (COOP/COEP headers). Never in Node: the
// threaded module starts its threads as web workers, which Node does not have.
export function threadsAvailable() {
  if (isNode) return false;
  if (typeof SharedArrayBuffer === 'undefined' || typeof WebAssembly === 'undefined') return false;
  return globalThis.crossOriginIsolated === true;
}

// Why threads cannot run here (for the rejection of threads: true).
function whyNoThreads() {
  if (isNode) {
    return 'Node has no web workers, which the threaded module runs its threads in; ' +
      "in Node use threads: 'auto' (the default) or false for the single-threaded module.";
  }
  if (typeof SharedArrayBuffer === 'undefined' || globalThis.crossOriginIsolated !== true) {
    return 'this page is not cross-origin isolated, so it has no SharedArrayBuffer (serve it with ' +
      "Cross-Origin-Opener-Policy: same-origin and Cross-Origin-Embedder-Policy: require-corp), or use threads: 'auto' or false.";
  }
  return "this context has no WebAssembly; use threads: 'auto' or false.";
}

function now() {
  return typeof performance !== 'undefined' ? performance.now() : Date.now();
}

// What createKestavo() rejects with: an Error whose text is the one "Error: ..." line (its
// name is empty, so that a printed stack does not read "Error: Error: ...").
class KestavoLoadError extends Error {}
Object.defineProperty(KestavoLoadError.prototype, 'name', { value: '' });

function messageOf(e) {
  const text = e && e.message ? e.message : String(e);
  // A module's own error can quote a line of minified code: keep the first line, briefly.
  const first = text.split('\n')[0];
  return first.length > 300 ? `${first.slice(0, 300)}…` : first;
}

// options:
//   threads: 'auto' (default; threaded when threadsAvailable()), true, or false
//   onError: function (line) receiving each "Error: ..." line; default console.warn
//   onPrint: function (line) for the module's other output; default console.log
//   baseUrl: where the module files are (default: beside this file)
//   wasmBinary: the .wasm bytes (in Node they are read from the package folder)
export async function createKestavo(options = {}) {
  if (options === null || typeof options !== 'object') {
    throw new KestavoLoadError('Error: createKestavo takes an options object ({threads, onError, onPrint, baseUrl, wasmBinary}) or nothing.');
  }
  const onError = typeof options.onError === 'function' ? options.onError : (line) => console.warn(line);
  const onPrint = typeof options.onPrint === 'function' ? options.onPrint : (line) => console.log(line);
  const want = options.threads === undefined ? 'auto' : options.threads;
  if (want !== 'auto' && want !== true && want !== false) {
    throw new KestavoLoadError(`Error: threads must be 'auto', true or false, not ${JSON.stringify(want)}.`);
  }
  const threaded = want === 'auto' ? threadsAvailable() : want;
  if (threaded && !threadsAvailable()) {
    throw new KestavoLoadError(`Error: threads: true asks for the threaded Kestavo module, which cannot run here: ${whyNoThreads()}`);
  }
  const base = options.baseUrl ? new URL(options.baseUrl, import.meta.url) : new URL('./', import.meta.url);
  const name = threaded ? 'kestavo-threads' : 'kestavo-single';
  const started = now();
  const script = new URL(`${name}.js`, base).href;
  let factory;
  try {
    factory = (await import(script)).default;
  } catch (e) {
    throw new KestavoLoadError(`Error: the Kestavo module ${script} could not be loaded: ${messageOf(e)}`);
  }
  // Error lines are counted so that a call can tell whether the library refused it.
  const errors = { count: 0, report: onError };
  const route = (line) => {
    const text = String(line);
    if (!text.startsWith('Error:')) return onPrint(text);
    errors.count += 1;
    return errors.report(text);
  };
  const moduleOptions = {
    print: route,
    printErr: route,
    locateFile: (file) => new URL(file, base).href,
  };
  if (options.wasmBinary) {
    moduleOptions.wasmBinary = options.wasmBinary;
  } else if (isNode) {
    const { readFile } = await import('node:fs/promises');
    const { fileURLToPath } = await import('node:url');
    const file = fileURLToPath(new URL(`${name}.wasm`, base));
    try {
      moduleOptions.wasmBinary = await readFile(file);
    } catch (e) {
      throw new KestavoLoadError(`Error: the Kestavo module's ${file} could not be read: ${messageOf(e)}`);
    }
  }
  let module;
  try {
    module = await factory(moduleOptions);
  } catch (e) {
    throw new KestavoLoadError(`Error: the Kestavo module ${name} could not be started: ${messageOf(e)}`);
  }
  const loadMs = now() - started;
  return new Kestavo(module, threaded, loadMs, errors);
}

// The overlay drawing, also kvo.draw(): see draw.mjs.
export function draw(target, result, options = {}) {
  return drawResult(target, result, options);
}

function isFrame(v) {
  return v !== null && typeof v === 'object' && 'width' in v && 'height' in v && 'data' in v;
}

const hasType = (name) => typeof globalThis[name] === 'function';
const isA = (v, name) => hasType(name) && v instanceof globalThis[name];

// The pixel size of a browser source (video, canvas, bitmap, image), or null when `v` is
// none of them.
function sourceSize(v) {
  if (v === null || typeof v !== 'object') return null;
  if (isA(v, 'HTMLVideoElement')) return { width: v.videoWidth, height: v.videoHeight, video: true };
  if (isA(v, 'HTMLImageElement')) return { width: v.naturalWidth, height: v.naturalHeight };
  if (isA(v, 'HTMLCanvasElement') || isA(v, 'OffscreenCanvas') || isA(v, 'ImageBitmap') ||
      isA(v, 'VideoFrame')) {
    return { width: v.displayWidth || v.width, height: v.displayHeight || v.height };
  }
  return null;
}

const SOURCES = 'an ImageData, {width, height, data} with RGBA bytes, an HTMLVideoElement, ' +
  'HTMLCanvasElement, OffscreenCanvas, ImageBitmap or HTMLImageElement';

// States in which the library holds a face shape: the start phase (a shape not yet
// confirmed) and the confirmed track.
const FACE_STATES = new Set(['state_face_tracking_start', 'state_face_tracking']);

// Getters whose values describe the tracked face: without a face they would give the last
// shape's or the mean shape's values, so they are refused then.
const SHAPE_GETTERS = new Set([
  'kvo_get_faceShape_points', 'kvo_get_faceShape_bounds', 'kvo_get_faceShape_faceShapeVectices',
  'kvo_get_faceShape_candideShapeVertices', 'kvo_get_faceShape_scale', 'kvo_get_faceShape_translationX',
  'kvo_get_faceShape_translationY', 'kvo_get_faceShape_rotationX', 'kvo_get_faceShape_rotationY',
  'kvo_get_faceShape_rotationZ',
]);

// Functions that return a value: the getters, and the frame calls (the state name).
const gives = (name) => name.startsWith('kvo_get_') || name === 'kvo_update' || name === 'kvo_updateByEyes';

// Flat x, y lists as [{x, y}].
function asPoints(v) {
  if (!Array.isArray(v) || v.length === 0) return [];
  if (typeof v[0] === 'object') return v;
  const out = new Array(v.length >> 1);
  for (let i = 0; i < out.length; ++i) out[i] = { x: v[2 * i], y: v[2 * i + 1] };
  return out;
}

class Kestavo {
  constructor(module, threaded, loadMs, errors) {
    this.threaded = threaded;
    this.startup = { loadMs, initMs: null };
    this._module = module;
    this._errors = errors;
    this._session = new module.WebSession();
    this.names = Object.freeze(this._toArray(this._session.names()));
    this._known = new Set(this.names);
    this._frameSize = null;   // [width, height] of kvo_init's frame
    this._lastState = null;   // the state the last frame call gave (null: none, or reset)
    this._triangles = null;   // the Candide mesh's triangles, read once
    this._scratch = null;     // the canvas a browser source's pixels are read through
    this._loop = null;        // the frame loop of start()
  }

  _toArray(v) {
    return Array.isArray(v) ? v : Array.from(v);
  }

  _error(message) {
    this._errors.count += 1;
    this._errors.report(`Error: ${message}`);
    return null;
  }

  _refuse(message) {
    this._error(message);
    return false;
  }

  // The failure value of `name`: false for a setter, null for a function with a value.
  _fail(name, message) {
    this._error(message);
    return typeof name === 'string' && this._known.has(name) && !gives(name) ? false : null;
  }

  // Error lines reported so far (the library's and this API's).
  get errorCount() {
    return this._errors.count;
  }

  // [width, height] the tracker was initialised with, or null before init.
  get frameSize() {
    return this._frameSize ? [...this._frameSize] : null;
  }

  // True while a start() loop runs.
  get running() {
    return this._loop !== null;
  }

  // RGBA pixels of a source ({width, height, data}), or null after an error line. Browser
  // sources are drawn at the tracker's frame size once initialised (scaled when their
  // own size differs), else at their own size.
  _pixels(source, caller) {
    if (isFrame(source)) return source;
    const size = sourceSize(source);
    if (size === null) return this._error(`${caller}: the frame must be ${SOURCES}.`);
    if (!(size.width > 0 && size.height > 0)) {
      return this._error(`${caller}: the ${size.video ? 'video has no frame yet (it is still loading)' : 'source is empty (0 pixels)'}.`);
    }
    const [w, h] = this._frameSize || [size.width, size.height];
    try {
      if (this._scratch === null) {
        if (hasType('OffscreenCanvas')) this._scratch = new OffscreenCanvas(w, h);
        else if (typeof document !== 'undefined') this._scratch = document.createElement('canvas');
        else return this._error(`${caller}: this context has no canvas to read the source's pixels with.`);
        this._scratchContext = this._scratch.getContext('2d', { willReadFrequently: true });
      }
      const c = this._scratch;
      if (c.width !== w || c.height !== h) {
        c.width = w;
        c.height = h;
      }
      this._scratchContext.drawImage(source, 0, 0, w, h);
      return this._scratchContext.getImageData(0, 0, w, h);
    } catch (e) {
      const why = e && e.name === 'SecurityError'
        ? 'the source comes from another origin without CORS, so its pixels cannot be read'
        : messageOf(e);
      return this._error(`${caller}: the source's pixels could not be read (${why}).`);
    }
  }

  // Copies a frame into the module; false after an error line.
  _handOver(frame, caller) {
    if (!isFrame(frame)) {
      this._error(`${caller}: the frame must be ${SOURCES}.`);
      return false;
    }
    const { width, height, data } = frame;
    if (!Number.isInteger(width) || !Number.isInteger(height) || width <= 0 || height <= 0) {
      this._error(`${caller}: the frame size ${width} x ${height} is not a positive whole number of pixels.`);
      return false;
    }
    if (!(data instanceof Uint8Array || data instanceof Uint8ClampedArray)) {
      this._error(`${caller}: the frame's data must be a Uint8Array or Uint8ClampedArray of RGBA bytes.`);
      return false;
    }
    if (data.buffer.byteLength === 0 && width * height > 0) {
      this._error(`${caller}: the frame's buffer is detached (it was transferred elsewhere).`);
      return false;
    }
    if (data.length !== width * height * 4) {
      this._error(`${caller}: the frame's data holds ${data.length} bytes; ${width} x ${height} RGBA needs ` +
                  `${width * height * 4}.`);
      return false;
    }
    if (this._frameSize && caller !== 'kvo_init' &&
        (this._frameSize[0] !== width || this._frameSize[1] !== height)) {
      this._error(`${caller}: the frame is ${width} x ${height}; the tracker was initialised with ` +
                  `${this._frameSize[0]} x ${this._frameSize[1]}.`);
      return false;
    }
    const at = this._session.frameBuffer(width, height);
    if (!at) return false;
    // Views on wasm memory are made afresh: a growing memory replaces the buffer.
    this._module.HEAPU8.set(data, at);
    this._session.frameFilled();
    return true;
  }

  // The library's function through the bridge, without this API's checks; null when the
  // module itself failed.
  _raw(name, args) {
    try {
      return this._session.call(name, args);
    } catch (e) {
      // The bridge catches the host's errors; anything else is the module's own failure.
      return this._error(`${name}: ${messageOf(e)}`);
    }
  }

  // Calls a named function with plain values. A frame (any source) may be given where the
  // function takes its bitmap. Getters that fill an object need no argument and return it.
  // Setters return true when the library took the call, false after an error line.
  call(name, ...args) {
    if (typeof name !== 'string' || !this._known.has(name)) {
      return this._error(`Kestavo has no function named '${String(name)}'.`);
    }
    if (this._session === null) return this._fail(name, `${name}: this tracker was disposed.`);
    if (name === 'kvo_init') {
      const roi = args.length >= 5 ? { x: args[1], y: args[2], width: args[3], height: args[4] } : undefined;
      return this.init(args[0], roi);
    }
    if (SHAPE_GETTERS.has(name) && !FACE_STATES.has(this._lastState)) {
      return this._fail(name, `${name}: no face is tracked (${this._lastState === null ? 'no frame tracked yet'
        : `the last frame gave ${this._lastState}`}); the face's values exist only in state_face_tracking_start ` +
        'and state_face_tracking (track() gives them with each frame).');
    }
    const frames = [];
    for (let i = 0; i < args.length; ++i) {
      if (isFrame(args[i]) || sourceSize(args[i]) !== null) frames.push(i);
    }
    if (frames.length > 1) return this._fail(name, `${name}: at most one frame per call.`);
    if ((name === 'kvo_update' || name === 'kvo_updateByEyes') && !this._frameSize) {
      return this._fail(name, `${name}: kvo_init must be called first (or use track(), which starts with it).`);
    }
    if (frames.length === 1) {
      const frame = this._pixels(args[frames[0]], name);
      if (frame === null || !this._handOver(frame, name)) return gives(name) ? null : false;
      args = args.slice();
      args[frames[0]] = { __kvoFrame: 1 };
    } else if (name === 'kvo_update' || name === 'kvo_updateByEyes') {
      return this._fail(name, `${name}: no frame was given; pass ${SOURCES}.`);
    }
    const before = this._errors.count;
    const result = this._raw(name, args);
    if (name === 'kvo_update' || name === 'kvo_updateByEyes') {
      if (typeof result === 'string') this._lastState = result;
      return result;
    }
    if (gives(name)) return result;
    const taken = this._errors.count === before;
    if (taken && name === 'kvo_reset') this._lastState = null;
    return taken;
  }

  // Initialises the tracker with the first frame's size; roi {x, y, width, height} in
  // frame pixels, default the whole frame. Returns true when the tracker took it, false
  // after an error line.
  init(frame, roi) {
    if (this._session === null) return this._fail('kvo_init', 'kvo_init: this tracker was disposed.');
    if (this._frameSize) return this._fail('kvo_init', 'kvo_init: the tracker is already initialised; it keeps its first frame size.');
    const pixels = this._pixels(frame, 'kvo_init');
    if (pixels === null) return false;
    if (roi !== undefined && (roi === null || typeof roi !== 'object' ||
        ![roi.x, roi.y, roi.width, roi.height].every(Number.isFinite))) {
      return this._fail('kvo_init', 'kvo_init: the region must be {x, y, width, height} in frame pixels.');
    }
    const r = roi || { x: 0, y: 0, width: pixels.width, height: pixels.height };
    const started = now();
    if (!this._handOver(pixels, 'kvo_init')) return false;
    const before = this._errors.count;
    this._raw('kvo_init', [{ __kvoFrame: 1 }, r.x, r.y, r.width, r.height]);
    if (this._errors.count !== before) return false;
    this._frameSize = [pixels.width, pixels.height];
    this._lastState = null;
    this.startup.initMs = now() - started;
    return true;
  }

  // One frame: returns the state name the call reports (the library reports it after its
  // own error lines too), or null when no frame could be handed over.
  update(frame) {
    if (arguments.length === 0 || frame === undefined || frame === null) {
      return this._error(`kvo_update: no frame was given; pass ${SOURCES}.`);
    }
    return this.call('kvo_update', frame);
  }

  // Starts a track from two eye centres {x, y} in frame pixels, `searches` searches.
  updateByEyes(frame, eyeA, eyeB, searches = 10) {
    if (frame === undefined || frame === null) {
      return this._error(`kvo_updateByEyes: no frame was given; pass ${SOURCES}.`);
    }
    return this.call('kvo_updateByEyes', frame, eyeA, eyeB, searches);
  }

  // One frame, with what was found in it (see kestavo.d.ts, TrackResult): the tracker is
  // initialised with the first frame's size. Null after an error line.
  track(source) {
    if (this._session === null) return this._error('track: this tracker was disposed.');
    const frame = this._pixels(source, 'track');
    if (frame === null) return null;
    if (!this._frameSize && this.init(frame) !== true) return null;
    const t0 = now();
    const state = this.call('kvo_update', frame);
    if (typeof state !== 'string') return null;
    const updateMs = now() - t0;
    return this._result(state, updateMs);
  }

  _result(state, updateMs) {
    const [width, height] = this._frameSize;
    const face = FACE_STATES.has(state);
    const r = {
      state,
      tracked: face,
      confirmed: state === 'state_face_tracking',
      points: null,
      bounds: null,
      pose: null,
      candide: null,
      score: null,
      detectedFace: null,
      trackedPoints: null,
      width,
      height,
      updateMs,
    };
    if (face) {
      r.points = asPoints(this._raw('kvo_get_faceShape_points', []));
      r.bounds = this._raw('kvo_get_faceShape_bounds', []);
      // The pose and the mesh once the shape is confirmed, with the Candide fit on.
      if (state === 'state_face_tracking' && this._raw('kvo_get_candideEnabled', []) === true) {
        if (this._triangles === null) this._triangles = this._raw('kvo_get_faceShape_candideShapeTriangles', []) || [];
        const vertices = asPoints(this._raw('kvo_get_faceShape_candideShapeVertices', []));
        if (vertices.length > 0) r.candide = { vertices, triangles: this._triangles };
        r.pose = {
          rotationX: this._raw('kvo_get_faceShape_rotationX', []),
          rotationY: this._raw('kvo_get_faceShape_rotationY', []),
          rotationZ: this._raw('kvo_get_faceShape_rotationZ', []),
          translationX: this._raw('kvo_get_faceShape_translationX', []),
          translationY: this._raw('kvo_get_faceShape_translationY', []),
          scale: this._raw('kvo_get_faceShape_scale', []),
        };
      }
    } else if (state === 'state_face_detection') {
      const f = this._raw('kvo_get_lastDetectedFace', []);
      if (f && f.width > 0 && f.height > 0) r.detectedFace = f;
    } else if (state === 'state_point_tracking') {
      const pts = asPoints(this._raw('kvo_get_pointsToTrack', []));
      const ok = this._raw('kvo_get_pointStates', []) || [];
      r.trackedPoints = pts.map((p, i) => ({ x: p.x, y: p.y, valid: !!ok[i] }));
    }
    return r;
  }

  // Tracks every new frame of `source` (an HTMLVideoElement, a MediaStream such as a
  // camera's, an HTMLCanvasElement or OffscreenCanvas) and hands each result to
  // onResult(result). A video is read on each new frame it presents
  // (requestVideoFrameCallback where the browser has it, else each animation frame whose
  // video time moved); a canvas on each animation frame. Returns true when the loop
  // started, false after an error line.
  start(source, onResult) {
    if (this._session === null) return this._refuse('start: this tracker was disposed.');
    if (this._loop !== null) return this._refuse('start: a loop is already running; call stop() first.');
    if (typeof onResult !== 'function') return this._refuse('start: onResult must be a function (result) => {...}.');
    if (typeof requestAnimationFrame !== 'function') {
      return this._refuse('start: this context has no requestAnimationFrame (a browser page has); call track() per frame instead.');
    }
    let video = null, ownVideo = false;
    if (isA(source, 'MediaStream')) {
      if (typeof document === 'undefined') return this._refuse('start: a MediaStream needs a page to play it in.');
      video = document.createElement('video');
      video.muted = true;
      video.playsInline = true;
      video.srcObject = source;
      ownVideo = true;
      video.play().catch((e) => this._error(`start: the stream could not be played (${messageOf(e)}).`));
    } else if (isA(source, 'HTMLVideoElement')) {
      video = source;
    } else if (!isA(source, 'HTMLCanvasElement') && !isA(source, 'OffscreenCanvas')) {
      return this._refuse('start: the source must be an HTMLVideoElement, a MediaStream (a camera\'s), ' +
                          'an HTMLCanvasElement or an OffscreenCanvas; for single frames use track().');
    }
    const loop = { video, ownVideo, source: video || source, handle: 0, byVideo: false, lastTime: -1 };
    const schedule = () => {
      if (this._loop !== loop) return;
      loop.byVideo = video !== null && typeof video.requestVideoFrameCallback === 'function';
      loop.handle = loop.byVideo ? video.requestVideoFrameCallback(tick) : requestAnimationFrame(tick);
    };
    const tick = (_, meta) => {
      if (this._loop !== loop) return;
      try {
        const ready = video === null || (video.readyState >= 2 && video.videoWidth > 0);
        const time = video === null ? -1 : meta ? meta.mediaTime : video.currentTime;
        if (ready && (video === null || meta || time !== loop.lastTime)) {
          loop.lastTime = time;
          const result = this.track(loop.source);
          if (result !== null) {
            if (video !== null) result.mediaTime = time;
            onResult(result);
          }
        }
      } catch (e) {
        this._error(`start: onResult threw: ${messageOf(e)}`);
      }
      schedule();
    };
    this._loop = loop;
    schedule();
    return true;
  }

  // Ends the start() loop (and the video it made for a MediaStream). True when one ran.
  stop() {
    const loop = this._loop;
    if (loop === null) return false;
    this._loop = null;
    if (loop.byVideo && typeof loop.video.cancelVideoFrameCallback === 'function') loop.video.cancelVideoFrameCallback(loop.handle);
    else if (!loop.byVideo && typeof cancelAnimationFrame === 'function') cancelAnimationFrame(loop.handle);
    if (loop.ownVideo) {
      loop.video.pause();
      loop.video.srcObject = null;
    }
    return true;
  }

  // Draws a result on a canvas (see draw.mjs); error lines go to this tracker's onError.
  draw(target, result, options = {}) {
    const report = (line) => {
      this._errors.count += 1;
      this._errors.report(line);
    };
    return drawResult(target, result, { ...options, onError: report });
  }

  // Frees the module instance's tracker session (and stops its loop); later calls give an
  // error line.
  dispose() {
    this.stop();
    if (this._session !== null) {
      this._session.delete();
      this._session = null;
    }
  }
}
