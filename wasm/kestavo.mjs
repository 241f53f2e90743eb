// Kestavo in the browser (and in Node): the face tracker's WebAssembly module behind
// the same 36 named functions a native host calls.
//
// What it represents: one tracker. createKestavo() loads a module instance of its own
// (threaded when the page can share memory, otherwise single-threaded), makes the host
// runtime inside it and binds the library's function table. call(name, ...args) calls a
// function by name with plain JavaScript values and returns plain values; init(),
// update() and updateByEyes() hand over frames (ImageData, or {width, height, data} with
// RGBA bytes, 4 per pixel, rows one after another).
//
// Errors: every misuse (a call before init, a frame of the wrong size or with a detached
// buffer, an unknown name, a value that cannot be passed) reaches onError as one line
// starting with "Error:" (console.warn when no callback is given) and the call returns
// null. Nothing here throws once createKestavo() has resolved; createKestavo() itself
// rejects when the module cannot be loaded (threads asked for but unavailable, a missing
// file).
//
// Thread safety: use a tracker from the thread (page or worker) that created it. The
// threaded module runs the library's worker threads in its own pool of web workers.

const isNode = typeof process !== 'undefined' && !!(process.versions && process.versions.node);

// True when this context can run the threaded module: SharedArrayBuffer is available and,
// in a page, it is cross-origin isolated (COOP/COEP headers).
export function threadsAvailable() {
  if (typeof SharedArrayBuffer === 'undefined' || typeof WebAssembly === 'undefined') return false;
  if (isNode) return true;
  return globalThis.crossOriginIsolated === true;
}

function now() {
  return typeof performance !== 'undefined' ? performance.now() : Date.now();
}

// options:
//   threads: 'auto' (default; threaded when threadsAvailable()), true, or false
//   onError: function (line) receiving each "Error: ..." line; default console.warn
//   onPrint: function (line) for the module's other output; default console.log
//   baseUrl: where the module files are (default: beside this file)
//   wasmBinary: the .wasm bytes (for Node, whose fetch cannot read file paths)
export async function createKestavo(options = {}) {
  const onError = typeof options.onError === 'function' ? options.onError : (line) => console.warn(line);
  const onPrint = typeof options.onPrint === 'function' ? options.onPrint : (line) => console.log(line);
  const want = options.threads === undefined ? 'auto' : options.threads;
  const threaded = want === 'auto' ? threadsAvailable() : !!want;
  if (threaded && !threadsAvailable()) {
    throw new Error('Error: the threaded Kestavo module needs SharedArrayBuffer and a cross-origin isolated page; ' +
                    "load it with threads: false or 'auto'.");
  }
  const base = options.baseUrl ? new URL(options.baseUrl, import.meta.url) : new URL('./', import.meta.url);
  const name = threaded ? 'kestavo-threads' : 'kestavo-single';
  const started = now();
  const factory = (await import(new URL(`${name}.js`, base).href)).default;
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
    moduleOptions.wasmBinary = await readFile(fileURLToPath(new URL(`${name}.wasm`, base)));
  }
  const module = await factory(moduleOptions);
  const loadMs = now() - started;
  return new Kestavo(module, threaded, loadMs, errors);
}

function isFrame(v) {
  return v !== null && typeof v === 'object' && 'width' in v && 'height' in v && 'data' in v;
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
    this._frameSize = null;  // [width, height] of kvo_init's frame
  }

  _toArray(v) {
    return Array.isArray(v) ? v : Array.from(v);
  }

  _error(message) {
    this._errors.count += 1;
    this._errors.report(`Error: ${message}`);
    return null;
  }

  // Error lines reported so far (the library's and this API's).
  get errorCount() {
    return this._errors.count;
  }

  // Copies a frame into the module; false after an error line.
  _handOver(frame, caller) {
    if (!isFrame(frame)) {
      this._error(`${caller}: the frame must be an ImageData or {width, height, data} with RGBA bytes.`);
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

  // Calls a named function with plain values. Frames may be given where the function
  // takes its bitmap. Getters that fill an object need no argument and return it.
  call(name, ...args) {
    if (this._session === null) return this._error(`${name}: this tracker was disposed.`);
    if (typeof name !== 'string' || !this._known.has(name)) {
      return this._error(`Kestavo has no function named '${String(name)}'.`);
    }
    const frames = args.filter(isFrame);
    if (frames.length > 1) return this._error(`${name}: at most one frame per call.`);
    if (frames.length === 1) {
      if (name === 'kvo_update' || name === 'kvo_updateByEyes') {
        if (!this._frameSize) return this._error(`${name}: kvo_init must be called first.`);
      }
      if (!this._handOver(frames[0], name)) return null;
      args = args.map((a) => (isFrame(a) ? { __kvoFrame: 1 } : a));
    }
    try {
      return this._session.call(name, args);
    } catch (e) {
      // The bridge catches the host's errors; anything else is the module's own failure.
      return this._error(`${name}: ${e && e.message ? e.message : String(e)}`);
    }
  }

  // Initialises the tracker with the first frame's size; roi {x, y, width, height} in
  // frame pixels, default the whole frame. Returns true when the tracker took it.
  init(frame, roi) {
    if (this._frameSize) return this._error('kvo_init: the tracker is already initialised; it keeps its first frame size.');
    if (!isFrame(frame)) return this._error('kvo_init: the frame must be an ImageData or {width, height, data} with RGBA bytes.');
    const r = roi || { x: 0, y: 0, width: frame.width, height: frame.height };
    const started = now();
    if (!this._handOver(frame, 'kvo_init')) return null;
    const before = this._errors.count;
    this._session.call('kvo_init', [{ __kvoFrame: 1 }, r.x, r.y, r.width, r.height]);
    if (this._errors.count !== before) return null;
    this._frameSize = [frame.width, frame.height];
    this.startup.initMs = now() - started;
    return true;
  }

  // One frame: returns the state name the call reports (the library reports it after its
  // own error lines too), or null when the frame could not be handed over.
  update(frame) {
    return this.call('kvo_update', frame);
  }

  // Starts a track from two eye centres {x, y} in frame pixels, `searches` searches.
  updateByEyes(frame, eyeA, eyeB, searches = 10) {
    return this.call('kvo_updateByEyes', frame, eyeA, eyeB, searches);
  }

  // Frees the module instance's tracker session; later calls give an error line.
  dispose() {
    if (this._session !== null) {
      this._session.delete();
      this._session = null;
    }
  }
}
