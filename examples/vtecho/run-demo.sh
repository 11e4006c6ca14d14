#!/bin/sh
# Runs the vtecho scenario end to end and prints a summary:
#   1. makes a key file with `vtcrypt genkey` and a random access token,
#      and writes a copy of vtecho.properties holding the encrypted token;
#   2. starts vtecho_server on a free loopback port;
#   3. runs vtecho_client with several connections, then a silent
#      connection for the idle timer, then a client with a wrong token;
#   4. stops the server with SIGTERM and checks it exited with status 0;
#   5. checks the results and prints the summary.
# Exits 0 when every check passed.
#
#   run-demo.sh --server PATH --client PATH --vtcrypt PATH
#               --properties PATH --workdir DIR
#               [--connections N] [--messages N]
#
# VTHOME must name the home holding the IP driver modules.  Everything is
# written below the work directory, which is emptied first.
set -eu

connections=4
messages=400
while [ $# -gt 1 ]; do
  case $1 in
    --server) server=$2 ;;
    --client) client=$2 ;;
    --vtcrypt) vtcrypt=$2 ;;
    --properties) properties=$2 ;;
    --workdir) workdir=$2 ;;
    --connections) connections=$2 ;;
    --messages) messages=$2 ;;
    *) echo "run-demo.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
if [ $# -ne 0 ] || [ -z "${server-}" ] || [ -z "${client-}" ] ||
   [ -z "${vtcrypt-}" ] || [ -z "${properties-}" ] || [ -z "${workdir-}" ]; then
  echo "usage: run-demo.sh --server PATH --client PATH --vtcrypt PATH" \
       "--properties PATH --workdir DIR [--connections N] [--messages N]" >&2
  exit 2
fi

# In a sanitizer build a report must end the program with a failure status.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_OPTIONS UBSAN_OPTIONS

absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
server=$(absolute "$server")
client=$(absolute "$client")
vtcrypt=$(absolute "$vtcrypt")
properties=$(absolute "$properties")

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# The value of NAME in a NAME=VALUE results file.
result() { sed -n "s/^$2=//p" "$1"; }

rm -rf "$workdir"
mkdir -p "$workdir"
cd "$workdir"
umask 077

# --- 1. Key, token and the properties copy.
"$vtcrypt" genkey vtecho.key
od -An -N12 -tx1 /dev/urandom | tr -d ' \n' > token.txt
encrypted=$("$vtcrypt" encrypt --key vtecho.key < token.txt)
sed "s|^AccessToken:.*|AccessToken: '$encrypted'|" "$properties" \
  > vtecho.properties
grep -q "^AccessToken: '@" vtecho.properties ||
  { echo "run-demo.sh: no AccessToken line in $properties" >&2; exit 1; }
echo "wrong-token" > wrong-token.txt

# --- 2. The server.  Its first line on standard output names the port; a
# pipe delivers it as soon as it is written (or ends if the server dies).
mkfifo server.out
"$server" -propsfile vtecho.properties > server.out 2> server.err &
server_pid=$!
# Never leave the server running when a step fails unexpectedly.
trap 'kill -KILL "$server_pid" 2>/dev/null || true' EXIT
exec 3< server.out
if ! IFS= read -r listening <&3; then
  echo "run-demo.sh: the server did not start:" >&2
  cat server.err >&2
  wait "$server_pid" || true
  exit 1
fi
address=${listening##* }
port=${address##*:}

# --- 3. The clients.
client_status=0
"$client" -port "$port" -tokenfile token.txt -connections "$connections" \
  -messages "$messages" -results load.txt > client.out 2> client.err ||
  client_status=$?
idle_status=0
"$client" -port "$port" -tokenfile token.txt -idleprobe -results idle.txt \
  > idle.out 2> idle.err || idle_status=$?
wrong_status=0
"$client" -port "$port" -tokenfile wrong-token.txt -connections 1 \
  -messages 1 -results wrong.txt > wrong.out 2> wrong.err || wrong_status=$?

# --- 4. Stop the server.
kill -TERM "$server_pid"
server_status=0
wait "$server_pid" || server_status=$?
trap - EXIT
exec 3<&-

# --- 5. Checks.
# The last lines may straddle a rotation.
logs=$(ls vtecho.log_old vtecho.log 2>/dev/null || true)
final=$(cat $logs | grep 'final statistics:' | tail -n 1)
stopped=$(cat $logs | grep 'stopped after' | tail -n 1)
statistics_lines=$(echo "$stopped" | sed -n 's/.*stopped after \([0-9]*\).*/\1/p')
filtered=$(echo "$final" | sed -n 's/.*filtered \([0-9]*\).*/\1/p')
denied=$(echo "$final" | sed -n 's/.*denied \([0-9]*\).*/\1/p')
idle_closed=$(echo "$final" | sed -n 's/.*idle closed \([0-9]*\).*/\1/p')
idle_seconds=$(result idle.txt idle_seconds 2>/dev/null || true)

[ "$server_status" -eq 0 ] || fail "the server exited with status $server_status"
[ "$client_status" -eq 0 ] || fail "the client exited with status $client_status"
[ "$(result load.txt messages)" = "$messages" ] ||
  fail "$(result load.txt messages) of $messages messages echoed"
[ "$(result load.txt errors)" = 0 ] || fail "the client saw wrong echoes"
[ -n "$filtered" ] && [ "$filtered" -gt 0 ] &&
  [ "$filtered" = "$(result load.txt redacted)" ] ||
  fail "the server filtered '$filtered' lines, the client saw" \
       "$(result load.txt redacted) redacted"
[ "$idle_status" -eq 0 ] && [ "$idle_closed" = 1 ] ||
  fail "the idle connection was not closed by the server"
# Generous bounds: the timer ticks every quarter second.
awk -v s="${idle_seconds:-0}" 'BEGIN { exit !(s >= 1.5 && s <= 10) }' ||
  fail "idle connection closed after ${idle_seconds:-?} s, expected about 2"
[ "$wrong_status" -eq 1 ] && [ "$(result wrong.txt denied)" = 1 ] &&
  [ "$denied" = 1 ] || fail "the wrong token was not refused"
[ -n "$statistics_lines" ] && [ "$statistics_lines" -ge 1 ] ||
  fail "no statistics line was logged"
if grep -l 'Sanitizer\|runtime error' server.err client.err idle.err \
     wrong.err 2>/dev/null; then
  fail "a sanitizer reported errors"
fi

# --- Summary.
log_files=
for f in vtecho.log vtecho.log_old; do
  [ -f "$f" ] && log_files="$log_files $workdir/$f ($(wc -c < "$f") bytes)"
done
echo
echo "vtecho demo: echo server on $address"
echo "  load:        $(sed -n 1p client.out)"
echo "               $(sed -n 2p client.out)"
echo "  latency:     $(sed -n 3p client.out | sed 's/^round trip: //')"
echo "  filter:      $filtered lines redacted (FilterPattern in vtecho.properties)"
echo "  idle timer:  $(cat idle.out)"
echo "  token:       decrypted at start-up; a client with a wrong one was" \
     "$( [ "$denied" = 1 ] && echo refused || echo NOT refused)"
echo "  statistics:  $statistics_lines periodic lines logged;" \
     "${final#*final statistics: }"
echo "  log files:  $log_files"
echo "  shutdown:    SIGTERM, exit status $server_status"
if [ "$failures" -ne 0 ]; then
  echo "server standard error:" >&2
  cat server.err >&2
  exit 1
fi
echo "  all checks passed"
