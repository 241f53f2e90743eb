// Drawing of one tracking result on a 2-D canvas: the frame itself (optional), the
// detected face, the Candide mesh, the 68 points and their bounds, the pose axes, the
// tracked host points and a caption. Colours are fixed so that a screenshot can be checked
// for the overlay: the 68 points are pure cyan (#00ffff), the Candide mesh magenta.
//
// Coordinates: a result is in frame pixels (result.width x result.height); the drawing is
// scaled to the canvas, so a canvas of any size (CSS-scaled or not) shows the frame whole.
// `mirror: true` flips the frame and the overlay left to right, as a selfie view; the
// caption stays readable.
//
// Errors: a target that is no canvas or 2-D context, or a result that is no object, gives
// one "Error:" line to `onError` (console.warn by default) and false; nothing throws.
//
// Thread safety: draws into the context it is given, on the caller's thread (a page, or a
// worker with an OffscreenCanvas).

export const POINT_COLOUR = '#00ffff';
export const MESH_COLOUR = 'rgba(220, 80, 220, 0.85)';
const BOUNDS_COLOUR = '#ff8c1a';
const DETECTION_COLOUR = '#ffd000';
const AXIS_COLOURS = ['#ff3030', '#30ff30', '#3080ff'];

const finite = (p) => p && Number.isFinite(p.x) && Number.isFinite(p.y);

function drawMesh(ctx, vertices, triangles) {
  ctx.strokeStyle = MESH_COLOUR;
  ctx.beginPath();
  for (let t = 0; t + 2 < triangles.length; t += 3) {
    for (let e = 0; e < 3; ++e) {
      const a = vertices[triangles[t + e]], b = vertices[triangles[t + ((e + 1) % 3)]];
      if (!finite(a) || !finite(b)) continue;
      ctx.moveTo(a.x, a.y);
      ctx.lineTo(b.x, b.y);
    }
  }
  ctx.stroke();
}

// Axes of the Candide frame, scaled like the mesh (image = s·R·v + t, rows 0 and 1 of
// R = Rz·Ry·Rx with the rotations in radians): x red, y green, z blue.
function drawAxes(ctx, pose, unit) {
  const { scale: s, translationX: tx, translationY: ty, rotationX: rx, rotationY: ry, rotationZ: rz } = pose;
  if (![s, tx, ty, rx, ry, rz].every(Number.isFinite) || !(s > 0)) return;
  const cx = Math.cos(rx), sx = Math.sin(rx), cy = Math.cos(ry), sy = Math.sin(ry);
  const cz = Math.cos(rz), sz = Math.sin(rz);
  const row0 = [cy * cz, -cy * sz, sy];
  const row1 = [sx * sy * cz + cx * sz, cx * cz - sx * sy * sz, -sx * cy];
  const length = 0.6 * s;
  ctx.lineWidth = 2.5 * unit;
  for (let k = 0; k < 3; ++k) {
    ctx.strokeStyle = AXIS_COLOURS[k];
    ctx.beginPath();
    ctx.moveTo(tx, ty);
    ctx.lineTo(tx + length * row0[k], ty + length * row1[k]);
    ctx.stroke();
  }
}

// Lines of text at the top left, sized to the canvas (a canvas shown larger than its
// pixels scales its text with it).
function caption(ctx, text) {
  const size = Math.max(10, Math.round(Math.min(ctx.canvas.width, ctx.canvas.height) / 28));
  ctx.font = `${size}px monospace`;
  ctx.lineWidth = Math.max(2, size / 4);
  ctx.strokeStyle = 'black';
  ctx.fillStyle = 'white';
  text.split('\n').forEach((line, i) => {
    const y = Math.round(size * (1.4 + 1.25 * i));
    ctx.strokeText(line, Math.round(size / 2), y);
    ctx.fillText(line, Math.round(size / 2), y);
  });
}

function contextOf(target) {
  if (target && typeof target.getContext === 'function') return target.getContext('2d');
  if (target && typeof target.arc === 'function' && target.canvas) return target;
  return null;
}

const on = (v) => v !== false;

// Draws `result` (from kvo.track) on `target`, a canvas or its 2-D context.
// options: image (a video, canvas, ImageBitmap or image drawn first, filling the frame),
//   mirror (false), points, bounds, mesh, axes, detection, trackedPoints (all true),
//   caption (text, top left; one line per \n), pointRadius (2.5 frame pixels), onError (console.warn).
// Returns true when drawn.
export function draw(target, result, options = {}) {
  const onError = typeof options.onError === 'function' ? options.onError : (line) => console.warn(line);
  const ctx = contextOf(target);
  if (!ctx) {
    onError('Error: draw: the target must be a canvas (HTMLCanvasElement or OffscreenCanvas) or its 2-D context.');
    return false;
  }
  if (result === null || typeof result !== 'object') {
    onError('Error: draw: the result must be the object kvo.track() returned.');
    return false;
  }
  const cw = ctx.canvas.width, ch = ctx.canvas.height;
  const fw = Number.isFinite(result.width) && result.width > 0 ? result.width : cw;
  const fh = Number.isFinite(result.height) && result.height > 0 ? result.height : ch;
  const sx = cw / fw, sy = ch / fh;
  // Line widths and dot sizes in canvas pixels whatever the scale.
  const unit = 1 / Math.max(1e-6, Math.min(sx, sy));
  ctx.save();
  ctx.setTransform(options.mirror ? -sx : sx, 0, 0, sy, options.mirror ? cw : 0, 0);
  try {
    if (options.image) ctx.drawImage(options.image, 0, 0, fw, fh);
  } catch (e) {
    ctx.restore();
    onError(`Error: draw: the image could not be drawn (${e && e.message ? e.message : String(e)}).`);
    return false;
  }
  const f = result.detectedFace;
  if (on(options.detection) && f && f.width > 0) {
    ctx.strokeStyle = DETECTION_COLOUR;
    ctx.lineWidth = 2 * unit;
    ctx.strokeRect(f.x, f.y, f.width, f.height);
  }
  ctx.lineWidth = unit;
  if (on(options.mesh) && result.candide) drawMesh(ctx, result.candide.vertices, result.candide.triangles);
  const b = result.bounds;
  if (on(options.bounds) && b && b.width > 0) {
    ctx.strokeStyle = BOUNDS_COLOUR;
    ctx.lineWidth = unit;
    ctx.strokeRect(b.x, b.y, b.width, b.height);
  }
  if (on(options.points) && Array.isArray(result.points)) {
    const radius = (Number.isFinite(options.pointRadius) ? options.pointRadius : 2.5) * unit;
    ctx.fillStyle = POINT_COLOUR;
    for (const p of result.points) {
      if (!finite(p)) continue;
      ctx.beginPath();
      ctx.arc(p.x, p.y, radius, 0, 2 * Math.PI);
      ctx.fill();
    }
  }
  if (on(options.axes) && result.pose) drawAxes(ctx, result.pose, unit);
  if (on(options.trackedPoints)) {
    for (const p of result.trackedPoints || []) {
      if (!finite(p)) continue;
      ctx.fillStyle = p.valid ? '#00e600' : '#ff2020';
      ctx.beginPath();
      ctx.arc(p.x, p.y, 3.5 * unit, 0, 2 * Math.PI);
      ctx.fill();
    }
  }
  ctx.restore();
  if (typeof options.caption === 'string' && options.caption) {
    ctx.save();
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    caption(ctx, options.caption);
    ctx.restore();
  }
  return true;
}
