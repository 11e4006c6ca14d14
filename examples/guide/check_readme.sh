#!/bin/sh
# The README shows excerpts of the guide's programs: a line
#   <!-- example: examples/guide/NAME.c -->
# names the program, and the fenced block after it is the excerpt.  Every
# non-blank line of the excerpt must be a line of that program (leading
# blanks aside), so the README cannot show code the tests do not build.
# Each program of examples/guide must be shown.
# Usage: check_readme.sh README SOURCE-DIR
set -eu
readme=$1 source=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

awk -v dir="$tmp" '
  /^<!-- example: .* -->$/ { file = $3; gsub("/", "_", file); next }
  file != "" && /^```/ { if (open) { open = 0; file = "" } else open = 1; next }
  open { print > (dir "/" file) }
' "$readme"

status=0
for program in "$source"/examples/guide/*.c; do
  name=examples/guide/$(basename "$program")
  excerpt=$tmp/$(echo "$name" | tr / _)
  if [ ! -s "$excerpt" ]; then
    echo "README shows no excerpt of $name"; status=1; continue
  fi
  sed 's/^[[:space:]]*//' "$program" > "$tmp/program"
  while IFS= read -r line; do
    line=$(printf '%s' "$line" | sed 's/^[[:space:]]*//')
    [ -n "$line" ] || continue
    grep -qxF -- "$line" "$tmp/program" || {
      printf '%s: the README shows a line the program lacks: %s\n' "$name" "$line"
      status=1; }
  done < "$excerpt"
done
for excerpt in "$tmp"/examples_guide_*; do
  [ -e "$excerpt" ] || continue
  program=$source/$(basename "$excerpt" | sed 's|^examples_guide_|examples/guide/|')
  [ -f "$program" ] || { echo "README shows $program, which does not exist"; status=1; }
done
[ "$status" -eq 0 ] && echo "README excerpts match $(ls "$source"/examples/guide/*.c | wc -l) programs"
exit $status
