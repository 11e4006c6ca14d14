#!/bin/sh
# Checks the dynamic symbol table of the shared library against the headers:
# every exported function is declared by a public header, every declared
# function is exported, and no exported name is also exported by the C
# library (which would replace the C library's function for the whole
# process).
# Usage: check_exports.sh <c-compiler> <include-dir> <libvantrel.so>
set -eu
cc=$1 inc=$2 lib=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The functions our headers declare.
"$(dirname "$0")/../../cmake/vantrel_public_functions.sh" "$cc" "$inc" \
  > "$tmp/declared"

nm -D --defined-only "$lib" | awk '$2 ~ /^[TWDBRVi]$/ {print $3}' \
  | sed 's/@.*//' | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' \
  | sort -u > "$tmp/exported"

status=0
extra=$(comm -13 "$tmp/declared" "$tmp/exported")
if [ -n "$extra" ]; then
  echo "exported but not declared in a public header:"; echo "$extra"; status=1
fi
missing=$(comm -23 "$tmp/declared" "$tmp/exported")
if [ -n "$missing" ]; then
  echo "declared but not exported:"; echo "$missing"; status=1
fi

libc=$("$cc" -print-file-name=libc.so.6)
[ -f "$libc" ] || libc=$(ldd "$lib" | awk '/libc\.so/ {print $3}')
nm -D --defined-only "$libc" | awk '{print $3}' | sed 's/@.*//' | sort -u > "$tmp/libc"
clash=$(comm -12 "$tmp/exported" "$tmp/libc")
if [ -n "$clash" ]; then
  echo "exported names that the C library also exports:"; echo "$clash"; status=1
fi

[ "$status" -eq 0 ] && echo "$(wc -l < "$tmp/exported") interface functions exported, all declared"
exit $status
