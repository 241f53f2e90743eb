#!/usr/bin/env bash
# Configures and builds one variant into build/<variant>.
#   scripts/build.sh [release|asan|tsan|m32|wasm] [extra cmake args...]
# wasm: the WebAssembly package in build/wasm/package (scripts/build_wasm.sh).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
variant="${1:-release}"; shift || true
if [ "$variant" = wasm ]; then exec bash "$here/scripts/build_wasm.sh" "$@"; fi
args=()
case "$variant" in
  release) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    args=(-DCMAKE_BUILD_TYPE=Debug "-DKVO_SANITIZE=address,undefined" -DKVO_PEERS=OFF) ;;
  # The thread sanitizer run covers the parts that start worker threads.
  tsan)    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVO_SANITIZE=thread -DKVO_PEERS=OFF
                 "-DKVO_TEST_ONLY=image;asm_search;flow;tracker;extension;detection;identity;util") ;;
  m32)     args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVO_M32=ON) ;;
  *) echo "Error: unknown build variant '$variant' (release, asan, tsan, m32, wasm)" >&2; exit 2 ;;
esac
cmake -S "$here" -B "$here/build/$variant" "${args[@]}" "$@" >/dev/null
cmake --build "$here/build/$variant" -j "$(nproc)"
