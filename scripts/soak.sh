#!/usr/bin/env bash
# Long run of libKestavo.so under the stand-in host: builds the soak program (release
# build in build/soak) and runs it over the sample videos, looped.
#   scripts/soak.sh [soak options...]     e.g. scripts/soak.sh --frames 20000
# Defaults to 100,000 frames; `build/soak/tools/soak/soak --help` lists the options.
# Exit status: 0 when memory stayed flat and no frame exceeded ten times the median.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$here/build/soak"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVO_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target soak
if ! ls "$here"/.cache/media/*.mp4 >/dev/null 2>&1; then
  echo "Error: no sample videos in $here/.cache/media (run scripts/setup.sh)" >&2
  exit 2
fi
exec "$build/tools/soak/soak" "$@"
