#!/usr/bin/env bash
# Chooses the shape model's training settings on the validation split: trains one model
# per setting (profile length, ridge, 2-D patches) with the same labels and seed, and
# measures each with `track_eval --labels` on the validation faces (never on franck.mp4,
# which is held out for the final figures). Prints one line per setting, best last.
#
# Usage: scripts/sweep_model.sh [--quick]   (labels from scripts/train_model.sh first)
#   --quick  a 2-setting grid, for checking that the sweep still runs
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${KVO_CACHE:-$here/.cache}"
build="${KVO_TRAIN_BUILD:-$here/build/train}"
labels="$cache/trainer/labels_stride10.tsv"
validation="$cache/trainer/validation_labels.tsv"
out="${KVO_SWEEP_DIR:-$cache/sweep}"
[ -s "$labels" ] || { echo "Error: no labels at $labels (run scripts/train_model.sh first)" >&2; exit 2; }

if [ "${KVO_SWEEP_BUILD:-1}" = 1 ]; then
  cmake -S "$here" -B "$build" -DKVO_PEERS=ON >/dev/null
  cmake --build "$build" -j2 --target shape_trainer track_eval >/dev/null
fi
mkdir -p "$out"

settings=()
if [ "${1:-}" = "--quick" ]; then
  settings=("9 0.05 -" "7 0.2 -")
else
  for len in ${KVO_SWEEP_LENGTHS:-7 9 11 13 15 17 19 21 25}; do
    for ridge in ${KVO_SWEEP_RIDGES:-0.01 0.05 0.2 0.5}; do settings+=("$len $ridge -"); done
  done
  # 2-D patches on top of a 1-D length (KVO_SWEEP_2D_LENGTH) for the other landmarks.
  for twod in ${KVO_SWEEP_2D:-3:eyes 5:eyes 5:eyes,brows 5:all 7:all}; do
    settings+=("${KVO_SWEEP_2D_LENGTH:-15} ${KVO_SWEEP_2D_RIDGE:-0.01} $twod")
  done
fi

results="$out/results.txt"
: > "$results"
for s in "${settings[@]}"; do
  read -r len ridge twod <<<"$s"
  name="len${len}_ridge${ridge}_2d${twod//[:,]/-}"
  extra=()
  [ "$twod" != "-" ] && extra=(--twod "$twod")
  "$build/tools/shape_trainer/shape_trainer" --muct "$here/data/muct68-shapes.csv" \
    --labels "$labels" --media "$cache/media" --stride 1 --augment 4 --len1d "$len" \
    --ridge "$ridge" --seed 20240611 --validation-out "$validation" "${extra[@]}" \
    --out "$out/$name.json" >/dev/null
  line=$("$build/tools/shape_trainer/track_eval" --labels "$validation" --media "$cache/media" \
           --model "$out/$name.json" | grep '^validation:')
  err=$(sed -E 's/.*distance ([0-9.]+).*/\1/' <<<"$line")
  echo "$err  len1d $len  ridge $ridge  2-D $twod  ($line)" | tee -a "$results"
done
echo "best (lowest mean validation error):"
sort -n "$results" | head -1
