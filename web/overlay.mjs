// Drawing of one tracked frame over the video on a 2-D canvas: the detected face, the
// Candide mesh, the 68 points and their bounds, the pose axes, the tracked host points and
// a caption with the frame rate. Colours are fixed so that a screenshot can be checked for
// the overlay: the 68 points are pure cyan (#00ffff), the Candide mesh magenta.
//
// Thread safety: browser main thread; draws into the context it is given.

export const POINT_COLOUR = '#00ffff';
const MESH_COLOUR = 'rgba(220, 80, 220, 0.85)';
const BOUNDS_COLOUR = '#ff8c1a';
const DETECTION_COLOUR = '#ffd000';
const AXIS_COLOURS = ['#ff3030', '#30ff30', '#3080ff'];

const finite = (p) => p && Number.isFinite(p.x) && Number.isFinite(p.y);

function drawMesh(ctx, vertices, triangles) {
  ctx.strokeStyle = MESH_COLOUR;
  ctx.lineWidth = 1;
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
function drawAxes(ctx, pose) {
  const { scale: s, tx, ty, rx, ry, rz } = pose;
  if (![s, tx, ty, rx, ry, rz].every(Number.isFinite) || !(s > 0)) return;
  const cx = Math.cos(rx), sx = Math.sin(rx), cy = Math.cos(ry), sy = Math.sin(ry);
  const cz = Math.cos(rz), sz = Math.sin(rz);
  const row0 = [cy * cz, -cy * sz, sy];
  const row1 = [sx * sy * cz + cx * sz, cx * cz - sx * sy * sz, -sx * cy];
  const length = 0.6 * s;
  ctx.lineWidth = 2.5;
  for (let k = 0; k < 3; ++k) {
    ctx.strokeStyle = AXIS_COLOURS[k];
    ctx.beginPath();
    ctx.moveTo(tx, ty);
    ctx.lineTo(tx + length * row0[k], ty + length * row1[k]);
    ctx.stroke();
  }
}

function caption(ctx, text) {
  ctx.font = '14px monospace';
  ctx.lineWidth = 4;
  ctx.strokeStyle = 'black';
  ctx.fillStyle = 'white';
  ctx.strokeText(text, 8, 20);
  ctx.fillText(text, 8, 20);
}

// result: { state, detectedFace, points, bounds, candide: {vertices, triangles} | null,
//           pose | null, hostPoints: [{x, y, ok}], showPoints }; caption: text.
export function drawOverlay(ctx, result, captionText) {
  const r = result;
  if (r.detectedFace && r.detectedFace.width > 0) {
    const f = r.detectedFace;
    ctx.strokeStyle = DETECTION_COLOUR;
    ctx.lineWidth = 2;
    ctx.strokeRect(f.x, f.y, f.width, f.height);
  }
  if (r.candide) drawMesh(ctx, r.candide.vertices, r.candide.triangles);
  if (r.bounds && r.bounds.width > 0) {
    ctx.strokeStyle = BOUNDS_COLOUR;
    ctx.lineWidth = 1;
    ctx.strokeRect(r.bounds.x, r.bounds.y, r.bounds.width, r.bounds.height);
  }
  if (r.points && r.showPoints) {
    ctx.fillStyle = POINT_COLOUR;
    for (const p of r.points) {
      if (!finite(p)) continue;
      ctx.beginPath();
      ctx.arc(p.x, p.y, 2.5, 0, 2 * Math.PI);
      ctx.fill();
    }
  }
  if (r.pose) drawAxes(ctx, r.pose);
  for (const p of r.hostPoints || []) {
    if (!finite(p)) continue;
    ctx.fillStyle = p.ok ? '#00e600' : '#ff2020';
    ctx.beginPath();
    ctx.arc(p.x, p.y, 3.5, 0, 2 * Math.PI);
    ctx.fill();
  }
  caption(ctx, captionText);
}
