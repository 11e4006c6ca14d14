#!/bin/sh
# Prints, one per line and sorted, the functions that the public headers
# declare: the compiler's -aux-info prototypes, kept when they come from a
# file under the include directory.  The linker version script and the
# export check both start from this list.
# -aux-info is gcc's own; under clang, gcc reads the headers instead.
# Usage: vantrel_public_functions.sh <c-compiler> <include-dir>
set -eu
cc=$1 inc=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

printf '#include <vantrel.h>\n' > "$tmp/all.c"
aux_cc=$cc
"$cc" --version 2>/dev/null | grep -q clang && aux_cc=gcc
"$aux_cc" -std=c11 -I"$inc" -fsyntax-only -aux-info "$tmp/aux.txt" "$tmp/all.c"
grep -F "$inc/" "$tmp/aux.txt" \
  | sed -n 's/.*[* ]\([A-Za-z_][A-Za-z0-9_]*\) *(.*/\1/p' | sort -u
