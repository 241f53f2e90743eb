// The report's chart as a self-contained SVG: per tracker, the per-frame time (median bar,
// p95 tick, logarithmic axis, since the trackers differ by orders of magnitude) and the
// mean error on the 13 shared points (linear axis).
//
// Thread safety: pure function.

const esc = (s) => String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');

export const LABELS = {
  'kestavo-threads': 'Kestavo WASM, threaded',
  'kestavo-single': 'Kestavo WASM, single',
  'kestavo-native': 'Kestavo native',
  clmtrackr: 'clmtrackr 1.1.2',
  'face-api': 'face-api 1.7.15',
};
const COLOURS = {
  'kestavo-threads': '#1b7837', 'kestavo-single': '#5aae61', 'kestavo-native': '#a6dba0',
  clmtrackr: '#762a83', 'face-api': '#c2a5cf',
};

// rows: [{ name, medianMs, p95Ms, e13Mean }]. Returns the SVG text.
export function renderChart(rows) {
  const rowH = 34, top = 48, left = 190, panelW = 330, gap = 70;
  const height = top + rows.length * rowH + 50;
  const width = left + 2 * panelW + gap + 20;
  const times = rows.flatMap((r) => [r.medianMs, r.p95Ms]).filter((v) => Number.isFinite(v) && v > 0);
  const lo = Math.pow(10, Math.floor(Math.log10(Math.min(...times, 1) / 2)));
  const hi = Math.pow(10, Math.ceil(Math.log10(Math.max(...times, 10))));
  const tx = (v) => left + (panelW * Math.log10(v / lo)) / Math.log10(hi / lo);
  const errs = rows.map((r) => r.e13Mean).filter(Number.isFinite);
  // Error axis to the next 0.02 above the largest error, ticks every 0.01 or 0.02.
  const emax = Math.ceil((Math.max(0.01, ...errs) * 1.1) / 0.02) * 0.02;
  const estep = emax > 0.08 ? 0.02 : 0.01;
  const ex0 = left + panelW + gap;
  const ex = (v) => ex0 + (panelW * v) / emax;
  const s = [];
  s.push(`<svg xmlns="http://www.w3.org/2000/svg" width="${width}" height="${height}" font-family="sans-serif" font-size="12">`);
  s.push(`<rect width="100%" height="100%" fill="white"/>`);
  s.push(`<text x="${left}" y="20" font-weight="bold">per-frame time, ms (median bar, p95 tick; log scale)</text>`);
  s.push(`<text x="${ex0}" y="20" font-weight="bold">error on the 13 shared points (mean)</text>`);
  const axisY = top + rows.length * rowH;
  for (let d = lo; d <= hi * 1.0001; d *= 10) {
    s.push(`<line x1="${tx(d)}" y1="${top - 6}" x2="${tx(d)}" y2="${axisY}" stroke="#ddd"/>`);
    s.push(`<text x="${tx(d)}" y="${axisY + 16}" text-anchor="middle">${d >= 1 ? d : d.toPrecision(1)}</text>`);
  }
  for (let k = 0; k * estep <= emax + 1e-9; ++k) {
    const v = k * estep;
    s.push(`<line x1="${ex(v)}" y1="${top - 6}" x2="${ex(v)}" y2="${axisY}" stroke="#ddd"/>`);
    s.push(`<text x="${ex(v)}" y="${axisY + 16}" text-anchor="middle">${v.toFixed(3)}</text>`);
  }
  rows.forEach((r, i) => {
    const y = top + i * rowH;
    const c = COLOURS[r.name] || '#888';
    s.push(`<text x="${left - 8}" y="${y + 17}" text-anchor="end">${esc(LABELS[r.name] || r.name)}</text>`);
    if (Number.isFinite(r.medianMs) && r.medianMs > 0) {
      s.push(`<rect x="${left}" y="${y + 5}" width="${Math.max(1, tx(r.medianMs) - left)}" height="${rowH - 12}" fill="${c}"/>`);
      const hasP95 = Number.isFinite(r.p95Ms) && r.p95Ms > 0;
      if (hasP95) s.push(`<line x1="${tx(r.p95Ms)}" y1="${y + 2}" x2="${tx(r.p95Ms)}" y2="${y + rowH - 4}" stroke="black" stroke-width="2"/>`);
      const labelX = Math.max(tx(r.medianMs), hasP95 ? tx(r.p95Ms) : 0) + 5;
      s.push(`<text x="${labelX}" y="${y + 17}">${r.medianMs.toFixed(r.medianMs < 10 ? 2 : 1)}</text>`);
    }
    if (Number.isFinite(r.e13Mean)) {
      s.push(`<rect x="${ex0}" y="${y + 5}" width="${Math.max(1, ex(r.e13Mean) - ex0)}" height="${rowH - 12}" fill="${c}"/>`);
      s.push(`<text x="${ex(r.e13Mean) + 4}" y="${y + 17}">${r.e13Mean.toFixed(4)}</text>`);
    }
  });
  s.push(`<text x="${left}" y="${height - 10}" fill="#555">error: mean point distance / distance between the annotation's outer eye corners (our points 27, 32), franck frames 0–2,399</text>`);
  s.push('</svg>');
  return s.join('\n') + '\n';
}
