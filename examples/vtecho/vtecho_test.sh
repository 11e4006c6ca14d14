#!/bin/sh
# Command-line and settings checks of vtecho_server, one case per run:
#
#   vtecho_test.sh help       SERVER WORKDIR
#   vtecho_test.sh dumpprops  SERVER WORKDIR VTCRYPT PROPERTIES
#   vtecho_test.sh badprops   SERVER WORKDIR VTCRYPT PROPERTIES
#
# (The running server, its clients, the idle timer and the shutdown are
# checked by run-demo.sh.)  VTHOME must name the home of the IP drivers.
set -eu
case_name=$1
server=$2
workdir=$3
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_OPTIONS UBSAN_OPTIONS
rm -rf "$workdir"
mkdir -p "$workdir"
cd "$workdir"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# Runs the server with the arguments; its status goes to $status and its
# standard error to err.txt.  No case gives a configuration that starts the
# server; should one do so by mistake, the time limit ends it.
run() {
  status=0
  timeout 20 "$server" "$@" > out.txt 2> err.txt < /dev/null || status=$?
  if grep -q 'Sanitizer\|runtime error' err.txt; then
    fail "sanitizer report for: $*"
    cat err.txt >&2
  fi
}

expect_status() {
  [ "$status" -eq "$1" ] || { fail "$2: status $status, expected $1"; cat err.txt >&2; }
}

expect_text() {
  grep -q -- "$1" err.txt || { fail "$2: no '$1' in:"; cat err.txt >&2; }
}

refuse_text() {
  if grep -q -- "$1" err.txt; then fail "$2: '$1' should not appear"; fi
}

# A key, and the repository's properties with an encrypted token.
make_properties() {
  vtcrypt=$1
  "$vtcrypt" genkey vtecho.key
  encrypted=$(printf 'cleartext-token-42' | "$vtcrypt" encrypt --key vtecho.key)
  sed "s|^AccessToken:.*|AccessToken: '$encrypted'|" "$2" > good.properties
}

case $case_name in
help)
  run -help
  expect_status 0 "-help"
  for option in -propsfile -port -threads -dumpprops -help; do
    expect_text "	$option " "-help"
  done
  # The defaults are shown through the help formats.
  expect_text "(vtecho.properties)" "-help"
  refuse_text "Undefined argument" "-help"
  [ ! -s out.txt ] || fail "-help wrote to standard output"

  run -threads 3 -bogus
  expect_status 2 "an undefined option"
  expect_text "Undefined argument" "an undefined option"
  expect_text "-bogus" "an undefined option"
  expect_text "Usage:" "an undefined option"
  ;;

dumpprops)
  make_properties "$4" "$5"
  run -propsfile good.properties -port 4321 -threads 3 -dumpprops
  expect_status 0 "-dumpprops"
  # The file was read and the command line won over it.
  expect_text "^Port: 4321 " "-dumpprops"
  expect_text "^Threads: 3 " "-dumpprops"
  expect_text "^IdleSeconds: 2 " "-dumpprops"
  expect_text "^ConfigKeyFile: 'vtecho.key'" "-dumpprops"
  expect_text "^FilterPattern: '(password|secret)=\[^ \]+'" "-dumpprops"
  # The decrypted token is never printed, nor is the encrypted one.
  refuse_text "cleartext-token-42" "-dumpprops"
  refuse_text "AccessToken" "-dumpprops"
  refuse_text "Undefined argument" "-dumpprops"
  ;;

badprops)
  make_properties "$4" "$5"
  encrypted=$(sed -n "s/^AccessToken: //p" good.properties)
  # Each bad line is line 3 of its file; the reader names file and line,
  # and the server exits with status 2 without listening.
  while IFS=';' read -r line name; do
    printf "Threads: 2\nLogLevel: 'warn'\n%s\nPort: 0\n" "$line" > bad.properties
    run -propsfile bad.properties
    expect_status 2 "$line"
    expect_text "bad.properties, line 3 near $name" "$line"
    [ ! -s out.txt ] || fail "$line: the server started listening"
  done <<'EOF'
Threads: 0;Threads
Threads: 65;Threads
Port: 70000;Port
Port: 'http';Port
IdleSeconds: -1;IdleSeconds
Prot: 8080;Prot
FilterPattern: '(password|secret';FilterPattern
FilterPattern: 'a{2,1}';FilterPattern
LogLevel: 'loud';LogLevel
ConfigKeyFile: 'no-such.key';ConfigKeyFile
EOF

  # An encrypted token without a key to decrypt it.
  printf "AccessToken: %s\n" "$encrypted" > nokey.properties
  run -propsfile nokey.properties
  expect_status 2 "a token without key"
  expect_text "AccessToken is encrypted but no ConfigKeyFile" "a token without key"
  ;;

*)
  echo "vtecho_test.sh: unknown case $case_name" >&2
  exit 2
  ;;
esac

[ "$failures" -eq 0 ]
