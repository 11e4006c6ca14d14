#!/bin/sh
# vtcrypt as an operator uses it: key files made with mode 0600 and never
# overwritten by accident, values through pipes, the exit statuses and the
# one-line errors; then an installed copy run without a library path.
tool=vtcrypt

# one_error DESCRIPTION: standard error holds one "vtcrypt: " line.
one_error() {
  lines=$(wc -l < "$work/err")
  case $(head -n 1 "$work/err") in
    "vtcrypt: "*) [ "$lines" -eq 1 ] || fail "$1: $lines lines on stderr" ;;
    *) fail "$1: stderr is '$(head -n 1 "$work/err")'" ;;
  esac
}
# refused WANT DESCRIPTION ARGS...: status WANT and one error line.
refused() { run "$@"; one_error "$2"; }
mode_of() { stat -c %a "$1"; }

run_tool_tests() {
  printf 'x' > "$work/x"
  # ---- Usage: status 2, the usage on stderr; --help on stdout, status 0.
  run 2 "no command"
  grep -q '^usage: vtcrypt genkey' "$work/err" || fail "no usage without a command"
  run 0 "--help" --help
  for section in NAME SYNOPSIS COMMANDS OPTIONS "KEY FILES" "EXIT STATUS"; do
    grep -q "^$section\$" "$work/out" || fail "--help has no $section section"
  done
  [ -s "$work/err" ] && fail "--help wrote to stderr"
  run 0 "--help after a command" encrypt --help
  "$vt" --version | grep -q '^vtcrypt (libvantrel) [0-9]' || fail "--version"
  for args in "frobnicate" "genkey" "genkey --bits 100 $work/k" \
      "genkey --bits $work/k" "genkey $work/a $work/b" "encrypt" \
      "encrypt --key" "encrypt --key $work/k --bits 128" "test extra" \
      "genkey --force=yes $work/k" "decrypt --alg AES"; do
    # shellcheck disable=SC2086
    run 2 "vtcrypt $args" $args < /dev/null
    head -n 1 "$work/err" | grep -q '^vtcrypt: ' || fail "vtcrypt $args: no reason"
  done
  [ -e "$work/k" ] && fail "a refused genkey made a file"

  # ---- genkey: mode 0600 whatever the umask, the key file format.
  for bits in 128 192 256; do
    (umask 000 && "$vt" genkey --bits "$bits" "$work/key$bits") || fail "genkey --bits $bits"
    [ "$(mode_of "$work/key$bits")" = 600 ] || fail "key$bits has mode $(mode_of "$work/key$bits")"
    want=$(( ${#bits} + 1 + bits / 8 ))
    [ "$(stat -c %s "$work/key$bits")" -eq "$want" ] || fail "key$bits is not $want bytes"
    [ "$(head -c $((${#bits} + 1)) "$work/key$bits")" = "$bits:" ] || fail "key$bits does not start with $bits:"
  done
  (umask 077 && "$vt" genkey "$work/default") || fail "genkey with the default length"
  [ "$(head -c 4 "$work/default")" = "256:" ] || fail "the default is not 256 bits"
  cmp -s "$work/key256" "$work/default" && fail "two keys are the same"

  # Refusal: an existing file, or a symbolic link even to nothing.
  cp "$work/key128" "$work/before"
  refused 5 "genkey onto an existing file" genkey "$work/key128"
  grep -q -- '--force' "$work/err" || fail "the refusal does not name --force"
  cmp -s "$work/key128" "$work/before" || fail "a refused genkey changed the file"
  ln -s "$work/nowhere" "$work/link"
  run 5 "genkey onto a dangling link" genkey "$work/link"
  [ -e "$work/nowhere" ] && fail "genkey followed a link"

  # --force replaces the whole file, with mode 0600 again.
  chmod 644 "$work/key128"
  run 0 "genkey --force" genkey --force --bits 128 "$work/key128"
  cmp -s "$work/key128" "$work/before" && fail "--force kept the old key"
  [ "$(mode_of "$work/key128")" = 600 ] || fail "--force kept mode $(mode_of "$work/key128")"
  mkdir "$work/dir"
  refused 6 "genkey --force onto a directory" genkey --force "$work/dir"
  [ -z "$(ls "$work" | grep '^dir\.')" ] || fail "a failed --force left a file behind"
  refused 6 "genkey into a missing directory" genkey "$work/missing/key"

  # ---- Values through pipes, every algorithm and key length.
  for alg in AES AES_CFB1 AES_CBC AES_FIPS; do
    for bits in 128 192 256; do
      key=$work/key$bits
      text=$(printf 'pa$$ word:%s' "$alg" | "$vt" encrypt --key "$key" --alg "$alg") ||
        fail "encrypt with $alg/$bits"
      printf '%s\n' "$text" | "$vt" test || fail "encrypt output with $alg is not framed"
      back=$(printf '%s\n' "$text" | "$vt" decrypt --key "$key" --alg "$alg")
      [ "$back" = "pa\$\$ word:$alg" ] || fail "$alg/$bits gave back '$back'"
    done
  done
  # One line end is dropped, and only one; decrypt prints one after.
  printf 'two\n\n' | "$vt" encrypt --key "$work/key256" > "$work/text"
  "$vt" decrypt --key "$work/key256" < "$work/text" > "$work/out"
  printf 'two\n\n' | cmp -s - "$work/out" || fail "line ends are not kept as given"
  a=$("$vt" encrypt --key "$work/key256" < "$work/x")
  b=$("$vt" encrypt --key "$work/key256" < "$work/x")
  [ "$a" != "$b" ] || fail "the same value encrypted to the same text twice"

  # Refused input: status 4, one line.
  echo > "$work/blank"
  refused 4 "an empty value" encrypt --key "$work/key256" < "$work/blank"
  echo 'plain value' > "$work/plain"
  refused 4 "decrypting a plain value" decrypt --key "$work/key256" < "$work/plain"
  [ -s "$work/out" ] && fail "a refused decryption printed something"
  # CBC reports a wrong key, except when the padding matches by chance.
  text=$(printf 'secret' | "$vt" encrypt --key "$work/key256" --alg AES_CBC)
  back=$(printf '%s' "$text" | "$vt" decrypt --key "$work/default" --alg AES_CBC 2> "$work/err")
  status=$?
  if [ "$status" -ne 4 ] && [ "$back" = secret ]; then
    fail "a wrong key decrypted the value"
  fi

  # Key files that cannot be used: status 3, or 2 for an unknown algorithm.
  refused 3 "a missing key file" encrypt --key "$work/none" < "$work/x"
  grep -q 'No such file or directory' "$work/err" || fail "no reason for a missing key file"
  printf '128' > "$work/nocolon"
  printf '96:abcdefghijkl' > "$work/short96"
  : > "$work/empty"
  for bad in nocolon short96 empty dir; do
    refused 3 "key file $bad" encrypt --key "$work/$bad" < "$work/x"
  done
  run 2 "an unknown algorithm" encrypt --key "$work/key256" --alg aes < "$work/x"
  grep -q "unknown algorithm 'aes'" "$work/err" || fail "no reason for an unknown algorithm"
  # A key file others can read works, with a warning.
  cp "$work/key256" "$work/open"
  chmod 644 "$work/open"
  run 0 "a key file others can read" encrypt --key "$work/open" < "$work/x"
  grep -q 'warning: key file .* can be read by other users' "$work/err" || fail "no warning for mode 644"
  # --verbose lets the library's own lines through.
  run 3 "--verbose" encrypt --verbose --key "$work/nocolon" < "$work/x"
  grep -q 'no separator found' "$work/err" || fail "--verbose shows no library line"

  # Output that cannot be written is an error, not a silent loss.
  "$vt" encrypt --key "$work/key256" < "$work/x" >&- 2> "$work/err"; status=$?
  expect_status 6 "writing to a closed standard output"
  one_error "writing to a closed standard output"
  if [ -c /dev/full ] && [ -w /dev/full ]; then
    "$vt" encrypt --key "$work/key256" < "$work/x" > /dev/full 2> "$work/err"; status=$?
    expect_status 6 "writing to a full device"
    one_error "writing to a full device"
  fi

  # ---- test: the exit status alone answers.
  printf '@4:QUJD@\n' > "$work/framed"
  run 0 "test of a framed text" test < "$work/framed"
  [ -s "$work/out" ] && fail "test printed something"
  for plain in 'plain' '' '@0:@' '@4:QUJD' '@5:QUJD@' '@4:QUJD@ '; do
    printf '%s' "$plain" > "$work/in"
    run 1 "test of '$plain'" test < "$work/in"
  done
}

runs_alone() {
  "$vt" genkey "$work/key" &&
    printf 'value' | "$vt" encrypt --key "$work/key" > "$work/text" &&
    [ "$("$vt" decrypt --key "$work/key" < "$work/text")" = value ]
}

. "$(dirname "$0")/../config/tool_test_lib.sh"
