// Which points of each browser tracker are the same points as ours, and the landmark
// error against the franck annotations (which are in our 68-point layout).
//
// Our layout: docs/landmark-layout.md (left/right as seen in the image).
// - clmtrackr (its 71-point model, numbering image facemodel_numbering_new.png in its
//   package): the 13 points both place by the same rule — outer/inner eye corners 23/25
//   (image-left eye) and 28/30 (image-right eye), nose tip 62 and base centre 37, mouth
//   corners 44/50, outer lip top/bottom centres 47/53, inner lip upper/lower centres 60/57,
//   chin 7.
// - face-api (iBUG/dlib 68, 0-based): the 17 core points that tools/landmarks
//   (LandmarkCorrespondence) pairs by definition: the 13 above plus the four brow ends.
// - Kestavo: all 68, index for index.
//
// Error of one frame on a point set = mean point distance / the annotation's distance
// between points 27 and 32 (the outer eye corners).
//
// Thread safety: constant tables and pure functions.

// ours → clmtrackr
export const CLM_FROM_OURS = {
  27: 23, 29: 25, 32: 28, 34: 30, 67: 62, 41: 37,
  48: 44, 54: 50, 51: 47, 57: 53, 64: 60, 61: 57, 7: 7,
};

// ours → dlib/iBUG (as in tools/landmarks/LandmarkCorrespondence.cpp, core pairs)
export const DLIB_FROM_OURS = {
  27: 36, 29: 39, 34: 42, 32: 45,
  21: 17, 24: 21, 18: 22, 15: 26,
  67: 30, 41: 33,
  48: 48, 54: 54, 51: 51, 57: 57, 64: 62, 61: 66,
  7: 8,
};

export const SHARED13 = [27, 29, 32, 34, 67, 41, 48, 54, 51, 57, 64, 61, 7];
export const CORE17 = Object.keys(DLIB_FROM_OURS).map(Number);
export const ALL68 = Array.from({ length: 68 }, (_, i) => i);

// Per tracker: how its points map into ours, and the points it shares with ours.
export const LAYOUTS = {
  'kestavo-threads': { fromOurs: null, own: ALL68, ownName: 'all 68' },
  'kestavo-single': { fromOurs: null, own: ALL68, ownName: 'all 68' },
  'kestavo-native': { fromOurs: null, own: ALL68, ownName: 'all 68' },
  clmtrackr: { fromOurs: CLM_FROM_OURS, own: SHARED13, ownName: 'its 13' },
  'face-api': { fromOurs: DLIB_FROM_OURS, own: CORE17, ownName: 'its 17' },
};

// The tracker's point for our index `ours`, or null when the layout has none.
export function pointAt(points, fromOurs, ours) {
  const k = fromOurs ? fromOurs[ours] : ours;
  if (k === undefined || points === null || 2 * k + 1 >= points.length) return null;
  return [points[2 * k], points[2 * k + 1]];
}

// Requires: `annotation` 136 values in our layout. Returns NaN when the eye distance is not
// positive or a point needed is missing or not finite.
export function frameError(points, fromOurs, annotation, set) {
  const eye = Math.hypot(annotation[54] - annotation[64], annotation[55] - annotation[65]);
  if (!(eye > 0)) return NaN;
  let sum = 0;
  for (const i of set) {
    const p = pointAt(points, fromOurs, i);
    if (!p || !Number.isFinite(p[0]) || !Number.isFinite(p[1])) return NaN;
    sum += Math.hypot(p[0] - annotation[2 * i], p[1] - annotation[2 * i + 1]);
  }
  return sum / set.length / eye;
}

// Parses franck_0000-2399.txt: lines "i x0 y0 ... x67 y67". Returns a Map frame → 136 numbers.
export function parseAnnotations(text) {
  const out = new Map();
  for (const line of text.split('\n')) {
    const f = line.trim().split(/\s+/);
    if (f.length !== 137) continue;
    const v = f.slice(1).map(Number);
    if (v.every(Number.isFinite)) out.set(Number(f[0]), v);
  }
  return out;
}

// Median and 95th percentile (nearest rank) of numbers; NaN values ignored.
export function quantile(values, q) {
  const v = values.filter(Number.isFinite).sort((a, b) => a - b);
  if (v.length === 0) return NaN;
  return v[Math.min(v.length - 1, Math.max(0, Math.ceil(q * v.length) - 1))];
}

export function mean(values) {
  const v = values.filter(Number.isFinite);
  return v.length ? v.reduce((a, b) => a + b, 0) / v.length : NaN;
}
