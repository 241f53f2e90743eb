#!/usr/bin/env bash
# Checks that the library exports exactly the four entry points and the 36 named
# functions, leaves the FRE functions to the host, and depends on nothing beyond the
# C and C++ runtimes, libm and pthreads.
set -euo pipefail
lib="$1"
sanitized="${2:-}"   # non-empty in sanitizer builds, whose runtimes are then allowed
fail=0
defined=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sort)
count=$(printf '%s\n' "$defined" | grep -c . || true)
entry=$(printf '%s\n' "$defined" | grep -cE '^(KestavoExtInitializer|KestavoExtFinalizer|ContextInitializer|ContextFinalizer)$' || true)
named=$(printf '%s\n' "$defined" | grep -c '^kvo_' || true)
if [ "$count" -ne 40 ] || [ "$entry" -ne 4 ] || [ "$named" -ne 36 ]; then
  echo "Error: expected 40 exported names (4 entry points, 36 kvo_ functions), found $count:"; printf '%s\n' "$defined"; fail=1
fi
undefined_fre=$(nm -D --undefined-only "$lib" | awk '{print $2}' | grep -c '^FRE' || true)
if [ "$undefined_fre" -lt 10 ]; then
  echo "Error: the FRE functions should stay undefined (found $undefined_fre)"; fail=1
fi
needed=$(objdump -p "$lib" | awk '/NEEDED/ {print $2}')
for n in $needed; do
  case "$n" in
    libc.so.*|libm.so.*|libstdc++.so.*|libgcc_s.so.*|libpthread.so.*|ld-linux*) ;;
    libasan.so.*|libubsan.so.*|libtsan.so.*) [ -n "$sanitized" ] || { echo "Error: unexpected dynamic dependency $n"; fail=1; } ;;
    *) echo "Error: unexpected dynamic dependency $n"; fail=1 ;;
  esac
done
[ "$fail" -eq 0 ] && echo "exports: $count names; FRE imports: $undefined_fre; needed: $(echo $needed)"
exit $fail
