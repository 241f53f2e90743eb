#!/usr/bin/env bash
# Regenerates the embedded shape model, models/shape_model.json, from a fresh clone:
# the training labels (scripts/make_labels.sh: dlib's landmarks converted to our layout),
# then the trainer (tools/shape_trainer). Same inputs, same file, byte for byte.
#
# Usage: scripts/train_model.sh [--reuse-labels]
#   --reuse-labels  keep an existing .cache/trainer/labels_stride10.tsv instead of relabelling
# Environment: KVO_TRAIN_BUILD (build folder, default build/train), KVO_CACHE.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${KVO_CACHE:-$here/.cache}"
build="${KVO_TRAIN_BUILD:-$here/build/train}"
labels="$cache/trainer/labels_stride10.tsv"

reuse=0
[ "${1:-}" = "--reuse-labels" ] && reuse=1

if [ "$reuse" = 0 ] || [ ! -s "$labels" ]; then
  mkdir -p "$(dirname "$labels")"
  # Every 10th video frame: neighbouring frames add little but time.
  "$here/scripts/make_labels.sh" "$labels" --stride 10
fi

cmake -S "$here" -B "$build" -DKVO_PEERS=ON >/dev/null
cmake --build "$build" -j2 --target shape_trainer

# Profile length, ridge and 1-D against 2-D patches were chosen on the validation split
# with scripts/sweep_model.sh; augmentation and seed were not tuned. See
# models/PROVENANCE.md.
mkdir -p "$cache/trainer"
"$build/tools/shape_trainer/shape_trainer" \
  --muct "$here/data/muct68-shapes.csv" \
  --labels "$labels" \
  --media "$cache/media" \
  --stride 1 --augment 4 --len1d 15 --ridge 0.01 --seed 20240611 \
  --validation-out "$cache/trainer/validation_labels.tsv" \
  --out "$here/models/shape_model.json"
sha256sum "$here/models/shape_model.json"
