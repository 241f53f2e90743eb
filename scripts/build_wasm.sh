#!/usr/bin/env bash
# Builds the WebAssembly package into build/wasm/package: the threaded module
# (build/wasm-threads) and the single-threaded one (build/wasm-single), both from the same
# sources with the same embedded models as the native library, plus the JavaScript API
# and package.json. The models' generated sources come from the native release build.
#   scripts/build_wasm.sh [extra cmake args...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
command -v emcmake >/dev/null 2>&1 || { echo "Error: emscripten is not installed; run scripts/setup.sh" >&2; exit 1; }
# Debian's emscripten runs its optimiser under the node on the PATH, which does not look
# in Debian's own module folder, where node-acorn puts acorn.
acorn_dir=$(dpkg -L node-acorn 2>/dev/null | grep -m1 -E '/acorn$' || true)
[ -n "$acorn_dir" ] || { echo "Error: node-acorn is not installed; run scripts/setup.sh" >&2; exit 1; }
export NODE_PATH="$(dirname "$acorn_dir")${NODE_PATH:+:$NODE_PATH}"

# The native models first (the model tools run natively).
cmake -S "$here" -B "$here/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build/release" --target kvo_embedded_models -j "$(nproc)" >/dev/null
models="$here/build/release/src/models/generated"

for flavour in threads single; do
  threads=ON; [ "$flavour" = single ] && threads=OFF
  dir="$here/build/wasm-$flavour"
  emcmake cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKVO_WASM_THREADS=$threads \
    -DKVO_EMBEDDED_MODELS_DIR="$models" "$@" >/dev/null
  cmake --build "$dir" --target kestavo_wasm -j "$(nproc)"
done

pkg="$here/build/wasm/package"
rm -rf "$pkg"
mkdir -p "$pkg"
cp "$here/build/wasm-threads/wasm/kestavo-threads."{js,wasm,worker.js} "$pkg/"
cp "$here/build/wasm-single/wasm/kestavo-single."{js,wasm} "$pkg/"
cp "$here/wasm/"{kestavo.mjs,kestavo.d.ts,draw.mjs,package.json,README.md} "$pkg/"
echo "wasm package: $pkg"
ls -l "$pkg" | awk 'NR>1 {printf "  %-26s %9d bytes\n", $9, $5}'
