// The report's point pairings and error: the same pairs as the C++ table every native
// tool uses, each pairing one-to-one, and the error normalised as the tools normalise it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { CLM_FROM_OURS, DLIB_FROM_OURS, SHARED13, CORE17, frameError, parseAnnotations, quantile, mean } from '../../tools/web_report/layouts.mjs';

const ROOT = path.resolve(import.meta.dirname, '../..');

test('the dlib pairs are the core pairs of tools/landmarks, one-to-one', () => {
  const src = fs.readFileSync(path.join(ROOT, 'tools/landmarks/LandmarkCorrespondence.cpp'), 'utf8');
  const core = [...src.matchAll(/\{(\d+), (\d+), Group::\w+, true\}/g)].map((m) => [Number(m[1]), Number(m[2])]);
  assert.equal(core.length, 17);
  assert.deepEqual(Object.entries(DLIB_FROM_OURS).map(([o, d]) => [Number(o), d]).sort((a, b) => a[0] - b[0]),
    core.sort((a, b) => a[0] - b[0]));
});

test('clmtrackr pairs: 13 of our points, each to its own point of clmtrackr\'s 71', () => {
  const ours = Object.keys(CLM_FROM_OURS).map(Number).sort((a, b) => a - b);
  assert.deepEqual(ours, [...SHARED13].sort((a, b) => a - b));
  const theirs = Object.values(CLM_FROM_OURS);
  assert.equal(new Set(theirs).size, 13);
  assert.ok(theirs.every((k) => Number.isInteger(k) && k >= 0 && k < 71));
  // The 13 are among face-api's 17, so all trackers are compared on the same points.
  assert.ok(SHARED13.every((p) => CORE17.includes(p)));
});

function shape(f) {
  const a = new Array(136);
  for (let i = 0; i < 68; ++i) [a[2 * i], a[2 * i + 1]] = f(i);
  return a;
}

test('error: mean distance over the set / the annotation\'s outer-eye distance (27–32)', () => {
  const ann = shape((i) => [100 + i, 50 + 2 * i]);
  ann[54] = 100; ann[55] = 80; ann[64] = 140; ann[65] = 110;  // 27 and 32: 50 px apart
  assert.equal(frameError(ann.slice(), null, ann, SHARED13), 0);
  const moved = ann.map((v, k) => (k % 2 === 0 ? v + 5 : v));  // every x + 5 px
  assert.ok(Math.abs(frameError(moved, null, ann, SHARED13) - 0.1) < 1e-12);
  // A peer's own numbering: put our point p at clmtrackr index CLM_FROM_OURS[p].
  const clm = new Array(142).fill(NaN);
  for (const p of SHARED13) {
    clm[2 * CLM_FROM_OURS[p]] = ann[2 * p] + 3;
    clm[2 * CLM_FROM_OURS[p] + 1] = ann[2 * p + 1] + 4;
  }
  assert.ok(Math.abs(frameError(clm, CLM_FROM_OURS, ann, SHARED13) - 0.1) < 1e-12);
  // A point the peer lacks, or an eye distance of zero: no figure.
  assert.ok(Number.isNaN(frameError(clm, CLM_FROM_OURS, ann, [15])));
  const flat = ann.slice();
  flat[64] = flat[54]; flat[65] = flat[55];
  assert.ok(Number.isNaN(frameError(ann, null, flat, SHARED13)));
});

test('annotation lines are read by frame; malformed lines are skipped', () => {
  const line = (i) => [i, ...Array.from({ length: 136 }, (_, k) => k + 0.5)].join(' ');
  const m = parseAnnotations(`${line(0)}\n${line(7)}\n1 2 3\n${line(9).replace('3.5', 'x')}\n`);
  assert.deepEqual([...m.keys()], [0, 7]);
  assert.equal(m.get(7)[135], 135.5);
});

test('quantiles by nearest rank and the mean ignore missing values', () => {
  const v = [5, 1, NaN, 3, 2, 4];
  assert.equal(quantile(v, 0.5), 3);
  assert.equal(quantile(v, 0.95), 5);
  assert.equal(mean(v), 3);
  assert.ok(Number.isNaN(quantile([], 0.5)));
});
