#!/bin/sh
# Proves that the library reaches the heap only through its allocation
# funnel: no object but the funnel's refers to the C allocator or to C++
# operator new/delete.
# Usage: check_funnel.sh <object files...>
set -eu
forbidden='^(malloc|calloc|realloc|reallocarray|strdup|strndup|free|posix_memalign|aligned_alloc|memalign|valloc|CRYPTO_malloc|CRYPTO_zalloc|CRYPTO_free|_Znwm.*|_Znam.*|_ZdlPv.*|_ZdaPv.*)$'
status=0
count=0
for obj in "$@"; do
  case "$obj" in */alloc.cpp.o) continue ;; esac
  count=$((count + 1))
  bad=$(nm -u "$obj" | awk '{print $2}' | sed 's/@.*//' | grep -E "$forbidden" || true)
  if [ -n "$bad" ]; then
    echo "$obj allocates around the funnel: $bad"
    status=1
  fi
done
[ "$count" -gt 0 ] || { echo "no objects given"; exit 1; }
[ "$status" -eq 0 ] && echo "$count objects checked, none allocates around the funnel"
exit $status
