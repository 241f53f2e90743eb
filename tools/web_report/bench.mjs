// The report's page: one tracker, the franck frames fetched one at a time from the
// server's /frames/ route, each drawn to a canvas (for the peers, which read a canvas)
// and handed to the tracker; only the tracker's own call is timed.
//
// The driver (report.mjs) opens bench.html?tracker=NAME[&backend=wasm], awaits
// window.benchReady, then calls window.runFrames(from, to) chunk by chunk. Each chunk
// returns { times: [ms], faces: [0|1], points: [flat array | null], updateTimes: [ms] | null }
// (Kestavo's `update` alone, beside its whole step).
//
// Thread safety: browser main thread only.
import { createTracker } from './trackers.mjs';

const params = new URLSearchParams(location.search);
const status = document.getElementById('status');
const canvas = document.getElementById('frame');

async function fetchFrame(i, info) {
  const res = await fetch(`/frames/${i}`);
  if (!res.ok) throw new Error(`frame ${i}: HTTP ${res.status}`);
  const data = new Uint8ClampedArray(await res.arrayBuffer());
  return { width: info.width, height: info.height, data };
}

async function setUp() {
  const info = await (await fetch('/frames/info')).json();
  canvas.width = info.width;
  canvas.height = info.height;
  const ctx = canvas.getContext('2d', { willReadFrequently: true });
  const name = params.get('tracker');
  const tracker = await createTracker(name, { backend: params.get('backend') || undefined });

  window.runFrames = async (from, to) => {
    const times = [], faces = [], points = [], updateTimes = [];
    for (let i = from; i < to && i < info.count; ++i) {
      const frame = await fetchFrame(i, info);
      ctx.putImageData(new ImageData(frame.data, frame.width, frame.height), 0, 0);
      if (tracker.init && !tracker.initialised) tracker.init(frame);
      const t0 = performance.now();
      const r = await tracker.step(frame, canvas);
      times.push(performance.now() - t0);
      faces.push(r.face ? 1 : 0);
      points.push(r.points);
      if (r.updateMs !== undefined) updateTimes.push(r.updateMs);
    }
    status.textContent = `${name}: frames ${from}–${to - 1} done`;
    return { times, faces, points, updateTimes: updateTimes.length ? updateTimes : null };
  };
  // Start-up figures once init has run (Kestavo: module load and kvo_init).
  window.benchStartup = () => tracker.startup || null;
  status.textContent = `${name} ready`;
  return {
    tracker: name,
    description: tracker.description,
    frames: info.count,
    crossOriginIsolated: self.crossOriginIsolated,
    startup: tracker.startup || null,
    errors: tracker.errors || [],
  };
}

window.benchReady = setUp().catch((e) => {
  status.textContent = `Error: ${e.message}`;
  return { error: e.message };
});
