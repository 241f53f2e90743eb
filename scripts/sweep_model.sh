#!/usr/bin/env bash
# Chooses the shape model's training settings on the 300-W validation split (every 10th
# face by sorted name, held out by the trainer): trains one model per setting (profile
# length, ridge, 2-D patches) with the same inputs and seed, and measures each with
# `track_eval --faces300w` (eye-started fits; never franck.mp4, which is held out for the
# final figures). Prints one line per setting, best (lowest eye-started mean error on the
# 17 core points) last.
#
# Usage: scripts/sweep_model.sh FACES300W_DIR [--quick]
#   FACES300W_DIR  the 300-W training faces (research use only; read, never copied);
#                  or set KVO_FACES_300W
#   --quick        a 2-setting grid, for checking that the sweep still runs
# Environment: KVO_SWEEP_LENGTHS, KVO_SWEEP_RIDGES, KVO_SWEEP_2D (grids; KVO_SWEEP_2D="" for
# none), KVO_SWEEP_AUGMENT
# (random variations per face, default 0 to keep the sweep short), KVO_TRAIN_BUILD.
# KVO_SWEEP_VARIANTS: instead of the grid, one model per ';'-separated set of further
# trainer options on top of 1-D length 9, ridge 0.01 (the current model's settings); an
# empty set is the current model itself, e.g.
#   KVO_SWEEP_VARIANTS='; --muct-weight 0; --muct-weight 0 --placement both'
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${KVO_CACHE:-$here/.cache}"
build="${KVO_TRAIN_BUILD:-$here/build/train}"
faces="${KVO_FACES_300W:-}"
quick=0
for a in "$@"; do
  case "$a" in
    --quick) quick=1 ;;
    *) faces="$a" ;;
  esac
done
[ -n "$faces" ] && [ -d "$faces" ] || { echo "Error: give the 300-W faces folder (argument or KVO_FACES_300W)" >&2; exit 2; }
out="${KVO_SWEEP_DIR:-$cache/sweep}"

if [ "${KVO_SWEEP_BUILD:-1}" = 1 ]; then
  cmake -S "$here" -B "$build" -DKVO_PEERS=ON >/dev/null
  cmake --build "$build" -j2 --target shape_trainer track_eval >/dev/null
fi
mkdir -p "$out"

settings=()
if [ -n "${KVO_SWEEP_VARIANTS:-}" ]; then
  IFS=';' read -r -a variants <<<"$KVO_SWEEP_VARIANTS"
  for v in "${variants[@]}"; do settings+=("9 0.01 - $v"); done
elif [ "$quick" = 1 ]; then
  settings=("9 0.05 -" "7 0.2 -")
else
  for len in ${KVO_SWEEP_LENGTHS:-9 15 21}; do
    for ridge in ${KVO_SWEEP_RIDGES:-0.01 0.1}; do settings+=("$len $ridge -"); done
  done
  # 2-D patches on top of a 1-D length (KVO_SWEEP_2D_LENGTH) for the other landmarks.
  for twod in ${KVO_SWEEP_2D-5:eyes,brows 5:all}; do
    settings+=("${KVO_SWEEP_2D_LENGTH:-15} ${KVO_SWEEP_2D_RIDGE:-0.01} $twod")
  done
fi

results="$out/results.txt"
: > "$results"
for s in "${settings[@]}"; do
  read -r len ridge twod more <<<"$s"
  name="len${len}_ridge${ridge}_2d${twod//[:,]/-}"
  extra=()
  [ "$twod" != "-" ] && extra=(--twod "$twod")
  if [ -n "${more:-}" ]; then
    read -r -a words <<<"$more"
    extra+=("${words[@]}")
    name="${name}$(tr -cs 'A-Za-z0-9.' '_' <<<" $more")"
  fi
  "$build/tools/shape_trainer/shape_trainer" --muct "$here/data/muct68-shapes.csv" \
    --faces300w "$faces" --augment "${KVO_SWEEP_AUGMENT:-0}" --len1d "$len" \
    --ridge "$ridge" --seed 20240611 "${extra[@]}" --out "$out/$name.json" >/dev/null
  report=$("$build/tools/eval/track/track_eval" --faces300w "$faces" --no-dlib --model "$out/$name.json")
  eye=$(grep 'eye-started, tracked' <<<"$report")
  det=$(grep '^detector-started (30' <<<"$report" | sed -E 's/.*\(([0-9.]+) %\).*/\1/')
  mean=$(sed -E 's/.*core-17: mean ([0-9.]+).*/\1/' <<<"$eye")
  median=$(sed -E 's/.*core-17: mean [0-9.]+ median ([0-9.]+).*/\1/' <<<"$eye")
  above=$(sed -E 's/.*core-17: mean [0-9.]+ median [0-9.]+ >0.10 +([0-9.]+) %.*/\1/' <<<"$eye")
  echo "$mean  median $median  >0.10 $above %  detector-tracked $det %  len1d $len  ridge $ridge  2-D $twod  ${more:-}" \
    | tee -a "$results"
done
echo "best (lowest eye-started mean error, 17 core points):"
sort -n "$results" | head -1
