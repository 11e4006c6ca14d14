#!/bin/sh
# Checks what the shared library shows and needs: it exports exactly the
# functions its header declares, and it needs no library but libcrypto and
# libc (sanitizer run-times aside).
# Usage: check_library.sh <vcrypt.h> <libvcrypt.so>
set -eu
header=$1 lib=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Every declaration starts with VTKCRYPT_API and names its function before
# the first parenthesis on that line.
grep '^VTKCRYPT_API ' "$header" \
  | sed -n 's/^VTKCRYPT_API [^(]*[ *]\([A-Za-z_][A-Za-z0-9_]*\)(.*/\1/p' \
  | sort -u > "$tmp/declared"
nm -D --defined-only "$lib" | awk '$2 ~ /^[TWDBRVi]$/ {print $3}' \
  | sed 's/@.*//' | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' \
  | sort -u > "$tmp/exported"

status=0
[ -s "$tmp/declared" ] || { echo "no declarations found in $header"; exit 1; }
extra=$(comm -13 "$tmp/declared" "$tmp/exported")
if [ -n "$extra" ]; then
  echo "exported but not declared:"; echo "$extra"; status=1
fi
missing=$(comm -23 "$tmp/declared" "$tmp/exported")
if [ -n "$missing" ]; then
  echo "declared but not exported:"; echo "$missing"; status=1
fi

needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' \
  | grep -v -E '^(libcrypto\.so\.3|libc\.so\.6|lib(a|ub|t|l)san\.so.*|ld-linux.*)$' || true)
if [ -n "$needed" ]; then
  echo "needs more than libcrypto and libc:"; echo "$needed"; status=1
fi
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$soname" != "libvcrypt.so.1" ]; then
  echo "soname is '$soname', not libvcrypt.so.1"; status=1
fi

[ "$status" -eq 0 ] && echo "$(wc -l < "$tmp/exported") functions exported, all declared; soname $soname"
exit $status
