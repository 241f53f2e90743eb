// The live page: camera (getUserMedia) or a video file → canvas → Kestavo → the tracked
// face drawn over the video, with controls for the mode and the main settings.
//
// URL parameters: `video=URL` plays that video instead of the camera (`autoplay=1` is
// implied), `threads=auto|1|0` chooses the module (default auto: threaded when the page is
// cross-origin isolated). For tests and tools the page publishes `window.kvoPage`:
// { ready (Promise of {threaded, isolated}), counters, states (one per frame), errors
// (the library's Error: lines), refinement, kvo (the instance), lastResult, hold }.
//
// The landmark refinement (kvo_setFaceTrackingVars' fifth argument) is asked for by
// default (the "Landmark refinement" checkbox). A library built without a refiner model
// refuses it with one Error: line; the page then says so beside the checkbox, unticks and
// disables it, and keeps that line out of `errors`, since the page asked on its own.
//
// Thread safety: browser main thread only; one frame is processed at a time.
import { drawOverlay } from './overlay.mjs';

const MODULE_URL = '/kestavo/kestavo.mjs';
const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
const canvas = $('view');
const ctx = canvas.getContext('2d', { willReadFrequently: true });
const video = $('video');

const page = {
  ready: null,
  kvo: null,
  threaded: null,
  isolated: self.crossOriginIsolated === true && typeof SharedArrayBuffer !== 'undefined',
  errors: [],
  states: [],
  // frames: processed; firstFace: index of the first frame with a shape (a detection
  // found a face); firstTracking: index of the first "state_face_tracking" frame;
  // tracking / trackingStart / detection: frames in those states from the first face on.
  counters: { frames: 0, firstFace: -1, firstTracking: -1, tracking: 0, trackingStart: 0, detection: 0, other: 0 },
  lastResult: null,
  // The refinement as last handed to the library: asked (the fifth argument), on (taken),
  // refusal (the library's line when it refused, else null).
  refinement: { asked: false, on: false, refusal: null },
  // While true no frame is processed and the canvas keeps the last one drawn (a test sets
  // it to compare a screenshot with the result that was drawn).
  hold: false,
};
window.kvoPage = page;

function showMessage(text, isError = false) {
  const m = $('message');
  m.textContent = text;
  m.className = isError ? 'error' : '';
  m.hidden = false;
}

// True while kvo_setFaceTrackingVars runs with the refinement asked for: its refusal is
// then the page's to report, not an error of the page's use.
let refinementPending = false;

function libraryError(line) {
  if (refinementPending && /refine/.test(line)) {
    page.refinement.refusal = line;
    return;
  }
  page.errors.push(line);
  console.warn(line);
  const li = document.createElement('li');
  li.textContent = line;
  const list = $('errors');
  list.prepend(li);
  while (list.children.length > 5) list.lastChild.remove();
}

// ---- the module ------------------------------------------------------------------------

async function loadModule() {
  const wanted = params.get('threads') || 'auto';
  const threads = wanted === '1' ? true : wanted === '0' ? false : 'auto';
  let createKestavo;
  try {
    ({ createKestavo } = await import(MODULE_URL));
  } catch (e) {
    showMessage(`Could not load the Kestavo module (${MODULE_URL}): build and serve it with scripts/serve.sh. (${e.message})`, true);
    throw e;
  }
  if (!page.isolated && threads !== false) {
    showMessage('This page is not cross-origin isolated, so the browser offers no SharedArrayBuffer: ' +
      'the single-threaded module is loaded (slower). Serve the page with scripts/serve.sh, which sends ' +
      'the COOP/COEP headers, to get the threaded one.');
  }
  const kvo = await createKestavo({ threads: page.isolated ? threads : false, onError: libraryError });
  page.kvo = kvo;
  page.threaded = kvo.threaded;
  $('module-info').textContent = `${kvo.threaded ? 'threaded' : 'single-threaded'} module` +
    (page.isolated ? ', cross-origin isolated' : ', not cross-origin isolated');
  return kvo;
}

// ---- settings --------------------------------------------------------------------------

const num = (id) => Number($(id).value);

// kvo_setFaceTrackingVars with the Tracking controls, the refinement as its fifth argument.
function applyTrackingVars() {
  const kvo = page.kvo;
  if (!kvo || !initialised) return;
  const box = $('refine');
  const asked = box.checked && !box.disabled;
  page.refinement = { asked, on: false, refusal: null };
  refinementPending = asked;
  try {
    kvo.call('kvo_setFaceTrackingVars', num('min-face-size'), num('max-face-size'), $('strict').checked ? 1 : 0,
      num('fine-search'), asked);
  } finally {
    refinementPending = false;
  }
  page.refinement.on = asked && page.refinement.refusal === null;
  if (page.refinement.refusal !== null) {
    box.checked = false;
    box.disabled = true;
    const note = $('refine-note');
    note.textContent = 'This build of the library has no refiner model, so the landmark refinement is off.';
    note.hidden = false;
  }
}

function applySettings() {
  const kvo = page.kvo;
  if (!kvo || !initialised) return;
  kvo.call('kvo_set_candideEnabled', $('candide').checked);
  kvo.call('kvo_set_candideActionUnitsEnabled', $('action-units').checked);
  applyTrackingVars();
  kvo.call('kvo_setFaceDetectionVars', num('start-scale'), num('scale-increment'), num('max-scale'),
    num('step-factor'), num('min-detections'), $('full-scan').checked);
}

function wireControls() {
  $('mode').addEventListener('change', () => page.kvo && initialised && page.kvo.call('kvo_set_mode', $('mode').value));
  $('reset').addEventListener('click', () => page.kvo && initialised && page.kvo.call('kvo_reset'));
  $('candide').addEventListener('change', () => initialised && page.kvo.call('kvo_set_candideEnabled', $('candide').checked));
  $('action-units').addEventListener('change', () =>
    initialised && page.kvo.call('kvo_set_candideActionUnitsEnabled', $('action-units').checked));
  $('refine').addEventListener('change', applyTrackingVars);
  $('apply').addEventListener('click', applySettings);
  $('camera').addEventListener('click', startCamera);
  $('file').addEventListener('change', () => {
    const f = $('file').files[0];
    if (f) startVideo(URL.createObjectURL(f));
  });
  canvas.addEventListener('click', (ev) => {
    if (!initialised || $('mode').value !== 'mode_point_tracking') return;
    const r = canvas.getBoundingClientRect();
    const x = ((ev.clientX - r.left) * canvas.width) / r.width;
    const y = ((ev.clientY - r.top) * canvas.height) / r.height;
    page.kvo.call('kvo_addPointsToTrack', [{ x, y }]);
  });
}

// ---- sources ---------------------------------------------------------------------------

function stopStream() {
  const s = video.srcObject;
  if (s) s.getTracks().forEach((t) => t.stop());
  video.srcObject = null;
}

async function startCamera() {
  if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
    showMessage('This browser gives this page no camera (camera access needs https or localhost): choose a video file.', true);
    return;
  }
  try {
    const stream = await navigator.mediaDevices.getUserMedia({ video: { width: { ideal: 640 }, height: { ideal: 480 } }, audio: false });
    video.removeAttribute('src');
    video.srcObject = stream;
    await video.play();
  } catch (e) {
    if (e.name === 'NotAllowedError' || e.name === 'SecurityError') {
      showMessage('The camera was refused: allow it in the site settings and reload the page, or choose a video file.', true);
    } else if (e.name === 'NotFoundError' || e.name === 'OverconstrainedError') {
      showMessage('No camera was found: choose a video file.', true);
    } else if (e.name === 'NotReadableError') {
      showMessage('The camera is in use by another program: close it, or choose a video file.', true);
    } else {
      showMessage(`The camera could not be started (${e.name}: ${e.message}): choose a video file.`, true);
    }
  }
}

async function startVideo(src) {
  stopStream();
  video.src = src;
  try {
    await video.play();
  } catch (e) {
    showMessage(`The video could not be played (${e.name}: ${e.message}).`, true);
  }
}

// ---- the frame loop --------------------------------------------------------------------

let initialised = false;
let frameWidth = 0, frameHeight = 0;
let candideTriangles = null;
const frameTimes = [];

// Points as [{x, y}]: the getters give objects, or x, y numbers one after another.
function asPoints(v) {
  if (!Array.isArray(v) || v.length === 0) return [];
  if (typeof v[0] === 'object') return v;
  const out = new Array(v.length >> 1);
  for (let i = 0; i < out.length; ++i) out[i] = { x: v[2 * i], y: v[2 * i + 1] };
  return out;
}

function readResult(kvo, state) {
  const r = { state, detectedFace: null, points: null, bounds: null, candide: null, pose: null, hostPoints: null,
    showPoints: $('show-points').checked };
  if (state === 'state_face_detection') r.detectedFace = kvo.call('kvo_get_lastDetectedFace');
  if (state === 'state_face_tracking' || state === 'state_face_tracking_start') {
    r.points = asPoints(kvo.call('kvo_get_faceShape_points'));
    r.bounds = kvo.call('kvo_get_faceShape_bounds');
  }
  // The pose and the mesh once past the start phase, with the Candide fit on.
  if (state === 'state_face_tracking' && $('candide').checked) {
    if (!candideTriangles || candideTriangles.length === 0) candideTriangles = kvo.call('kvo_get_faceShape_candideShapeTriangles') || [];
    const vertices = asPoints(kvo.call('kvo_get_faceShape_candideShapeVertices'));
    if (vertices.length > 0) r.candide = { vertices, triangles: candideTriangles };
    r.pose = {
      scale: kvo.call('kvo_get_faceShape_scale'),
      tx: kvo.call('kvo_get_faceShape_translationX'),
      ty: kvo.call('kvo_get_faceShape_translationY'),
      rx: kvo.call('kvo_get_faceShape_rotationX'),
      ry: kvo.call('kvo_get_faceShape_rotationY'),
      rz: kvo.call('kvo_get_faceShape_rotationZ'),
    };
  }
  if (state === 'state_point_tracking') {
    const pts = asPoints(kvo.call('kvo_get_pointsToTrack'));
    const ok = kvo.call('kvo_get_pointStates') || [];
    r.hostPoints = pts.map((p, i) => ({ x: p.x, y: p.y, ok: !!ok[i] }));
  }
  return r;
}

function count(state) {
  const c = page.counters;
  page.states.push(state);
  c.frames += 1;
  if (c.firstFace < 0 && (state === 'state_face_tracking_start' || state === 'state_face_tracking')) c.firstFace = c.frames - 1;
  if (c.firstTracking < 0 && state === 'state_face_tracking') c.firstTracking = c.frames - 1;
  if (c.firstFace < 0) return;
  if (state === 'state_face_tracking') c.tracking += 1;
  else if (state === 'state_face_tracking_start') c.trackingStart += 1;
  else if (state === 'state_face_detection') c.detection += 1;
  else c.other += 1;
}

async function processFrame() {
  const kvo = page.kvo;
  const w = video.videoWidth, h = video.videoHeight;
  if (!kvo || page.hold || w === 0 || h === 0) return;
  if (initialised && (w !== frameWidth || h !== frameHeight)) {
    // The library keeps the frame size of its first frame: a new size needs a new tracker.
    kvo.dispose();
    initialised = false;
    candideTriangles = null;
    await loadModule();
    return;
  }
  if (canvas.width !== w || canvas.height !== h) {
    canvas.width = w;
    canvas.height = h;
  }
  ctx.drawImage(video, 0, 0, w, h);
  const frame = ctx.getImageData(0, 0, w, h);
  if (!initialised) {
    page.kvo.init(frame);
    initialised = true;
    frameWidth = w;
    frameHeight = h;
    applySettings();
    if ($('mode').value !== 'mode_face_tracking') page.kvo.call('kvo_set_mode', $('mode').value);
  }
  const t0 = performance.now();
  const state = kvo.update(frame);
  const updateMs = performance.now() - t0;
  if (state === null) return;  // the Error: line went to libraryError
  count(state);
  const result = readResult(kvo, state);
  page.lastResult = result;
  const now = performance.now();
  frameTimes.push(now);
  while (frameTimes.length && now - frameTimes[0] > 1000) frameTimes.shift();
  const fps = frameTimes.length > 1 ? ((frameTimes.length - 1) * 1000) / (now - frameTimes[0]) : 0;
  drawOverlay(ctx, result, `${fps.toFixed(1)} fps  ${updateMs.toFixed(1)} ms  ${state}`);
}

function loop() {
  const next = () => {
    if ('requestVideoFrameCallback' in video) video.requestVideoFrameCallback(tick);
    else requestAnimationFrame(tick);
  };
  const tick = () => {
    processFrame().catch((e) => showMessage(`Frame processing stopped: ${e.message}`, true)).finally(next);
  };
  next();
}

wireControls();
page.ready = loadModule().then((kvo) => {
  loop();
  const src = params.get('video');
  if (src) startVideo(src);
  else startCamera();
  return { threaded: kvo.threaded, isolated: page.isolated };
}).catch((e) => ({ error: e.message }));
