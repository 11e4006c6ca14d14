#!/bin/sh
# The library's layer order, checked on the includes of every unit and
# public header: a file includes headers of its own layer and the layers
# below, never above.  libs/libvantrel/src/README.md explains the order.
# A folder or public header missing from the tables below fails the check,
# so a new one gets its layer by a deliberate edit here, and so does an
# upward include (ALLOWED, with the reason).
# Usage: check_layers.sh <library-dir holding src/ and include/>
set -eu
lib=${1%/}

# Folders under src/, bottom up.
FOLDERS='
platform 1
internal 1
containers 2
text 2
time 2
values 2
core 3
threads 4
log 5
net 6
crypt 6
config 6
services 6
regex 6
operators 6
system 6
init 7
'

# Public headers, by the layer of the family they declare.
HEADERS='
vantrel/export.h 1
vantrel/version.h 1
vantrel/vbase.h 1
vantrel/vlist.h 2
vantrel/vhash.h 2
vantrel/vhashlist.h 2
vantrel/vdhash.h 2
vantrel/vtree.h 2
vantrel/vincralloc.h 2
vantrel/vsort.h 2
vantrel/vstring.h 2
vantrel/vstrbuf.h 2
vantrel/vastring.h 2
vantrel/vtime.h 2
vantrel/vtypes.h 2
vantrel/vvalue.h 2
vantrel/vrc_codes.h 1
vantrel/vrc.h 3
vantrel/vi18n.h 3
vantrel/venv.h 3
vantrel/vthread.h 4
vantrel/vsync.h 4
vantrel/vexcept.h 4
vantrel/vlog.h 5
vantrel/vsocket.h 6
vantrel/vmqueue.h 6
vantrel/vthreadpool.h 6
vantrel/vtimer.h 6
vantrel/vclock.h 6
vantrel/vdatacrypt.h 6
vantrel/vregexp.h 6
vantrel/voperator.h 6
vantrel/vnetdb.h 6
vantrel/vsystem.h 6
vantrel/vservices.h 7
vantrel.h 7
'

# Deliberate upward includes: the including file, the header, the reason.
ALLOWED='
core/retcode.cpp threads/error_buffer.h return-code texts are written into the calling thread'"'"'s error buffer
values/vvalue.cpp vantrel/vrc.h the general return-code names (constants) only; nothing in core is called
'

export FOLDERS HEADERS ALLOWED
# One awk run over every file (the paths hold no blanks), so that the
# allowed list is checked against the whole library at once.
# shellcheck disable=SC2046
set -- $(find "$lib/src" "$lib/include" -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
awk -v lib="$lib" '
function table(text, map,    lines, n, i, f) {
  n = split(text, lines, "\n")
  for (i = 1; i <= n; i++) {
    if (split(lines[i], f, " ") >= 2) map[f[1]] = f[2]
  }
}
# The layer of a path as an include names it (or as a unit is named), or
# "" when the tables do not know it.
function layer_of(path,    top) {
  if (path in header_layer) return header_layer[path]
  if (path ~ /^vantrel(\/|\.h$)/) return ""
  if (index(path, "/") == 0) return ""
  top = substr(path, 1, index(path, "/") - 1)
  return (top in folder_layer) ? folder_layer[top] : ""
}
BEGIN {
  table(ENVIRON["FOLDERS"], folder_layer)
  table(ENVIRON["HEADERS"], header_layer)
  n = split(ENVIRON["ALLOWED"], lines, "\n")
  for (i = 1; i <= n; i++) {
    if (split(lines[i], f, " ") >= 2) allowed[f[1] " " f[2]] = 0
  }
  bad = 0
  files = 0
}
FNR == 1 {
  unit = FILENAME
  if (index(unit, lib "/src/") == 1) unit = substr(unit, length(lib) + 6)
  else unit = substr(unit, length(lib) + 10)  # past "/include/"
  own = layer_of(unit)
  files++
  if (own == "") {
    printf "%s: its folder or header has no layer: add it to %s\n", unit, "check_layers.sh"
    bad++
  }
}
/^[ \t]*#[ \t]*include[ \t]*["<]/ {
  line = $0
  if (!match(line, /"[^"]+"/) && !match(line, /<vantrel[^>]*>/)) next
  path = substr(line, RSTART + 1, RLENGTH - 2)
  layer = layer_of(path)
  if (layer == "") {
    printf "%s:%d: %s has no layer: add it to check_layers.sh\n", unit, FNR, path
    bad++
    next
  }
  if (own == "" || layer + 0 <= own + 0) next
  key = unit " " path
  if (key in allowed) { allowed[key]++; next }
  printf "%s:%d: includes %s (layer %d) from layer %d\n", unit, FNR, path, layer, own
  bad++
}
END {
  for (key in allowed) {
    if (allowed[key] == 0) {
      printf "allowed upward include no longer made (remove it): %s\n", key
      bad++
    }
  }
  if (files == 0) { print "no files found under " lib; exit 1 }
  if (bad > 0) {
    printf "%d layer problem(s); see libs/libvantrel/src/README.md\n", bad
    exit 1
  }
  printf "%d files checked: no include points up the layer order\n", files
}' "$@"
