#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job: the command-line tracker on the
# bundled default input (the sample video franck.mp4), writing an annotated video, a
# contact sheet, JSON Lines and a plot into out/, and printing the summary.
# Arguments, when given, go to the tracker instead of the defaults.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
"$here/scripts/build.sh" release
app="$here/build/release/apps/kestavo/kestavo"
if [ ! -x "$app" ]; then
  echo "Error: the command-line tracker was not built (it needs OpenCV; run scripts/setup.sh)" >&2
  exit 1
fi
if [ $# -gt 0 ]; then
  exec "$app" "$@"
fi
out="$here/out"
mkdir -p "$out"
exec "$app" --video "$out/franck_tracked.avi" --sheet "$out/franck_sheet.png" \
  --jsonl "$out/franck.jsonl" --plot "$out/franck_plot.png"
