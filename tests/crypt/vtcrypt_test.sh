#!/bin/sh
# vtcrypt as an operator uses it: key files made with mode 0600 and never
# overwritten by accident, values through pipes, the exit statuses and the
# one-line errors; then a copy installed into a new prefix, which must run
# without any library path set.
# Usage: vtcrypt_test.sh tool VTCRYPT WORK-DIR
#        vtcrypt_test.sh installed CMAKE BUILD-DIR WORK-DIR
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

# expect_one_error DESCRIPTION: standard error holds one "vtcrypt: " line.
expect_one_error() {
  lines=$(wc -l < "$work/err")
  first=$(head -n 1 "$work/err")
  case $first in
    "vtcrypt: "*) [ "$lines" -eq 1 ] || fail "$1: $lines lines on stderr" ;;
    *) fail "$1: stderr is '$first'" ;;
  esac
}

mode_of() { stat -c %a "$1"; }
size_of() { stat -c %s "$1"; }

run_tool_tests() {
  vt=$1

  # ---- Usage: status 2, the usage on stderr; --help on stdout, status 0.
  "$vt" > /dev/null 2> "$work/err"; status=$?
  expect_status 2 "no command"
  grep -q '^usage: vtcrypt genkey' "$work/err" || fail "no usage without a command"
  "$vt" --help > "$work/out" 2> "$work/err"; status=$?
  expect_status 0 "--help"
  for section in NAME SYNOPSIS COMMANDS OPTIONS "KEY FILES" "EXIT STATUS"; do
    grep -q "^$section\$" "$work/out" || fail "--help has no $section section"
  done
  [ -s "$work/err" ] && fail "--help wrote to stderr"
  "$vt" encrypt --help > /dev/null 2>&1 || fail "--help after a command"
  "$vt" --version | grep -q '^vtcrypt (libvantrel) [0-9]' || fail "--version"
  for args in "frobnicate" "genkey" "genkey --bits 100 $work/k" \
      "genkey --bits $work/k" "genkey $work/a $work/b" "encrypt" \
      "encrypt --key" "encrypt --key $work/k --bits 128" "test extra" \
      "genkey --force=yes $work/k" "decrypt --alg AES"; do
    # shellcheck disable=SC2086
    "$vt" $args < /dev/null > /dev/null 2> "$work/err"; status=$?
    expect_status 2 "vtcrypt $args"
    head -n 1 "$work/err" | grep -q '^vtcrypt: ' || fail "vtcrypt $args: no reason"
  done
  [ -e "$work/k" ] && fail "a refused genkey made a file"

  # ---- genkey: mode 0600 whatever the umask, the key file format.
  for bits in 128 192 256; do
    (umask 000 && "$vt" genkey --bits "$bits" "$work/key$bits"); status=$?
    expect_status 0 "genkey --bits $bits"
    [ "$(mode_of "$work/key$bits")" = 600 ] || fail "key$bits has mode $(mode_of "$work/key$bits")"
    want=$(( ${#bits} + 1 + bits / 8 ))
    [ "$(size_of "$work/key$bits")" -eq "$want" ] || fail "key$bits is not $want bytes"
    [ "$(head -c $((${#bits} + 1)) "$work/key$bits")" = "$bits:" ] || fail "key$bits does not start with $bits:"
  done
  (umask 077 && "$vt" genkey "$work/default") || fail "genkey with the default length"
  [ "$(head -c 4 "$work/default")" = "256:" ] || fail "the default is not 256 bits"
  cmp -s "$work/key256" "$work/default" && fail "two keys are the same"

  # Refusal: an existing file, or a symbolic link even to nothing.
  cp "$work/key128" "$work/before"
  "$vt" genkey "$work/key128" 2> "$work/err"; status=$?
  expect_status 5 "genkey onto an existing file"
  expect_one_error "genkey onto an existing file"
  grep -q -- '--force' "$work/err" || fail "the refusal does not name --force"
  cmp -s "$work/key128" "$work/before" || fail "a refused genkey changed the file"
  ln -s "$work/nowhere" "$work/link"
  "$vt" genkey "$work/link" 2> /dev/null; status=$?
  expect_status 5 "genkey onto a dangling link"
  [ -e "$work/nowhere" ] && fail "genkey followed a link"

  # --force replaces the whole file, with mode 0600 again.
  chmod 644 "$work/key128"
  "$vt" genkey --force --bits 128 "$work/key128"; status=$?
  expect_status 0 "genkey --force"
  cmp -s "$work/key128" "$work/before" && fail "--force kept the old key"
  [ "$(mode_of "$work/key128")" = 600 ] || fail "--force kept mode $(mode_of "$work/key128")"
  mkdir "$work/dir"
  "$vt" genkey --force "$work/dir" 2> "$work/err"; status=$?
  expect_status 6 "genkey --force onto a directory"
  expect_one_error "genkey --force onto a directory"
  [ -z "$(ls "$work" | grep '^dir\.')" ] || fail "a failed --force left a file behind"
  "$vt" genkey "$work/missing/key" 2> "$work/err"; status=$?
  expect_status 6 "genkey into a missing directory"
  expect_one_error "genkey into a missing directory"

  # ---- Values through pipes, every algorithm and key length.
  for alg in AES AES_CFB1 AES_CBC AES_FIPS; do
    for bits in 128 192 256; do
      key=$work/key$bits
      text=$(printf 'pa$$ word:%s' "$alg" | "$vt" encrypt --key "$key" --alg "$alg")
      status=$?
      expect_status 0 "encrypt with $alg/$bits"
      printf '%s\n' "$text" | "$vt" test || fail "encrypt output with $alg is not framed"
      back=$(printf '%s\n' "$text" | "$vt" decrypt --key "$key" --alg "$alg")
      [ "$back" = "pa\$\$ word:$alg" ] || fail "$alg/$bits gave back '$back'"
    done
  done
  # One line end is dropped, and only one; decrypt prints one after.
  printf 'two\n\n' | "$vt" encrypt --key "$work/key256" > "$work/text"
  "$vt" decrypt --key "$work/key256" < "$work/text" > "$work/out"
  printf 'two\n\n' | cmp -s - "$work/out" || fail "line ends are not kept as given"
  a=$(printf 'same' | "$vt" encrypt --key "$work/key256")
  b=$(printf 'same' | "$vt" encrypt --key "$work/key256")
  [ "$a" != "$b" ] || fail "the same value encrypted to the same text twice"

  # Refused input: status 4, one line.
  printf '\n' | "$vt" encrypt --key "$work/key256" > /dev/null 2> "$work/err"; status=$?
  expect_status 4 "an empty value"
  expect_one_error "an empty value"
  echo 'plain value' | "$vt" decrypt --key "$work/key256" > "$work/out" 2> "$work/err"; status=$?
  expect_status 4 "decrypting a plain value"
  expect_one_error "decrypting a plain value"
  [ -s "$work/out" ] && fail "a refused decryption printed something"
  # CBC reports a wrong key, except when the padding matches by chance.
  text=$(printf 'secret' | "$vt" encrypt --key "$work/key256" --alg AES_CBC)
  back=$(printf '%s' "$text" | "$vt" decrypt --key "$work/default" --alg AES_CBC 2> "$work/err")
  status=$?
  if [ "$status" -ne 4 ] && [ "$back" = secret ]; then
    fail "a wrong key decrypted the value"
  fi

  # Key files that cannot be used: status 3, or 2 for an unknown algorithm.
  printf 'x' | "$vt" encrypt --key "$work/none" 2> "$work/err" > /dev/null; status=$?
  expect_status 3 "a missing key file"
  expect_one_error "a missing key file"
  grep -q 'No such file or directory' "$work/err" || fail "no reason for a missing key file"
  printf '128' > "$work/nocolon"
  printf '96:abcdefghijkl' > "$work/short96"
  : > "$work/empty"
  for bad in nocolon short96 empty dir; do
    printf 'x' | "$vt" encrypt --key "$work/$bad" 2> "$work/err" > /dev/null; status=$?
    expect_status 3 "key file $bad"
    expect_one_error "key file $bad"
  done
  printf 'x' | "$vt" encrypt --key "$work/key256" --alg aes 2> "$work/err" > /dev/null; status=$?
  expect_status 2 "an unknown algorithm"
  grep -q "unknown algorithm 'aes'" "$work/err" || fail "no reason for an unknown algorithm"
  # A key file others can read works, with a warning.
  cp "$work/key256" "$work/open"
  chmod 644 "$work/open"
  printf 'x' | "$vt" encrypt --key "$work/open" 2> "$work/err" > /dev/null; status=$?
  expect_status 0 "a key file others can read"
  grep -q 'warning: key file .* can be read by other users' "$work/err" || fail "no warning for mode 644"
  # --verbose lets the library's own lines through.
  printf 'x' | "$vt" encrypt --verbose --key "$work/nocolon" 2> "$work/err" > /dev/null
  grep -q 'no separator found' "$work/err" || fail "--verbose shows no library line"

  # Output that cannot be written is an error, not a silent loss.
  printf 'x' | "$vt" encrypt --key "$work/key256" >&- 2> "$work/err"; status=$?
  expect_status 6 "writing to a closed standard output"
  expect_one_error "writing to a closed standard output"
  if [ -c /dev/full ] && [ -w /dev/full ]; then
    printf 'x' | "$vt" encrypt --key "$work/key256" > /dev/full 2> "$work/err"; status=$?
    expect_status 6 "writing to a full device"
    expect_one_error "writing to a full device"
  fi

  # ---- test: the exit status alone answers.
  printf '@4:QUJD@\n' | "$vt" test > "$work/out"; status=$?
  expect_status 0 "test of a framed text"
  [ -s "$work/out" ] && fail "test printed something"
  for plain in 'plain' '' '@0:@' '@4:QUJD' '@5:QUJD@' '@4:QUJD@ '; do
    printf '%s' "$plain" | "$vt" test; status=$?
    expect_status 1 "test of '$plain'"
  done
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
    vt=$work/prefix/bin/vtcrypt
    [ -x "$vt" ] || { echo "FAIL: vtcrypt not installed into bin/"; exit 1; }
    [ -f "$work/prefix/share/man/man1/vtcrypt.1" ] || fail "no manual page installed"
    # Nothing but the installation itself: no library path.
    (unset LD_LIBRARY_PATH; "$vt" genkey "$work/key" &&
      printf 'value' | "$vt" encrypt --key "$work/key" > "$work/text" &&
      [ "$("$vt" decrypt --key "$work/key" < "$work/text")" = value ]) ||
      fail "the installed vtcrypt does not run on its own"
    ;;
  *)
    echo "usage: $0 tool VTCRYPT WORK-DIR | installed CMAKE BUILD-DIR WORK-DIR"
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all vtcrypt checks passed"
