#!/usr/bin/env bash
# Unattended runs and exit codes, one row each: /Q shows nothing and asks nothing, /P shows
# only the Progress window, /T: beats the block's destination, and the whole Windows exit
# code says what happened (a command's own code passed on where the stub waits for it).
source "$(dirname "$0")/lib.sh"

export DUDORE_FAKE_SETUP_LOG; DUDORE_FAKE_SETUP_LOG=$(winpath setup.log)
mkdir src
cp "$DUDORE_BUILD/fake_setup.exe" src/fake_setup.exe
echo "new" > src/a.txt
head -c 150000000 /dev/zero > src/large.bin  # a run long enough to catch its windows
(cd src && zip -q -X -0 ../payload.zip fake_setup.exe a.txt large.bin)
(cd src && zip -q -X ../small.zip fake_setup.exe a.txt)
cp small.zip locked.zip && (cd src && zip -q -X -P secret ../locked.zip a.txt)
cp small.zip damaged.zip && patch_entry a.txt damaged.zip crc 0x12345678
echo "not a ZIP" > notzip.zip

# Runs row $1: the self-extracting file made from archive $3 with the mksfx options after
# it, started with tail $2 ({out} stands for out's Windows path), while the windows it
# shows are collected in titles.txt. Prints its exit code.
row() {
  local tail=${2//\{out\}/$(winpath out)} archive=$3
  shift 3
  rm -rf out out-block setup.log titles.txt
  make_sfx -o row.exe "$@" "$archive" >/dev/null 2>&1
  run_code row.exe "$tail" > code.txt &
  local pid=$!
  while kill -0 $pid 2>/dev/null; do driver list >> titles.txt 2>/dev/null || true; done
  cat code.txt
}
shown() { grep -qxF "$1" titles.txt; }
log() { tr -d '\r' < setup.log 2>/dev/null || true; }

asking=(-t Tool -q "Install Tool?")
expect_eq "/Q: exit code" "$(row q '/Q /T:{out}' payload.zip "${asking[@]}")" 0
check "/Q: extracted" cmp -s src/large.bin out/large.bin
check "/Q: no window at all" not grep -qxE 'Tool|Decompressing...|DUD-ORE|Select destination folder' titles.txt

expect_eq "/P: exit code" "$(row p '/P /T:{out}' payload.zip "${asking[@]}")" 0
check "/P: the Progress window showed" shown "Decompressing..."
check "/P: nothing else" not grep -qxE 'Tool|DUD-ORE|Select destination folder' titles.txt

mkdir -p out-keep && echo "mine" > out-keep/a.txt
expect_eq "/Q, existing file: exit code" "$(row keep "/Q /T:$(winpath out-keep)" small.zip)" 0
expect_eq "/Q, existing file: kept without overwrite" "$(cat out-keep/a.txt)" "mine"
expect_eq "/Q, overwrite set: exit code" "$(row keep "/Q /T:$(winpath out-keep)" small.zip --overwrite)" 0
expect_eq "/Q, overwrite set: replaced" "$(cat out-keep/a.txt)" "new"

expect_eq "/T: beats the block: exit code" "$(row t '/Q /T:"{out} x"' small.zip -d "$(winpath out-block)")" 0
check "/T: beats the block: extracted there" test -f "out x/a.txt" -a ! -e out-block
rm -rf "out x"

expect_eq "encrypted entry, nobody to ask" "$(row locked '/Q /T:{out}' locked.zip)" 1603
expect_eq "damaged entry" "$(row damaged '/Q /T:{out}' damaged.zip -c fake_setup.exe)" 1603
check "damaged entry: no command" test ! -e setup.log
expect_eq "missing archive" "$(run_code "$DUDORE_STUB" "/Q $(winpath nothing.zip)")" 87
expect_eq "/T: too long" "$(run_code "$DUDORE_STUB" "/Q /T:C:\\$(printf 'f%.0s' {1..300})")" 87
expect_eq "not a ZIP" "$(run_code "$DUDORE_STUB" "/Q $(winpath notzip.zip)")" 1620
cp "$DUDORE_STUB" bare.exe
expect_eq "nothing behind the image" "$(run_code bare.exe /Q)" 1620

expect_eq "delete-after passes the command's code on" \
  "$(row code '' small.zip -d "$(winpath out)" --skip-dialog --overwrite --delete-after -c 'fake_setup.exe sleep:500 exit:3010')" 3010
check "delete-after: cleaned up" test ! -e out/a.txt
expect_eq "/Q waits for the command and passes its code on" \
  "$(row wait '/Q /T:{out}' small.zip -c 'fake_setup.exe sleep:1500 exit:1641')" 1641
check "/Q: the command had ended" grep -qx end <(log)

finish
