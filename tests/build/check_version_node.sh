#!/bin/sh
# Every function the shared library exports is bound to the version node of
# its major version (VANTREL_<major>, from the linker version script), and
# the library defines no other node: a client linked today records that
# node, so a future major version with other contracts cannot satisfy it.
# Usage: check_version_node.sh <readelf> <libvantrel.so> <major>
set -eu
readelf=$1 lib=$2 major=$3
node=VANTREL_$major

symbols=$("$readelf" --dyn-syms -W "$lib" \
  | awk '($5 == "GLOBAL" || $5 == "WEAK") && $7 != "UND" && $7 != "ABS" {print $8}')
[ -n "$symbols" ] || { echo "no defined symbols read from $lib"; exit 1; }
loose=$(printf '%s\n' "$symbols" | grep -v "@@$node\$" || true)
if [ -n "$loose" ]; then
  echo "$(printf '%s\n' "$loose" | wc -l) exported without the version node $node, such as:"
  printf '%s\n' "$loose" | head -5; exit 1
fi
nodes=$("$readelf" -V -W "$lib" | sed -n '/\.gnu\.version_d/,/\.gnu\.version_r/p' \
  | sed -n 's/.*Name: \([A-Za-z0-9_.]*\).*/\1/p' | grep -v '^libvantrel' | sort -u)
if [ "$nodes" != "$node" ]; then
  echo "version nodes defined: $nodes (expected only $node)"; exit 1
fi
echo "$(printf '%s\n' "$symbols" | wc -l) functions exported under $node"
