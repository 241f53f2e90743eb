#!/usr/bin/env bash
# Installs what the browser tests and the browser report need beside Debian's chromium:
# puppeteer-core from the npm registry (pinned; it drives the system browser and never
# downloads one) and the franck clip the fake camera plays, converted once to Y4M.
# Everything goes under .cache/web/; nothing is vendored. Idempotent.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${KVO_CACHE:-$here/.cache}"
web="$cache/web"
mkdir -p "$web"

# puppeteer-core: version 24 is the newest line that runs on Node 20 (25 needs Node 22).
puppeteer_version="24.43.1"
if [ ! -f "$web/npm/.version-puppeteer-core-$puppeteer_version" ]; then
  rm -rf "$web/npm"
  mkdir -p "$web/npm"
  echo "setup: installing puppeteer-core@$puppeteer_version into $web/npm"
  (cd "$web/npm" && echo '{"private": true}' > package.json &&
   PUPPETEER_SKIP_DOWNLOAD=1 npm install --silent --no-audit --no-fund --save-exact \
     "puppeteer-core@$puppeteer_version" >/dev/null)
  touch "$web/npm/.version-puppeteer-core-$puppeteer_version"
fi

# The fake camera's clip: the first 360 frames (15 s at 24 fps) of franck.mp4 as Y4M,
# the format Chromium's --use-file-for-fake-video-capture reads.
clip="$web/franck-360.y4m"
if [ ! -f "$clip" ]; then
  ffmpeg -v error -y -i "$cache/media/franck.mp4" -frames:v 360 -pix_fmt yuv420p "$clip.part.y4m"
  mv "$clip.part.y4m" "$clip"
fi
