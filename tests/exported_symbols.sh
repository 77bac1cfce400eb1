#!/usr/bin/env bash
# Fails when a Zeph shared library exports a dynamic symbol that is not part of the library's
# own API: everything exported must belong to namespace Korvel (its functions, or typeinfo,
# vtables and template instances made for its types). Usage: exported_symbols.sh LIB...
set -euo pipefail
status=0
for lib in "$@"; do
  symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt)
  count=$(printf '%s\n' "$symbols" | grep -c . || true)
  strays=$(printf '%s\n' "$symbols" | grep -v 'Korvel::' | grep -vxE '_init|_fini|_edata|_end|__bss_start' || true)
  if [ "$count" -eq 0 ]; then
    echo "$(basename "$lib"): exports nothing"; status=1
  elif [ -n "$strays" ]; then
    echo "$(basename "$lib"): exports symbols outside Korvel:"; printf '  %s\n' $strays | head -n 40; status=1
  else
    echo "$(basename "$lib"): $count symbols, all in Korvel"
  fi
done
exit $status
