# Shared by the tool tests, sourced last by each: failure counting, status
# checks, and the two modes.  The script sets $tool and defines
# run_tool_tests, and runs_alone for the installed copy ($vt set).
# Usage: SCRIPT tool TOOL-BINARY WORK-DIR | installed CMAKE BUILD-DIR WORK-DIR
set -u
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# expect_status WANT DESCRIPTION: compares $status with WANT.
expect_status() {
  [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1"
}
# run WANT DESCRIPTION ARGS...: the tool's status, with its output in
# $work/out and $work/err.
run() {
  want=$1 what=$2
  shift 2
  "$vt" "$@" > "$work/out" 2> "$work/err"; status=$?
  expect_status "$want" "$what"
}

case ${1:-} in
  tool) vt=$2 work=$3 ;;
  installed) work=$4 ;;
  *) echo "usage: $0 tool BINARY WORK-DIR | installed CMAKE BUILD-DIR WORK-DIR"
     exit 2 ;;
esac
rm -rf "$work" && mkdir -p "$work" || exit 1
if [ "$1" = tool ]; then
  run_tool_tests
else
  "$2" --install "$3" --prefix "$work/prefix" > "$work/install.log" || exit 1
  vt=$work/prefix/bin/$tool
  [ -x "$vt" ] || { echo "FAIL: $tool not installed into bin/"; exit 1; }
  [ -f "$work/prefix/share/man/man1/$tool.1" ] || fail "no manual page installed"
  # Nothing but the installation itself: no library path.
  (unset LD_LIBRARY_PATH; runs_alone) ||
    fail "the installed $tool does not run on its own"
fi
[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all $tool checks passed"
