#!/bin/sh
# Writes the linker version script of libvantrel.so: the functions the
# public headers declare are global in the version node VANTREL_<major>,
# everything else is local.  The list is the one the export check in
# tests/abi reads, so a function added to a header is exported without
# editing anything here.
# Usage: vantrel_version_script.sh <c-compiler> <include-dir> <major> <output>
set -eu
cc=$1 inc=$2 major=$3 out=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$(dirname "$0")/vantrel_public_functions.sh" "$cc" "$inc" > "$tmp/names"
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
