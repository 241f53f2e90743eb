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
if [ "$variant" = m32 ]; then
  # The 32-bit build runs its own converters while it builds, and its tests after: both need
  # a kernel that runs 32-bit x86 programs, which some 64-bit machines lack.
  probe="$(mktemp -d)"
  printf 'int main(void) { return 0; }\n' > "$probe/probe.c"
  if ! { cc -m32 "$probe/probe.c" -o "$probe/probe" && "$probe/probe"; } >/dev/null 2>&1; then
    rm -rf "$probe"
    echo "Error: the m32 build needs a machine that builds and runs 32-bit x86 programs; this one does not (cc -m32, or a kernel without 32-bit support)" >&2
    exit 2
  fi
  rm -rf "$probe"
fi
cmake -S "$here" -B "$here/build/$variant" "${args[@]}" "$@" >/dev/null
cmake --build "$here/build/$variant" -j "$(nproc)"
