#!/bin/sh
# Builds and runs a small C program of another project (consumer/) that
# uses libvantrel in one of the ways a project can:
#   subdirectory  add_subdirectory of the source tree, linking vantrel::vantrel
#   find-package  find_package(vantrel) of a copy installed into a new prefix
#   pkg-config    pkg-config --cflags --libs vantrel of such a copy
# The installed copy is this build's own (cmake --install --prefix), so
# nothing is compiled twice but the consumer.  The consumer starts the
# library and talks over loopback through the IP driver; an installed copy
# must find its driver modules by itself (no VTHOME), in its own prefix.
# Usage: consumer_test.sh MODE WORK-DIR SOURCE-DIR BUILD-DIR CMAKE GENERATOR
#                         C-COMPILER CXX-COMPILER [SANITIZER-FLAGS]
# Exits 77 (skipped) in pkg-config mode when pkg-config is not installed.
set -eu
mode=$1 work=$2 source=$3 build=$4 cmake=$5 generator=$6 cc=$7 cxx=$8
flags=${9:-}
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

install_copy() {
  "$cmake" --install "$build" --prefix "$prefix" > "$work/install.log"
}

# Configures and builds the consumer project; extra arguments go to cmake.
build_consumer() {
  "$cmake" -S "$here/consumer" -B "$work/consumer" -G "$generator" \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE= -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "$@" \
    > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
  "$cmake" --build "$work/consumer" -j 2 > "$work/build.log" 2>&1 \
    || { cat "$work/build.log"; exit 1; }
}

# Runs the consumer ($@) and checks the home the library settled on: $1 of
# this function.  The driver must have been loaded from there.
run_consumer() {
  expected=$1
  shift
  "$@" > "$work/run.log" 2>&1 || { cat "$work/run.log"; exit 1; }
  cat "$work/run.log"
  home=$(sed -n 's/^home //p' "$work/run.log")
  if [ "$home" != "$expected" ]; then
    echo "the library took $home for its home, not $expected"; exit 1
  fi
  if grep -q '^driver No Socket' "$work/run.log"; then
    echo "no IP driver was loaded"; exit 1
  fi
}

# The home of the copy installed into the prefix: <libdir>/vantrel, with
# the links resolved as the library resolves its own place.
installed_home() {
  lib=$(find "$prefix" -name 'libvantrel.so.*.*.*' | head -1)
  echo "$(cd "$(dirname "$lib")" && pwd -P)/vantrel"
}

# Everything an installation holds, in the prefix's own layout.
check_installed_files() {
  missing=""
  for pattern in 'lib*/libvantrel.so' 'lib*/libvantrel.so.1' \
      'lib*/libvcrypt.so.1' 'lib*/vantrel/platform/linux/module/network/ipv4_r.so' \
      'lib*/vantrel/platform/linux/module/network/ipv6_r.so' \
      'include/vantrel.h' 'include/vantrel/vsocket.h' 'include/vcrypt.h' \
      'lib*/pkgconfig/vantrel.pc' 'lib*/cmake/vantrel/vantrelConfig.cmake' \
      'bin/vtcrypt' 'share/man/man1/vtcrypt.1'; do
    # shellcheck disable=SC2086
    set -- "$prefix"/$pattern "$prefix"/lib*/*/${pattern#lib\*/}
    found=0
    for file in "$@"; do [ -e "$file" ] && found=1; done
    [ "$found" -eq 1 ] || missing="$missing $pattern"
  done
  if [ -n "$missing" ]; then
    echo "not installed:$missing"; exit 1
  fi
  if ! readelf -d "$(find "$prefix" -name 'libvantrel.so.1' | head -1)" \
      | grep -q 'SONAME.*\[libvantrel\.so\.1\]'; then
    echo "libvantrel.so.1 carries no soname libvantrel.so.1"; exit 1
  fi
}

case $mode in
  subdirectory)
    # The library is compiled here as a part of the consumer, plainly.
    build_consumer -DVANTREL_SOURCE_DIR="$source"
    if grep -q -e '-Werror' "$work/consumer/compile_commands.json"; then
      echo "-Werror reached the consumer's build:"
      grep -e '-Werror' "$work/consumer/compile_commands.json" | head -3
      exit 1
    fi
    # Built here, the driver modules are staged in this build tree.
    stage=$(cd "$work/consumer/vantrel/stage" && pwd -P)
    run_consumer "$stage" env VTHOME="$stage" "$work/consumer/consumer"
    ;;
  find-package)
    install_copy
    build_consumer -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
    check_installed_files
    run_consumer "$(installed_home)" \
      env -u VTHOME -u KESSHOME "$work/consumer/consumer"
    ;;
  pkg-config)
    command -v pkg-config > /dev/null || { echo "pkg-config not installed"; exit 77; }
    install_copy
    pcdir=$(dirname "$(find "$prefix" -name vantrel.pc)")
    # Plain pkg-config: the file itself must point at its new prefix.
    cflags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags vantrel)
    libs=$(PKG_CONFIG_PATH=$pcdir pkg-config --libs vantrel)
    libdir=$(PKG_CONFIG_PATH=$pcdir pkg-config --variable=libdir vantrel)
    real_prefix=$(cd "$prefix" && pwd -P)
    case $(cd "$libdir" 2>/dev/null && pwd -P) in
      "$real_prefix"/*) ;;
      *) echo "vantrel.pc names libdir $libdir, outside $prefix"; exit 1 ;;
    esac
    # shellcheck disable=SC2086
    "$cc" $flags -std=c11 $cflags -o "$work/consumer-pc" "$here/consumer/main.c" $libs
    run_consumer "$(installed_home)" \
      env -u VTHOME -u KESSHOME LD_LIBRARY_PATH="$libdir" "$work/consumer-pc"
    ;;
  *)
    echo "unknown mode $mode"; exit 2 ;;
esac
