#!/usr/bin/env bash
# Paths at the 259-byte limit: an output path of exactly 259 bytes is written (also in a
# folder longer than Windows allows for a temporary name from the system, and with a
# one-byte name behind a 257-byte folder), one byte more is refused as an unusable name
# and skipped, never cut into another path.
source "$(dirname "$0")/lib.sh"

mkdir out
dest="$(winpath out)\\"
room=$((259 - ${#dest}))
fits=$(printf 'f%.0s' $(seq "$room"))
over=$(printf 'o%.0s' $(seq $((room + 1))))
# A folder (made beforehand, so no level needs creating) that leaves 8 bytes for a name.
deep=$(printf 'd%.0s' $(seq $((room - 9))))
deepest=$(printf 'e%.0s' $(seq $((room - 2))))
mkdir "out/$deep" "out/$deepest"
python3 "$MKZIP" long.zip "$fits" '=fits exactly' "$over" '=one too many' "$deep/12345678" '=deep' \
  "$deepest/x" '=deepest' 'after.txt' '=after'
make_sfx -o long.exe -d "$dest" --skip-dialog --overwrite --no-explorer long.zip >/dev/null 2>&1

start_stub long.exe
check "the name one byte too long is reported" driver wait DUD-ORE
expect_eq "as an unusable name" "$(driver text DUD-ORE 65535 | tail -1)" "invalid filename.(skipped)"
driver click DUD-ORE 1
wait_stub
expect_eq "exit code" "$STUB_STATUS" $LOW_FAILED
expect_eq "259 bytes: written" "$(cat "out/$fits" 2>/dev/null)" "fits exactly"
expect_eq "259 bytes in a long folder: written" "$(cat "out/$deep/12345678" 2>/dev/null)" "deep"
expect_eq "259 bytes, a one-byte name: written" "$(cat "out/$deepest/x" 2>/dev/null)" "deepest"
check "260 bytes: nothing written, not even cut short" test -z "$(find out -maxdepth 1 -name 'ooo*')"
expect_eq "the next entry still comes" "$(cat out/after.txt 2>/dev/null)" "after"
check "no temporary file left" test -z "$(find out -name '~*')"

finish
