#!/usr/bin/env bash
# Re-records the tracked run that tests/identity/TrackedRunTest.cpp compares bit for bit
# (tests/identity/data/tracked_run.txt), from the x86-64 release build. Run it after a
# model is retrained, or with a change that is meant to move results, and commit the
# new record with that change.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/build.sh" release
KVO_RECORD_TRACKED_RUN=1 "$here/build/release/tests/test_identity" --gtest_brief=1 --gtest_filter='TrackedRunTest.*'
echo "Recorded $(grep -vc '^[#@]' "$here/tests/identity/data/tracked_run.txt") updates into tests/identity/data/tracked_run.txt"
# The quality figures beside the record are not re-recorded here: whether the change made
# them worse or better is what TrackedQualityTest tells, and its failure names the command.
