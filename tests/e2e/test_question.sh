#!/usr/bin/env bash
# The configured Yes/No question comes before anything else: No ends the run with nothing
# made, Yes goes on to extract.
source "$(dirname "$0")/lib.sh"

mkdir src && echo "payload" > src/f.txt
(cd src && zip -q -X ../p.zip f.txt)
make_sfx -o ask.exe -d "$(winpath out)" --skip-dialog --overwrite --no-explorer \
  -t "Install Tool" -q "Install the tool now?" p.zip >/dev/null

start_stub ask.exe
check "the question appears under its title" driver wait "Install Tool"
expect_eq "with its text" "$(driver text "Install Tool" 65535)" "Install the tool now?"
driver click "Install Tool" 7
wait_stub
expect_eq "No: exit code" "$STUB_STATUS" $LOW_CANCELLED
check "No: nothing made" test ! -e out

start_stub ask.exe
driver wait "Install Tool" >/dev/null
driver click "Install Tool" 6
wait_stub
expect_eq "Yes: exit code" "$STUB_STATUS" 0
check "Yes: extracted" cmp -s src/f.txt out/f.txt

finish
