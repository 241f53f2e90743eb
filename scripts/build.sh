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
  # a machine that runs 32-bit x86 programs. A 64-bit kernel built without 32-bit support
  # (as on some virtual machines) runs them through qemu's user-mode emulator instead, once
  # the kernel is told to hand it such programs (binfmt_misc: needs root or sudo, and lasts
  # until reboot).
  probe="$(mktemp -d)"
  trap 'rm -rf "$probe"' EXIT
  printf 'int main(void) { return 0; }\n' > "$probe/probe.c"
  runs32() { "$probe/probe" >/dev/null 2>&1; }
  if ! cc -m32 "$probe/probe.c" -o "$probe/probe" >/dev/null 2>&1; then
    echo "Error: the m32 build needs a compiler that builds 32-bit x86 programs (cc -m32; Debian's g++-multilib, which scripts/setup.sh installs)" >&2
    exit 2
  fi
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo -n)
  if ! runs32 && command -v qemu-i386 >/dev/null 2>&1; then
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
    if [ -e "$binfmt/register" ] && [ ! -e "$binfmt/kvo-i386" ]; then
      echo "build.sh: this kernel does not run 32-bit x86 programs; handing them to $(command -v qemu-i386)"
      # An i386 ELF executable or shared object (e_type 2 or 3, e_machine 3).
      magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
      mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
      echo ":kvo-i386:M::$magic:$mask:$(command -v qemu-i386):F" |
        "${as_root[@]}" tee "$binfmt/register" >/dev/null 2>&1 || true
    fi
  fi
  if ! runs32; then
    echo "Error: the m32 build needs a machine that runs 32-bit x86 programs; this one does not (a kernel without 32-bit support, and no qemu-i386 registered in its place: that needs root or sudo)" >&2
    exit 2
  fi
fi
cmake -S "$here" -B "$here/build/$variant" "${args[@]}" "$@" >/dev/null
cmake --build "$here/build/$variant" -j "$(nproc)"
