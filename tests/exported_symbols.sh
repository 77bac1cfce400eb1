#!/usr/bin/env bash
# Fails when a Zeph shared library exports a dynamic symbol outside its public API. Allowed: what
# is declared in namespace Korvel, except the internal Korvel::Platform, with the typeinfo,
# vtables and thunks of those types; and the typeinfo and vtables of boost::wrapexcept<Korvel::...>,
# which callers need to catch the library's exceptions. Anything else (a std:: template instance,
# a platform function) is a leak. `--keep SYMBOL` before a library: that library must export it.
# Usage: exported_symbols.sh [--keep SYMBOL]... LIB ...
set -euo pipefail
special='((typeinfo name|typeinfo|vtable|VTT|construction vtable) for |(non-virtual|virtual) thunk to )'
allowed="^(${special}?Korvel::|(typeinfo name|typeinfo|vtable|VTT) for boost::wrapexcept<Korvel::)"
status=0
keep=()
while [ $# -gt 0 ]; do
  if [ "$1" = --keep ]; then keep+=("$2"); shift 2; continue; fi
  lib=$1; shift
  symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt)
  count=$(printf '%s\n' "$symbols" | grep -c . || true)
  strays=$(printf '%s\n' "$symbols" | grep -vxE '_init|_fini|_edata|_end|__bss_start' |
    awk -v ok="$allowed" -v internal="^${special}?Korvel::Platform::" '!($0 ~ ok) || $0 ~ internal')
  missing=""
  for symbol in ${keep[@]+"${keep[@]}"}; do
    # A here-string, not a pipe: grep -q stops reading at the first match, and the writer's
    # broken pipe would fail the check under pipefail.
    grep -qxF "$symbol" <<<"$symbols" || missing+="$symbol"$'\n'
  done
  keep=()
  if [ "$count" -eq 0 ]; then
    echo "$(basename "$lib"): exports nothing"; status=1
  elif [ -n "$strays$missing" ]; then
    [ -z "$strays" ] || { echo "$(basename "$lib"): exports symbols outside its public API:"; printf '%s\n' "$strays" | head -n 40 | sed 's/^/  /'; }
    [ -z "$missing" ] || { echo "$(basename "$lib"): does not export:"; printf '%s' "$missing" | sed 's/^/  /'; }
    status=1
  else
    echo "$(basename "$lib"): $count symbols, all public API"
  fi
done
exit $status
