#!/usr/bin/env bash
# Installs what the browser tests and the browser report need beside Debian's chromium:
# puppeteer-core from the npm registry (pinned; it drives the system browser and never
# downloads one), the TypeScript compiler (pinned) for the typings check, and the
# franck clip the fake camera plays, converted once to Y4M.
# Everything goes under .cache/web/; nothing is vendored. Idempotent.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${KVO_CACHE:-$here/.cache}"
web="$cache/web"
mkdir -p "$web"

# puppeteer-core, pinned with its dependencies by tools/web/npm/package-lock.json (version 24
# is the newest line that runs on Node 20; 25 needs Node 22). Reinstalled when the lock changes.
lock="$here/tools/web/npm/package-lock.json"
stamp="$web/npm/.lock-$(sha256sum "$lock" | cut -c1-16)"
if [ ! -f "$stamp" ]; then
  rm -rf "$web/npm"
  mkdir -p "$web/npm"
  cp "$here/tools/web/npm/package.json" "$lock" "$web/npm/"
  echo "setup: installing puppeteer-core into $web/npm"
  (cd "$web/npm" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --silent --no-audit --no-fund >/dev/null)
  touch "$stamp"
fi

# The TypeScript compiler, pinned, for the check of the package's typings (kestavo.d.ts)
# in tests/web/typings.test.mjs; it has no dependencies of its own.
ts_version="5.9.3"
if [ ! -f "$web/typescript/.version-$ts_version" ]; then
  rm -rf "$web/typescript"
  mkdir -p "$web/typescript"
  echo '{"name": "kestavo-typings-check", "private": true}' >"$web/typescript/package.json"
  echo "setup: installing typescript $ts_version into $web/typescript"
  (cd "$web/typescript" && npm install --silent --no-audit --no-fund --save-exact "typescript@$ts_version" >/dev/null)
  touch "$web/typescript/.version-$ts_version"
fi

# The fake camera's clip: the first 480 frames (20 s at 24 fps) of franck.mp4 as Y4M, the
# format Chromium's --use-file-for-fake-video-capture reads; long enough that the tests end
# before the camera loops back to its start even when frames come slower than 24 a second.
clip="$web/franck-480.y4m"
if [ ! -f "$clip" ]; then
  ffmpeg -v error -y -i "$cache/media/franck.mp4" -frames:v 480 -pix_fmt yuv420p "$clip.part.y4m"
  mv "$clip.part.y4m" "$clip"
fi
