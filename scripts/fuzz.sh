#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build/fuzz, -DKVO_FUZZ=ON) and runs each for
# a bounded time on a copy of its seed corpus.
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
# Targets: model_decoder cascade_loader shape_model_loader candide_parser named_calls
# refiner_loader.
# New corpus entries go to build/fuzz/corpus/<target>; crash inputs to
# build/fuzz/findings/<target>/. Prints run time and executions per target; exit status
# 1 when any target found a crash, leak or timeout.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"; shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(model_decoder cascade_loader shape_model_loader candide_parser named_calls refiner_loader)
fi
build="$here/build/fuzz"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DKVO_FUZZ=ON -DKVO_TESTS=OFF -DKVO_PEERS=OFF >/dev/null
cmake --build "$build" -j 2 --target $(printf 'fuzz_%s ' "${targets[@]}")

status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"; findings="$build/findings/$t"
  mkdir -p "$corpus" "$findings"
  cp -n "$here/fuzz/corpus/$t/"* "$corpus/" 2>/dev/null || true
  log="$build/fuzz_$t.log"
  set +e
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(grep -a -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  rate=$(grep -a -m1 'stat::average_exec_per_sec' "$log" | awk '{print $2}')
  if [ $rc -ne 0 ]; then
    status=1
    echo "fuzz_$t: FAILED after ${execs:-?} executions (see $log and $findings)"
  else
    echo "fuzz_$t: ${seconds}s, ${execs:-?} executions (${rate:-?}/s), no findings"
  fi
done
exit $status
