#!/bin/sh
# vtprops as an operator uses it: the usage and its exit status, clean
# files, the first error as FILE:LINE: MESSAGE, both printing modes and a
# round trip through them; then a copy installed into a new prefix, which
# must run without any library path set.
# Usage: vtprops_test.sh tool VTPROPS WORK-DIR
#        vtprops_test.sh installed CMAKE BUILD-DIR WORK-DIR
set -u

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1"
}

# expect_error DESCRIPTION TEXT: standard error is exactly the one line.
expect_error() {
  got=$(cat "$work/err")
  [ "$got" = "$2" ] || fail "$1: stderr is '$got', expected '$2'"
}

# The printed file without its header, whose time changes.
body() { sed '1,/^# Written: /d' "$1"; }

run_tool_tests() {
  vt=$1

  # ---- Usage.
  "$vt" > /dev/null 2> "$work/err"; status=$?
  expect_status 2 "no file"
  grep -q '^usage: vtprops' "$work/err" || fail "no usage without a file"
  for args in "--frobnicate x" "a b" "--write --reproduce x" "--verbose"; do
    # shellcheck disable=SC2086
    "$vt" $args > /dev/null 2> "$work/err"; status=$?
    expect_status 2 "vtprops $args"
    head -n 1 "$work/err" | grep -q '^vtprops: ' || fail "vtprops $args: no reason"
  done
  "$vt" --help > "$work/out" 2> "$work/err"; status=$?
  expect_status 0 "--help"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS"; do
    grep -q "^$section\$" "$work/out" || fail "--help has no $section section"
  done
  [ -s "$work/err" ] && fail "--help wrote to stderr"
  "$vt" --version | grep -q '^vtprops (libvantrel) [0-9]' || fail "--version"

  # ---- A clean file with an include: nothing on stderr, not even the
  # library's start-up lines.
  printf 'port: 4100\n' > "$work/inc.props"
  cat > "$work/app.props" <<EOF
# the application
host: 'example.org'   # a comment
include '$work/inc.props'
debug: on ratio: 0.25
when: ~86400
blob: 0x0a1b
EOF
  "$vt" "$work/app.props" > "$work/out" 2> "$work/err"; status=$?
  expect_status 1 "a binary value"
  expect_error "a binary value" "$work/app.props:6: blob: value of the wrong type (binary values cannot be set; a name keeps the type it was first given)"
  sed -i '$d' "$work/app.props"
  "$vt" "$work/app.props" > "$work/out" 2> "$work/err"; status=$?
  expect_status 0 "a clean file"
  [ -s "$work/err" ] && fail "a clean file: stderr has $(cat "$work/err")"
  [ -s "$work/out" ] && fail "checking alone printed something"

  "$vt" --reproduce "$work/app.props" > "$work/out" 2> "$work/err"; status=$?
  expect_status 0 "--reproduce"
  body "$work/out" > "$work/body"
  cat > "$work/want" <<EOF

host: 'example.org' # STRING ()
include '$work/inc.props'
debug: TRUE # BOOLEAN ()
ratio: 0.250000 # REAL ()
when: 86400 # UTC Fri Jan  2 00:00:00 1970 ()

# End of File
EOF
  cmp -s "$work/body" "$work/want" || fail "--reproduce: $(diff "$work/want" "$work/body")"
  head -n 3 "$work/out" | tr '\n' '|' | grep -q '^# Vantrel Properties File|#|# libvantrel: ' ||
    fail "--reproduce: no header"

  "$vt" --write "$work/app.props" > "$work/out" 2> "$work/err"; status=$?
  expect_status 0 "--write"
  grep -q "^port: 4100 # INTEGER64 ()\$" "$work/out" || fail "--write has no port"
  grep -q "^include '$work/inc.props'\$" "$work/out" || fail "--write has no include"
  grep -q "Props.CheckNames" "$work/out" && fail "--write shows the manager's own property"

  # What --write prints reads back to the same (times come back as numbers).
  "$vt" --write "$work/out" > "$work/again" 2> "$work/err"; status=$?
  expect_status 0 "reading --write output"
  body "$work/out" | sed 's/ # UTC .* ()$/ # INTEGER64 ()/' > "$work/first"
  body "$work/again" > "$work/second"
  cmp -s "$work/first" "$work/second" || fail "round trip: $(diff "$work/first" "$work/second")"

  # ---- Errors: one line each, exit status 1.
  printf 'port: 1\nhost: bare\n' > "$work/syntax.props"
  "$vt" --reproduce "$work/syntax.props" > "$work/out" 2> "$work/err"; status=$?
  expect_status 1 "syntax error"
  expect_error "syntax error" "$work/syntax.props:2: syntax error"
  grep -q '^port: 1 # INTEGER64 ()$' "$work/out" || fail "what came before the error is not printed"

  printf 'port: 1\n# no line end' > "$work/comment.props"
  "$vt" "$work/comment.props" 2> "$work/err"; status=$?
  expect_status 1 "final comment"
  expect_error "final comment" "$work/comment.props:2: syntax error"

  printf 'a: 1\n\ninclude "%s/none.props"\n' "$work" > "$work/missing.props"
  "$vt" "$work/missing.props" 2> "$work/err"; status=$?
  expect_status 1 "missing include"
  expect_error "missing include" "$work/none.props:3: Could not open include file"

  printf 'include foo.props\n' > "$work/bare.props"
  "$vt" "$work/bare.props" 2> "$work/err"; status=$?
  expect_status 1 "bare include"
  expect_error "bare include" "$work/bare.props:1: include needs a quoted file name, not 'foo.props'"

  printf "include '%s/self.props'\n" "$work" > "$work/self.props"
  "$vt" "$work/self.props" 2> "$work/err"; status=$?
  expect_status 1 "include loop"
  expect_error "include loop" "$work/self.props:1: include files nested more than 10 deep"

  printf "port: 1\nport: 'text'\n" > "$work/type.props"
  "$vt" "$work/type.props" 2> "$work/err"; status=$?
  expect_status 1 "type clash"
  grep -q "^$work/type.props:2: port: value of the wrong type" "$work/err" || fail "type clash: $(cat "$work/err")"

  "$vt" "$work/nothing.props" 2> "$work/err"; status=$?
  expect_status 1 "missing file"
  expect_error "missing file" "vtprops: $work/nothing.props: No such file or directory"

  "$vt" "$work" 2> "$work/err"; status=$?
  expect_status 1 "a directory"
  expect_error "a directory" "$work:1: Is a directory"

  # --verbose shows the library's lines: here, each property created.
  VDE_DEFAULT_LOG_LEVEL=info "$vt" --verbose "$work/inc.props" 2> "$work/err"; status=$?
  expect_status 0 "--verbose"
  grep -q 'Dynamically creating property "port"' "$work/err" || fail "--verbose shows nothing"
}

case ${1:-} in
  tool)
    work=$3
    rm -rf "$work" && mkdir -p "$work" || exit 1
    run_tool_tests "$2"
    ;;
  installed)
    cmake=$2 build=$3 work=$4
    rm -rf "$work" && mkdir -p "$work" || exit 1
    "$cmake" --install "$build" --prefix "$work/prefix" > "$work/install.log" || exit 1
    vt=$work/prefix/bin/vtprops
    [ -x "$vt" ] || { echo "FAIL: vtprops not installed into bin/"; exit 1; }
    [ -f "$work/prefix/share/man/man1/vtprops.1" ] || fail "no manual page installed"
    printf 'port: 1\n' > "$work/p.props"
    (unset LD_LIBRARY_PATH; "$vt" --write "$work/p.props" | grep -q '^port: 1 ') ||
      fail "the installed vtprops does not run on its own"
    ;;
  *)
    echo "usage: $0 tool VTPROPS WORK-DIR | installed CMAKE BUILD-DIR WORK-DIR"
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all vtprops checks passed"
