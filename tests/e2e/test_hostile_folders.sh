#!/usr/bin/env bash
# A destination someone else can write into: a native neighbour (e2e_neighbour, inotify)
# swaps a temporary file for a link to a file outside, replaces the extracted program before
# it runs, or turns a folder into a link before the clean-up; or a link is there before the
# run. Nothing outside the destination is ever written or deleted, a swapped file is a
# failure and never runs, and the clean-up leaves the user's own empty folders.
source "$(dirname "$0")/lib.sh"

# Stored megabytes: the stub takes long enough over an entry for the neighbour to strike.
python3 "$MKZIP" big.zip big.bin zeros:8000000
python3 "$MKZIP" run.zip setup.exe "@$DUDORE_BUILD/fake_setup.exe" big.bin zeros:8000000
python3 "$MKZIP" tree.zip sub/a.txt =ours setup.exe "@$DUDORE_BUILD/fake_setup.exe"
python3 "$MKZIP" link.zip link/file.txt =ours

# Starts the neighbour on `dest` with mode $1 and its other arguments, once it watches.
neighbour() {
  "$DUDORE_NATIVE_BUILD/e2e_neighbour" "$1" dest "${@:2}" > ready.txt &
  NEIGHBOUR=$!
  for _ in $(seq 100); do [ -s ready.txt ] && return 0; sleep 0.05; done
  return 1
}
# Neither moved, nor written, nor given the entry's time or attributes.
victim_untouched() {
  [ "$(stat -c '%a %s %Y' victim.txt 2>/dev/null)" == "644 7 1000000000" ] && grep -qx victim victim.txt
}
their_file_kept() { grep -sqx theirs theirs/a.txt; }
nothing_elsewhere() { [ -z "$(ls -A elsewhere)" ]; }

# Row $1: with the files outside afresh, `eval $2` (the neighbour or what was there before),
# then the stub with /Q made with the mksfx options and archive $3. The exit status must be
# $4 and `eval $5` true afterwards ("-": not checked).
row() {
  local label=$1 before=$2 sfx=$3 expected=$4 after=$5 status
  rm -rf dest theirs elsewhere ready.txt && mkdir -p dest theirs elsewhere
  echo victim > victim.txt && chmod 644 victim.txt && touch -d @1000000000 victim.txt
  echo theirs > theirs/a.txt
  cp "$DUDORE_BUILD/bits_probe.exe" probe.exe  # exits with 32: the status tells whether it ran
  eval "make_sfx -o row.exe -d \"\$(winpath dest)\" --no-explorer $sfx" >/dev/null
  NEIGHBOUR=
  eval "$before" || fail "$label: set up"
  status=$(run_to_end row.exe /Q)
  if [ -n "$NEIGHBOUR" ]; then kill "$NEIGHBOUR" 2>/dev/null || true; wait "$NEIGHBOUR" || true; fi
  [ "$expected" == - ] || expect_eq "$label: exit status" "$status" "$expected"
  [ "$after" == - ] || check "$label: $after" eval "$after"
}

# The neighbour strikes during the run.
row "temp file swapped for a symbolic link" "neighbour temp-symlink victim.txt" big.zip $LOW_FAILED victim_untouched
row "temp file swapped for a hard link" "neighbour temp-hardlink victim.txt" big.zip $LOW_FAILED victim_untouched
row "program replaced before it runs" "neighbour replace probe.exe setup.exe" \
  "-c 'setup.exe exit:0' run.zip" $LOW_FAILED -
row "folder swapped for a link before the clean-up" "neighbour swap-folder theirs sub" \
  "--delete-after -c 'setup.exe sleep:3000' tree.zip" - their_file_kept
# What is there before the run.
row "a link there before" "ln -s '$PWD/elsewhere' dest/link" link.zip $LOW_FAILED nothing_elsewhere
row "the user's own empty folder" "mkdir -p dest/sub/mine" "--delete-after -c setup.exe tree.zip" 0 \
  "test -d dest/sub/mine"

finish
