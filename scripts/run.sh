#!/usr/bin/env bash
# Sets everything up, builds, and runs the main job on the bundled default input.
# Extra arguments go to the command-line tracker.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
"$here/scripts/build.sh" release
bin="$here/build/release"
if [ -x "$bin/apps/kestavo/kestavo" ]; then
  exec "$bin/apps/kestavo/kestavo" "$@"
fi
# Until the command-line tracker lands: load the library through the stand-in host
# and print the function table it hands over.
exec "$bin/host/kvohost-info" "$bin/src/libKestavo.so"
