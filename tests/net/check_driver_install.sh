#!/bin/sh
# The driver modules are installed below the home an installed library
# falls back on, <libdir>/vantrel, in its network module directory.
# Usage: check_driver_install.sh <cmake> <build-dir> <work-dir> <libdir>
set -eu
cmake=$1 build=$2 work=$3 libdir=$4
rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$work/prefix" > "$work/install.log"
dir=$work/prefix/$libdir/vantrel/platform/linux/module/network
for driver in ipv4_r ipv6_r; do
  [ -f "$dir/$driver.so" ] || { echo "$dir/$driver.so was not installed"; exit 1; }
done
echo "drivers installed in $dir"
