#!/bin/sh
# The shared library must need nothing at run time but the libraries of the
# allowed list (shell patterns): above all not the C++ runtime (libstdc++)
# or libgcc_s, and no symbol versioned by them.
# Usage: check_needed.sh <readelf> <nm> <libvantrel.so> <allowed pattern>...
set -eu
readelf=$1 nm=$2 lib=$3
shift 3

status=0
needed=$("$readelf" -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
[ -n "$needed" ] || { echo "no NEEDED entries read from $lib"; exit 1; }
for name in $needed; do
  case $name in
    libstdc++*|libgcc_s*) echo "needs the C++ runtime: $name"; status=1; continue ;;
  esac
  ok=0
  for pattern in "$@"; do
    # shellcheck disable=SC2254
    case $name in $pattern) ok=1 ;; esac
  done
  [ "$ok" -eq 1 ] || { echo "needs $name, which is not in the allowed list"; status=1; }
done

cxx=$("$nm" -D --undefined-only "$lib" | grep -E '@(GLIBCXX|CXXABI|GCC)_' || true)
if [ -n "$cxx" ]; then
  echo "uses symbols of the C++ runtime:"; echo "$cxx"; status=1
fi

[ "$status" -eq 0 ] && echo "needs only:" $needed
exit $status
