#!/bin/sh
# Writes the linker version script of libvantrel.so: the functions the
# public headers declare are global in the version node VANTREL_<major>,
# everything else is local.  The list comes from the compiler's -aux-info
# prototypes, as the export check in tests/abi reads them, so a function
# added to a header is exported without editing anything here.
# -aux-info is gcc's own; under clang, gcc reads the headers instead.
# Usage: vantrel_version_script.sh <c-compiler> <include-dir> <major> <output>
set -eu
cc=$1 inc=$2 major=$3 out=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

printf '#include <vantrel.h>\n' > "$tmp/all.c"
aux_cc=$cc
"$cc" --version 2>/dev/null | grep -q clang && aux_cc=gcc
"$aux_cc" -std=c11 -I"$inc" -fsyntax-only -aux-info "$tmp/aux.txt" "$tmp/all.c"
grep -F "$inc/" "$tmp/aux.txt" \
  | sed -n 's/.*[* ]\([A-Za-z_][A-Za-z0-9_]*\) *(.*/\1/p' | sort -u > "$tmp/names"
[ -s "$tmp/names" ] || { echo "no prototypes found under $inc" >&2; exit 1; }

{
  echo "/* Generated from the public headers; do not edit. */"
  echo "VANTREL_$major {"
  echo "  global:"
  sed 's/.*/    &;/' "$tmp/names"
  echo "  local:"
  echo "    *;"
  echo "};"
} > "$tmp/map"
# Rewritten only when the list changed, so that an edited comment in a
# header does not relink the library.
if ! cmp -s "$tmp/map" "$out" 2>/dev/null; then
  mv "$tmp/map" "$out"
fi
