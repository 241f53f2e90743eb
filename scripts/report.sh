#!/usr/bin/env bash
# Builds the evaluation program and produces the report comparing the library with
# OpenCV and dlib: out/report/report.md with PNG charts, and out/report/headline.md.
#   scripts/report.sh [extra evaluate options, e.g. --stride 8 --memory-frames 2000]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${KVO_CACHE:-$here/.cache}"
"$here/scripts/setup.sh"

# The face photos of two more npm packages, pinned.
extra="$cache/npm-extra"
mkdir -p "$extra"
fetch() {  # package version tarball-name folder path-inside-package
  local pkg="$1" version="$2" tgz="$3" dest="$4" inner="$5"
  if [ ! -e "$extra/$dest/$inner" ]; then
    [ -f "$extra/$tgz" ] || (cd "$extra" && npm pack --silent "$pkg@$version" >/dev/null)
    mkdir -p "$extra/$dest"
    tar -xzf "$extra/$tgz" -C "$extra/$dest" --strip-components=1 "package/$inner"
  fi
}
fetch @vladmandic/face-api 1.7.15 vladmandic-face-api-1.7.15.tgz face-api demo
fetch tracking 1.1.3 tracking-1.1.3.tgz tracking examples/assets/faces.jpg

build="$here/build/release"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVO_PEERS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target evaluate Kestavo
out="$here/out/report"
mkdir -p "$out"
"$build/tools/eval/report/evaluate" --out "$out" --extra "$extra" "$@" | tee "$out/run.log"
echo "report: $out/report.md"
