#!/bin/sh
# Writes one NULL_PROBE(name) line for every function the public headers
# declare, for the null-argument test to include.  The prototypes come from
# the compiler's -aux-info list, as in check_exports.sh; clang has no such
# option, so gcc stands in for it when it is the C compiler.
# Usage: null_functions.sh <c-compiler> <include-dir> <output-file>
set -eu
cc=$1 inc=$2 out=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

printf '#include <vantrel.h>\n' > "$tmp/all.c"
if ! "$cc" -std=c11 -I"$inc" -fsyntax-only -aux-info "$tmp/aux.txt" \
    "$tmp/all.c" 2>/dev/null; then
  gcc -std=c11 -I"$inc" -fsyntax-only -aux-info "$tmp/aux.txt" "$tmp/all.c"
fi
grep -F "$inc/" "$tmp/aux.txt" \
  | sed -n 's/.*[* ]\([A-Za-z_][A-Za-z0-9_]*\) *(.*/\1/p' | sort -u \
  | sed 's/.*/NULL_PROBE(&)/' > "$tmp/list"
[ -s "$tmp/list" ] || { echo "no prototypes found under $inc" >&2; exit 1; }
mv "$tmp/list" "$out"
