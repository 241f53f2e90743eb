#!/usr/bin/env bash
# Sets everything up, builds, and runs every test: the normal build first, then, when
# KVO_ALL_VARIANTS=1 (as CI does), the sanitizer and 32-bit builds and a bounded run of
# every fuzz target (KVO_FUZZ_SECONDS each, default 30).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
variants=(release)
if [ "${KVO_ALL_VARIANTS:-0}" = "1" ]; then variants+=(asan tsan m32); fi
passed=0; failed=0; skipped=0
for v in "${variants[@]}"; do
  echo "== build and test: $v"
  "$here/scripts/build.sh" "$v"
  # The WebAssembly package beside the release build: the release ctest runs its Node
  # tests (tests/wasm), and the browser tests below load it.
  if [ "$v" = release ]; then "$here/scripts/build.sh" wasm; fi
  log="$here/build/$v/ctest-summary.log"
  # A failing test does not stop the run here: the counts below report it.
  ctest --test-dir "$here/build/$v" --output-on-failure -j "$(nproc)" --timeout 600 | tee "$log" || true
  # "100% tests passed, 0 tests failed out of 567"
  line=$(grep -E 'tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then echo "Error: no tests ran in the $v build" >&2; exit 1; fi
  total=$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')
  bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed.*/\1/')
  # ctest counts a skipped test among the passed ones and lists it once under "The
  # following tests did not run:" as "<number> - <name> (Skipped)".
  skip=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)
  passed=$((passed + total - bad - skip)); failed=$((failed + bad)); skipped=$((skipped + skip))
  # Everything the release tests need was set up and built above (the WebAssembly tests skip
  # themselves only without their package): a skipped test there is a missing step.
  if [ "$v" = release ] && [ "$skip" -gt 0 ]; then
    echo "Error: $skip release tests were skipped; the setup above should have provided what they need" >&2
    failed=$((failed + skip)); skipped=$((skipped - skip))
  fi
done
# The browser part: the server and report unit tests always; the page in headless Chromium
# once the WebAssembly package is built (until then those tests report themselves skipped).
echo "== browser tests (node --test tests/web)"
weblog="$here/build/web-tests.log"
mkdir -p "$here/build"
node --test --test-concurrency=1 "$here/tests/web/" | tee "$weblog" || true
wp=$(sed -n 's/^# pass \([0-9]*\)$/\1/p' "$weblog" | tail -n 1)
wf=$(sed -n 's/^# fail \([0-9]*\)$/\1/p' "$weblog" | tail -n 1)
ws=$(sed -n 's/^# skipped \([0-9]*\)$/\1/p' "$weblog" | tail -n 1)
if [ -z "$wp" ] || [ -z "$wf" ]; then echo "Error: the browser tests did not report" >&2; exit 1; fi
passed=$((passed + wp)); failed=$((failed + wf)); skipped=$((skipped + ${ws:-0}))
# The same for the browser tests: setup.sh installed the browser and puppeteer-core and the
# package was built, so a page test that skips itself is a failure here.
if [ "${ws:-0}" -gt 0 ]; then
  echo "Error: ${ws} browser tests were skipped; the setup above should have provided what they need" >&2
  failed=$((failed + ws)); skipped=$((skipped - ws))
fi
if [ "${KVO_ALL_VARIANTS:-0}" = "1" ]; then
  echo "== fuzz: ${KVO_FUZZ_SECONDS:-30} s per target"
  "$here/scripts/fuzz.sh" "${KVO_FUZZ_SECONDS:-30}"
fi
echo "all variants (${variants[*]}):"
echo "${passed} passed, ${failed} failed, ${skipped} skipped"
[ "$failed" -eq 0 ]
