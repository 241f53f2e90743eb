// The trackers the browser report compares, each behind the same small interface so the
// page hands every one the same frames the same way:
//   const t = await createTracker(name, options);  // loads code and models (not timed per frame)
//   const r = await t.step(frame, canvas);          // one frame → { face: bool, points: [x0, y0, ...] | null }
//   t.description                                   // what exactly runs (backend, model, settings)
// `frame` is {width, height, data: Uint8ClampedArray RGBA}; `canvas` already holds the same
// pixels (the peers read a canvas, Kestavo reads the buffer). Points are in each tracker's
// own layout (Kestavo: ours, 68; clmtrackr: its 71; face-api: iBUG/dlib 68).
//
// Thread safety: browser main thread only; one tracker per page.

function loadScript(src) {
  return new Promise((resolve, reject) => {
    const s = document.createElement('script');
    s.src = src;
    s.onload = resolve;
    s.onerror = () => reject(new Error(`cannot load ${src}`));
    document.head.appendChild(s);
  });
}

// Kestavo through its JavaScript API: `kvo_update` on every frame, then the 68 points
// when the state has a shape ("state_face_tracking_start" or "state_face_tracking").
async function kestavo(threads, options) {
  const { createKestavo } = await import(options.kestavoUrl || '/kestavo/kestavo.mjs');
  const errors = [];
  const t0 = performance.now();
  const kvo = await createKestavo({ threads, onError: (line) => errors.push(line) });
  const createMs = performance.now() - t0;
  let initialised = false;
  return {
    description: `Kestavo ${kvo.threaded ? 'threaded (pthreads)' : 'single-threaded'} WebAssembly, default settings`,
    errors,
    get startup() {
      return { createMs, ...(kvo.startup || {}) };
    },
    threaded: kvo.threaded,
    init(frame) {
      kvo.init(frame);
      initialised = true;
    },
    step(frame) {
      const t0 = performance.now();
      const state = kvo.update(frame);
      const updateMs = performance.now() - t0;
      const face = state === 'state_face_tracking' || state === 'state_face_tracking_start';
      let points = null;
      if (face) {
        // [{x, y}] (a flat x, y list is taken as it is).
        const p = kvo.call('kvo_get_faceShape_points') || [];
        if (typeof p[0] === 'number') points = Array.from(p);
        else {
          points = new Array(p.length * 2);
          for (let i = 0; i < p.length; ++i) {
            points[2 * i] = p[i].x;
            points[2 * i + 1] = p[i].y;
          }
        }
      }
      return { face, points, state, updateMs };
    },
    get initialised() {
      return initialised;
    },
  };
}

// clmtrackr 1.1.2 with the model its build bundles (model_pca_20_svm), one `track` call
// (one fitting step, or the start of its face detection) per frame. Its face detector is
// bound to the element by `start`, which also starts its own animation-frame loop: the
// loop is stopped at once, so that only our calls fit. Its detector runs in a web worker
// (its default), as on a live page: frames handed while it works get no face.
async function clmtrackr(options) {
  await loadScript(options.clmtrackrUrl || '/peers/clmtrackr/build/clmtrackr.js');
  const ctrack = new window.clm.tracker();
  ctrack.init();
  let started = false;
  const gl = document.createElement('canvas').getContext('webgl');
  const dbg = gl && gl.getExtension('WEBGL_debug_renderer_info');
  const renderer = gl ? gl.getParameter(dbg ? dbg.UNMASKED_RENDERER_WEBGL : gl.RENDERER) : 'none';
  return {
    description: `clmtrackr 1.1.2, bundled model_pca_20_svm, default parameters (useWebGL true; WebGL renderer: ${renderer})`,
    step(frame, canvas) {
      if (!started) {
        ctrack.start(canvas);
        ctrack.stop();
        started = true;
      }
      const r = ctrack.track(canvas);
      if (!r) return { face: false, points: null };
      const points = new Array(r.length * 2);
      for (let i = 0; i < r.length; ++i) {
        points[2 * i] = r[i][0];
        points[2 * i + 1] = r[i][1];
      }
      return { face: true, points };
    },
  };
}

// @vladmandic/face-api 1.7.15: its tiny face detector (default options: input 416,
// score threshold 0.5) and its 68-point landmark net, the models its package ships,
// on the TensorFlow.js backend asked for (wasm by default).
async function faceApi(options) {
  const faceapi = await import(options.faceApiUrl || '/peers/face-api/dist/face-api.esm.js');
  const backend = options.backend || 'wasm';
  if (backend === 'wasm') faceapi.tf.setWasmPaths(options.tfjsWasmUrl || '/peers/tfjs-backend-wasm/dist/');
  if (!(await faceapi.tf.setBackend(backend))) throw new Error(`face-api: backend ${backend} not available`);
  await faceapi.tf.ready();
  const models = options.faceApiModels || '/peers/face-api/model';
  await faceapi.nets.tinyFaceDetector.loadFromUri(models);
  await faceapi.nets.faceLandmark68Net.loadFromUri(models);
  const detectorOptions = new faceapi.TinyFaceDetectorOptions();
  let flags = '';
  if (backend === 'wasm') {
    const env = faceapi.tf.env();
    flags = `, wasm SIMD ${env.getBool('WASM_HAS_SIMD_SUPPORT')}, wasm threads ${env.getBool('WASM_HAS_MULTITHREAD_SUPPORT')}`;
  }
  return {
    description: `face-api 1.7.15 (tfjs ${faceapi.tf.version_core}), tiny face detector (input 416, threshold 0.5) + faceLandmark68Net, backend ${faceapi.tf.getBackend()}${flags}`,
    async step(frame, canvas) {
      const r = await faceapi.detectSingleFace(canvas, detectorOptions).withFaceLandmarks();
      if (!r) return { face: false, points: null };
      const pos = r.landmarks.positions;
      const points = new Array(pos.length * 2);
      for (let i = 0; i < pos.length; ++i) {
        points[2 * i] = pos[i].x;
        points[2 * i + 1] = pos[i].y;
      }
      return { face: true, points };
    },
  };
}

export async function createTracker(name, options = {}) {
  switch (name) {
    case 'kestavo-threads':
      return kestavo(true, options);
    case 'kestavo-single':
      return kestavo(false, options);
    case 'clmtrackr':
      return clmtrackr(options);
    case 'face-api':
      return faceApi(options);
    default:
      throw new Error(`unknown tracker ${name}`);
  }
}
