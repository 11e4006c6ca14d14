#!/bin/sh
# An IP driver module exports nothing but its entry function and needs only
# the libraries of the allowed list (shell patterns): the C library, and
# the sanitizer runtimes in a sanitizer build.
# Usage: check_driver_module.sh <nm> <readelf> <module> <allowed pattern>...
set -eu
nm=$1 readelf=$2 module=$3
shift 3

# Instrumented builds add the sanitizers' own symbols.
exports=$("$nm" -D --defined-only "$module" | awk '{print $3}' \
  | grep -v -E '^_*(asan|odr_asan|tsan|ubsan|sanitizer)' || true)
if [ "$exports" != "_VSockIpDrvDefGet" ]; then
  echo "$module exports:"; echo "$exports"; exit 1
fi
needed=$("$readelf" -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
for name in $needed; do
  ok=0
  for pattern in "$@"; do
    # shellcheck disable=SC2254
    case $name in $pattern) ok=1 ;; esac
  done
  [ "$ok" -eq 1 ] || { echo "$module needs $name"; exit 1; }
done
echo "$module exports only its entry and needs only:" $needed
