#!/usr/bin/env bash
# Sets everything up, builds, and runs every test: the normal build first, then, when
# KVO_ALL_VARIANTS=1 (as CI does), the sanitizer and 32-bit builds and a bounded run of
# every fuzz target (KVO_FUZZ_SECONDS each, default 30).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
variants=(release)
if [ "${KVO_ALL_VARIANTS:-0}" = "1" ]; then variants+=(asan tsan m32); fi
for v in "${variants[@]}"; do
  echo "== build and test: $v"
  "$here/scripts/build.sh" "$v"
  ctest --test-dir "$here/build/$v" --output-on-failure -j "$(nproc)" --timeout 600
done
if [ "${KVO_ALL_VARIANTS:-0}" = "1" ]; then
  echo "== fuzz: ${KVO_FUZZ_SECONDS:-30} s per target"
  "$here/scripts/fuzz.sh" "${KVO_FUZZ_SECONDS:-30}"
fi
