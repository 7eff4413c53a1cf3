#!/usr/bin/env bash
# A destination that does not exist: the question, answered OK and Cancel, and a folder
# that cannot be made.
source "$(dirname "$0")/lib.sh"

mkdir src && echo "payload" > src/f.txt
(cd src && zip -q -X ../p.zip f.txt)

make_sfx -o ask.exe -d "$(winpath missing/deeper)" --skip-dialog --no-explorer p.zip
start_stub ask.exe
check "the question appears" driver wait DUD-ORE
expect_eq "it names the folder" "$(driver text DUD-ORE 65535 | head -1)" \
  "The Folder '$(winpath missing/deeper)\\' does not exist."
driver click DUD-ORE 1 >/dev/null
wait_stub
expect_eq "OK: exit code" "$STUB_STATUS" 0
check "OK: the folder is made and filled" test -f missing/deeper/f.txt

rm -rf missing
start_stub ask.exe
driver wait DUD-ORE >/dev/null
driver click DUD-ORE 2 >/dev/null
wait_stub
expect_eq "Cancel: exit code" "$STUB_STATUS" $LOW_CANCELLED
check "Cancel: nothing made" test ! -e missing

# Drive B: does not exist here, so no level of the path can be made.
make_sfx -o cannot.exe -d 'B:\no\such\place' --skip-dialog --overwrite --no-explorer p.zip
start_stub cannot.exe
check "cannot create: the error appears" driver wait DUD-ORE
expect_eq "cannot create: its text" "$(driver text DUD-ORE 65535 | head -1)" "Cannot create a folder."
driver click DUD-ORE 1 >/dev/null
wait_stub
expect_eq "cannot create: exit code" "$STUB_STATUS" $LOW_FAILED

finish
