#!/bin/sh
# vtprops as an operator uses it: the usage and its exit status, clean
# files, the first error as FILE:LINE: MESSAGE, both printing modes and a
# round trip through them; then an installed copy run without a library path.
tool=vtprops

# expect_error DESCRIPTION TEXT: standard error is exactly the one line.
expect_error() {
  got=$(cat "$work/err")
  [ "$got" = "$2" ] || fail "$1: stderr is '$got', expected '$2'"
}
# bad DESCRIPTION FILE TEXT: FILE is refused with status 1 and the one line.
bad() { run 1 "$1" "$2"; expect_error "$1" "$3"; }

# The printed file without its header, whose time changes.
body() { sed '1,/^# Written: /d' "$1"; }

run_tool_tests() {
  # ---- Usage.
  run 2 "no file"
  grep -q '^usage: vtprops' "$work/err" || fail "no usage without a file"
  for args in "--frobnicate x" "a b" "--write --reproduce x" "--verbose"; do
    # shellcheck disable=SC2086
    run 2 "vtprops $args" $args
    head -n 1 "$work/err" | grep -q '^vtprops: ' || fail "vtprops $args: no reason"
  done
  run 0 "--help" --help
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS"; do
    grep -q "^$section\$" "$work/out" || fail "--help has no $section section"
  done
  [ -s "$work/err" ] && fail "--help wrote to stderr"
  "$vt" --version | grep -q '^vtprops (libvantrel) [0-9]' || fail "--version"

  # ---- A clean file with an include: nothing on stderr, not even the
  # library's start-up lines.
  printf 'port: 4100\n' > "$work/inc.props"
  app=$work/app.props
  cat > "$app" <<EOF
# the application
host: 'example.org'   # a comment
include '$work/inc.props'
debug: on ratio: 0.25
when: ~86400
blob: 0x0a1b
EOF
  bad "a binary value" "$app" "$app:6: blob: value of the wrong type (binary values cannot be set; a name keeps the type it was first given)"
  sed -i '$d' "$app"
  run 0 "a clean file" "$app"
  [ -s "$work/err" ] && fail "a clean file: stderr has $(cat "$work/err")"
  [ -s "$work/out" ] && fail "checking alone printed something"

  run 0 "--reproduce" --reproduce "$app"
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

  run 0 "--write" --write "$app"
  grep -q "^port: 4100 # INTEGER64 ()\$" "$work/out" || fail "--write has no port"
  grep -q "^include '$work/inc.props'\$" "$work/out" || fail "--write has no include"
  grep -q "Props.CheckNames" "$work/out" && fail "--write shows the manager's own property"

  # What --write prints reads back to the same (times come back as numbers).
  body "$work/out" | sed 's/ # UTC .* ()$/ # INTEGER64 ()/' > "$work/first"
  mv "$work/out" "$work/written"
  run 0 "reading --write output" --write "$work/written"
  body "$work/out" > "$work/second"
  cmp -s "$work/first" "$work/second" || fail "round trip: $(diff "$work/first" "$work/second")"

  # ---- Errors: one line each, exit status 1.
  printf 'port: 1\nhost: bare\n' > "$work/syntax.props"
  run 1 "syntax error" --reproduce "$work/syntax.props"
  expect_error "syntax error" "$work/syntax.props:2: syntax error"
  grep -q '^port: 1 # INTEGER64 ()$' "$work/out" || fail "what came before the error is not printed"
  printf 'port: 1\n# no line end' > "$work/comment.props"
  bad "final comment" "$work/comment.props" "$work/comment.props:2: syntax error"
  printf 'a: 1\n\ninclude "%s/none.props"\n' "$work" > "$work/missing.props"
  bad "missing include" "$work/missing.props" "$work/none.props:3: Could not open include file"
  printf 'include foo.props\n' > "$work/bare.props"
  bad "bare include" "$work/bare.props" "$work/bare.props:1: include needs a quoted file name, not 'foo.props'"
  printf "include '%s/self.props'\n" "$work" > "$work/self.props"
  bad "include loop" "$work/self.props" "$work/self.props:1: include files nested more than 10 deep"
  printf "port: 1\nport: 'text'\n" > "$work/type.props"
  run 1 "type clash" "$work/type.props"
  grep -q "^$work/type.props:2: port: value of the wrong type" "$work/err" || fail "type clash: $(cat "$work/err")"
  bad "missing file" "$work/nothing.props" "vtprops: $work/nothing.props: No such file or directory"
  bad "a directory" "$work" "$work:1: Is a directory"

  # --verbose shows the library's lines: here, each property created.
  VDE_DEFAULT_LOG_LEVEL=info "$vt" --verbose "$work/inc.props" 2> "$work/err"; status=$?
  expect_status 0 "--verbose"
  grep -q 'Dynamically creating property "port"' "$work/err" || fail "--verbose shows nothing"
}

runs_alone() {
  printf 'port: 1\n' > "$work/p.props"
  "$vt" --write "$work/p.props" | grep -q '^port: 1 '
}

. "$(dirname "$0")/tool_test_lib.sh"
