#!/usr/bin/env bash
# Regenerates the landmark refinement's model, models/landmark_refiner.bin, from a fresh
# clone and the 300-W training faces: the embedded shape model's own search results on the
# training faces (framed at random widths and small angles, every second framing mirrored,
# tracked from perturbed eye positions, and jittered copies) as starting shapes, the
# hand-placed points in our layout as targets (tools/refiner_trainer). The validation
# faces (every 10th by sorted name) are held out and reported after every level. Same
# inputs, same file, byte for byte.
#
# Usage: scripts/train_refiner.sh FACES300W_DIR
#   FACES300W_DIR  the 300-W training split as <name>.jpg + <name>.pts (research use only:
#                  read from where it is, never copied into the repository); or set
#                  KVO_FACES_300W
# Environment: KVO_TRAIN_BUILD (build folder, default build/train).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KVO_TRAIN_BUILD:-$here/build/train}"
faces="${1:-${KVO_FACES_300W:-}}"
[ -n "$faces" ] && [ -d "$faces" ] || { echo "Error: give the 300-W faces folder (argument or KVO_FACES_300W)" >&2; exit 2; }

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVO_PEERS=ON >/dev/null
cmake --build "$build" -j2 --target refiner_trainer

# Every setting was chosen on the validation split (models/PROVENANCE.md has the sweep).
"$build/tools/refiner_trainer/refiner_trainer" \
  --faces300w "$faces" \
  --framings 4 --jitter 2 --levels 10 --trees 300 --basis 24 --padding 0 \
  --out "$here/models/landmark_refiner.bin"
sha256sum "$here/models/landmark_refiner.bin"
