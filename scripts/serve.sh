#!/usr/bin/env bash
# Serves the live page (web/) and the WebAssembly package on localhost, with the headers
# that make the page cross-origin isolated (COOP/COEP), so the threaded module can run.
# Builds the package first when it is missing. Open the printed URL; add ?isolated=0 to
# see the page without isolation (it then loads the single-threaded module).
#
#   scripts/serve.sh [--port N]      (default 8327)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port=8327
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port="$2"; shift 2 ;;
    *) echo "Error: unknown argument '$1' (--port N)" >&2; exit 2 ;;
  esac
done
package="$here/build/wasm/package"
if [ ! -f "$package/kestavo.mjs" ]; then
  echo "serve: building the WebAssembly package (scripts/build.sh wasm)"
  "$here/scripts/build.sh" wasm
fi
cache="${KVO_CACHE:-$here/.cache}"
exec node "$here/tools/web/server.mjs" --port "$port" \
  --root "/=$here/web" --root "/kestavo/=$package" --root "/media/=$cache/media"
