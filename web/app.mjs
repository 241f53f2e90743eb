// The live page: camera (getUserMedia) or a video file → the package's frame loop
// (kvo.start over the video element) → the tracked face drawn over the video with the
// package's draw(), with controls for the mode and the main settings.
//
// URL parameters: `video=URL` plays that video instead of the camera (`autoplay=1` is
// implied), `threads=auto|1|0` chooses the module (default auto: threaded when the page is
// cross-origin isolated). For tests and tools the page publishes `window.kvoPage`:
// { ready (Promise of {threaded, isolated}), counters, states and mediaTimes (one per
// frame), errors (the library's Error: lines), refinement, timing (median and p95 of
// kvo_update over the last frames), mirrored, invalid (the fields refused), kvo (the
// instance), lastResult, hold }.
//
// Settings: the detector starts with the command-line tracker's video settings (faces from
// 72 px wide; the library's defaults start at 108 px) and the landmark refinement
// (kvo_setFaceTrackingVars' fifth argument) is asked for, as that tracker does. A library
// built without a refiner model refuses it with one Error: line; the page then says so
// beside the checkbox, unticks and disables it, and keeps that line out of `errors`, since
// the page asked on its own. Fields are checked before anything is applied: a field the
// library cannot take gets a message beside it and no setting changes. When no face has
// been found for HINT_FRAMES frames in face tracking or detection, a hint under the video
// names the face widths searched and how to change them.
//
// Thread safety: browser main thread only; one frame is processed at a time.

const MODULE_URL = '/kestavo/kestavo.mjs';
const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
const canvas = $('view');
const video = $('video');

// The last frames' kvo_update times the running median and p95 are taken over.
const TIMING_WINDOW = 120;
// Frames without a face before the page says which face widths the detector searches
// (about 4 s of a 25 fps video; the command-line tracker says so after 100 frames too).
const HINT_FRAMES = 100;

let holding = false;
const page = {
  ready: null,
  kvo: null,
  threaded: null,
  isolated: self.crossOriginIsolated === true && typeof SharedArrayBuffer !== 'undefined',
  errors: [],
  states: [],
  // The video time of each frame in `states`, seconds.
  mediaTimes: [],
  // frames: processed; firstFace: index of the first frame with a shape (a detection
  // found a face); firstTracking: index of the first "state_face_tracking" frame;
  // tracking / trackingStart / detection: frames in those states from the first face on.
  counters: { frames: 0, firstFace: -1, firstTracking: -1, tracking: 0, trackingStart: 0, detection: 0, other: 0 },
  lastResult: null,
  // The refinement as last handed to the library: asked (the fifth argument), on (taken),
  // refusal (the library's line when it refused, else null).
  refinement: { asked: false, on: false, refusal: null },
  timing: { median: null, p95: null, frames: 0 },
  mirrored: false,
  invalid: [],
  // While true no frame is processed and the canvas keeps the last one drawn (a test sets
  // it to compare a screenshot with the result that was drawn).
  get hold() {
    return holding;
  },
  set hold(v) {
    holding = !!v;
    if (holding) {
      if (page.kvo) page.kvo.stop();
    } else {
      run();
    }
  },
};
window.kvoPage = page;

let drawFrame = null;       // the package's draw()
let videoDetectionVars = null;

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

let createKestavo = null;

async function loadModule() {
  const wanted = params.get('threads') || 'auto';
  const threads = wanted === '1' ? true : wanted === '0' ? false : 'auto';
  if (createKestavo === null) {
    let api;
    try {
      api = await import(MODULE_URL);
    } catch (e) {
      showMessage(`Could not load the Kestavo module (${MODULE_URL}): build and serve it with scripts/serve.sh. (${e.message})`, true);
      throw e;
    }
    ({ createKestavo, draw: drawFrame, VIDEO_DETECTION_VARS: videoDetectionVars } = api);
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

// Each field's rule: a message when the value cannot be taken, else null.
const FIELDS = {
  'min-face-size': (v) => (v >= 1 ? null : 'a face size of at least 1 px'),
  'max-face-size': (v, all) => (v < 1 ? 'a face size of at least 1 px'
    : all['min-face-size'] !== undefined && v < all['min-face-size'] ? 'at least the min face size' : null),
  'start-scale': (v) => (v > 0 ? null : 'a scale above 0 (the window is 24 px × scale)'),
  'scale-increment': (v) => (v > 0 ? null : 'an increment above 0'),
  'max-scale': (v, all) => (v <= 0 ? 'a scale above 0'
    : all['start-scale'] !== undefined && all['scale-increment'] !== undefined &&
      !(all['start-scale'] + all['scale-increment'] < v)
      ? 'above start scale + increment (otherwise no face size is searched)' : null),
  'step-factor': (v) => (v > 0 && v <= 1 ? null : 'a share of the window above 0 and at most 1'),
  'min-detections': (v) => (Number.isInteger(v) && v >= 1 ? null : 'a whole number of at least 1'),
};

// The fields' values, each checked, with its message shown beside it; null when any is
// refused (page.invalid names them).
function readFields() {
  const values = {}, problems = {};
  for (const id of Object.keys(FIELDS)) {
    const text = $(id).value.trim();
    const v = Number(text);
    if (text === '' || !Number.isFinite(v)) problems[id] = 'a number is needed';
    else values[id] = v;
  }
  for (const [id, rule] of Object.entries(FIELDS)) {
    if (problems[id] === undefined) {
      const why = rule(values[id], values);
      if (why !== null) problems[id] = why;
    }
    const span = $(`${id}-error`);
    span.textContent = problems[id] ? `needs ${problems[id]}` : '';
    span.hidden = !problems[id];
    $(id).setAttribute('aria-invalid', problems[id] ? 'true' : 'false');
  }
  page.invalid = Object.keys(problems);
  showFaceRange(values);
  return page.invalid.length === 0 ? values : null;
}

// The face widths the detector reports: windows of 24 px × scale for the scales strictly
// between the start and the max scale, as far as the frame allows.
function showFaceRange(values) {
  const start = values['start-scale'], inc = values['scale-increment'], max = values['max-scale'];
  const note = $('face-range');
  if (!(start > 0 && inc > 0 && max > start + inc)) {
    note.textContent = 'no face size is searched with these values';
    return;
  }
  const frame = page.kvo && page.kvo.frameSize ? Math.min(...page.kvo.frameSize) : Infinity;
  const smallest = 24 * (start + inc);
  const steps = Math.ceil((max - start) / inc) - 1;
  const largest = Math.min(24 * (start + steps * inc), frame);
  note.textContent = smallest > frame ? `faces from ${smallest.toFixed(0)} px: larger than the frame`
    : `faces from ${smallest.toFixed(0)} to ${largest.toFixed(0)} px wide`;
}

function noteApply(text) {
  framesWithoutFace = 0;
  const n = $('apply-note');
  n.textContent = text;
  n.hidden = text === '';
}

// kvo_setFaceTrackingVars with the Tracking fields, the refinement as its fifth argument.
function applyTrackingVars(values) {
  const kvo = page.kvo;
  const box = $('refine');
  const asked = box.checked && !box.disabled;
  page.refinement = { asked, on: false, refusal: null };
  refinementPending = asked;
  let taken;
  try {
    taken = kvo.call('kvo_setFaceTrackingVars', values['min-face-size'], values['max-face-size'],
      $('strict').checked ? 1 : 0, Number($('fine-search').value), asked);
  } finally {
    refinementPending = false;
  }
  page.refinement.on = asked && taken === true;
  const note = $('refine-note');
  if (page.refinement.refusal !== null) {
    box.checked = false;
    box.disabled = true;
    note.textContent = 'This build of the library has no refiner model, so the landmark refinement is off.';
    // The rest of the call was refused with it: ask again without the refinement.
    taken = kvo.call('kvo_setFaceTrackingVars', values['min-face-size'], values['max-face-size'],
      $('strict').checked ? 1 : 0, Number($('fine-search').value), false);
  } else if (page.refinement.on) {
    note.textContent = 'The landmark refinement is on: a learned correction after each shape search ' +
      '(kvo_setFaceTrackingVars\' fifth argument true), as in the command-line tracker.';
  } else if (!box.disabled) {
    note.textContent = 'The landmark refinement is off: the library\'s shape search alone.';
  }
  note.hidden = false;
  return taken;
}

function applyTrackingFields() {
  if (!page.kvo || !initialised) return;
  const values = readFields();
  if (values === null) {
    noteApply(`Nothing applied: fix the field${page.invalid.length > 1 ? 's' : ''} marked.`);
    return;
  }
  noteApply(applyTrackingVars(values) ? '' : 'The library refused the tracking settings (see the messages below).');
}

function applySettings() {
  const kvo = page.kvo;
  if (!kvo || !initialised) return;
  const values = readFields();
  if (values === null) {
    noteApply(`Nothing applied: fix the field${page.invalid.length > 1 ? 's' : ''} marked.`);
    return;
  }
  kvo.call('kvo_set_candideEnabled', $('candide').checked);
  kvo.call('kvo_set_candideActionUnitsEnabled', $('action-units').checked);
  const tracking = applyTrackingVars(values);
  const detection = kvo.call('kvo_setFaceDetectionVars', values['start-scale'], values['scale-increment'],
    values['max-scale'], values['step-factor'], values['min-detections'], $('full-scan').checked);
  if (detection) appliedRange = $('face-range').textContent;
  noteApply(tracking && detection ? '' : 'The library refused some settings (see the messages below).');
}

function wireControls() {
  $('mode').addEventListener('change', () => page.kvo && initialised && page.kvo.call('kvo_set_mode', $('mode').value));
  $('reset').addEventListener('click', () => {
    framesWithoutFace = 0;
    if (page.kvo && initialised) page.kvo.call('kvo_reset');
  });
  $('candide').addEventListener('change', () => initialised && page.kvo.call('kvo_set_candideEnabled', $('candide').checked));
  $('action-units').addEventListener('change', () =>
    initialised && page.kvo.call('kvo_set_candideActionUnitsEnabled', $('action-units').checked));
  $('refine').addEventListener('change', applyTrackingFields);
  $('apply').addEventListener('click', applySettings);
  $('mirror').addEventListener('change', () => { page.mirrored = $('mirror').checked; });
  for (const id of Object.keys(FIELDS)) $(id).addEventListener('input', () => readFields());
  $('camera').addEventListener('click', startCamera);
  $('file').addEventListener('change', () => {
    const f = $('file').files[0];
    if (f) startVideo(URL.createObjectURL(f));
  });
  canvas.addEventListener('click', (ev) => {
    if (!initialised || $('mode').value !== 'mode_point_tracking') return;
    const r = canvas.getBoundingClientRect();
    let x = ((ev.clientX - r.left) * canvas.width) / r.width;
    const y = ((ev.clientY - r.top) * canvas.height) / r.height;
    if (page.mirrored) x = canvas.width - x;
    page.kvo.call('kvo_addPointsToTrack', [{ x, y }]);
  });
}

function setMirror(on) {
  $('mirror').checked = on;
  page.mirrored = on;
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
    setMirror(true);
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
  setMirror(false);
  video.src = src;
  try {
    await video.play();
  } catch (e) {
    showMessage(`The video could not be played (${e.name}: ${e.message}).`, true);
  }
}

// ---- the frame loop --------------------------------------------------------------------

let initialised = false;
let attaching = false;
const arrivals = [];
const updateTimes = [];

function quantile(sorted, q) {
  return sorted[Math.min(sorted.length - 1, Math.max(0, Math.ceil(q * sorted.length) - 1))];
}

function count(state, mediaTime) {
  const c = page.counters;
  page.states.push(state);
  page.mediaTimes.push(mediaTime);
  c.frames += 1;
  if (c.firstFace < 0 && (state === 'state_face_tracking_start' || state === 'state_face_tracking')) c.firstFace = c.frames - 1;
  if (c.firstTracking < 0 && state === 'state_face_tracking') c.firstTracking = c.frames - 1;
  if (c.firstFace < 0) return;
  if (state === 'state_face_tracking') c.tracking += 1;
  else if (state === 'state_face_tracking_start') c.trackingStart += 1;
  else if (state === 'state_face_detection') c.detection += 1;
  else c.other += 1;
}

// Frames since a face was last followed (or the settings or the tracker were reset), and
// the face widths the detector was last given.
let framesWithoutFace = 0;
let appliedRange = '';

function updateHint(result) {
  const hint = $('hint');
  const faceMode = result.state === 'state_face_detection' || result.tracked;
  framesWithoutFace = result.tracked || !faceMode ? 0 : framesWithoutFace + 1;
  if (framesWithoutFace < HINT_FRAMES) {
    if (!hint.hidden) hint.hidden = true;
    return;
  }
  if (!hint.hidden) return;
  hint.textContent = `No face found in the last ${framesWithoutFace} frames. The detector searches ` +
    `${appliedRange}; for a smaller face lower the start scale ` +
    '(a window is 24 px × scale), for a larger one raise the max scale, then apply.';
  hint.hidden = false;
}

function onResult(result) {
  count(result.state, result.mediaTime);
  updateHint(result);
  page.lastResult = result;
  updateTimes.push(result.updateMs);
  if (updateTimes.length > TIMING_WINDOW) updateTimes.shift();
  const sorted = [...updateTimes].sort((a, b) => a - b);
  page.timing = { median: quantile(sorted, 0.5), p95: quantile(sorted, 0.95), frames: sorted.length };
  const t = performance.now();
  arrivals.push(t);
  while (arrivals.length && t - arrivals[0] > 1000) arrivals.shift();
  const fps = arrivals.length > 1 ? ((arrivals.length - 1) * 1000) / (t - arrivals[0]) : 0;
  const timing = `median ${page.timing.median.toFixed(1)} ms, p95 ${page.timing.p95.toFixed(1)} ms`;
  $('timing').textContent = `kvo_update: ${timing} over the last ${page.timing.frames} frames`;
  drawFrame(canvas, result, {
    image: video,
    mirror: page.mirrored,
    points: $('show-points').checked,
    caption: `${fps.toFixed(1)} fps  ${timing}\n${result.state}`,
  });
}

// Starts the package's loop over the video once the tracker has its frame size.
function run() {
  const kvo = page.kvo;
  if (!kvo || !initialised || holding || kvo.running) return;
  kvo.start(video, onResult);
}

// A video with a frame: (re)makes the tracker for its size, applies the settings and runs.
async function attach() {
  const w = video.videoWidth, h = video.videoHeight;
  if (attaching || w === 0 || h === 0 || !page.kvo) return;
  attaching = true;
  try {
    if (initialised && (w !== page.kvo.frameSize[0] || h !== page.kvo.frameSize[1])) {
      // The library keeps the frame size of its first frame: a new size needs a new tracker.
      page.kvo.dispose();
      initialised = false;
      await loadModule();
    }
    if (!initialised) {
      canvas.width = w;
      canvas.height = h;
      if (page.kvo.init(video) !== true) return;
      initialised = true;
      applySettings();
      if ($('mode').value !== 'mode_face_tracking') page.kvo.call('kvo_set_mode', $('mode').value);
    }
    run();
  } finally {
    attaching = false;
  }
}

// The detector's fields start at the command-line tracker's video values.
function videoDefaults() {
  const [start, inc, max, step, minDet, full] = videoDetectionVars;
  $('start-scale').value = String(start);
  $('scale-increment').value = String(inc);
  $('max-scale').value = String(max);
  $('step-factor').value = String(step);
  $('min-detections').value = String(minDet);
  $('full-scan').checked = full;
}

wireControls();
page.ready = loadModule().then((kvo) => {
  videoDefaults();
  readFields();
  video.addEventListener('loadeddata', () => attach().catch((e) => showMessage(`Frame processing stopped: ${e.message}`, true)));
  video.addEventListener('resize', () => attach().catch((e) => showMessage(`Frame processing stopped: ${e.message}`, true)));
  const src = params.get('video');
  if (src) startVideo(src);
  else startCamera();
  return { threaded: kvo.threaded, isolated: page.isolated };
}).catch((e) => ({ error: e.message }));
