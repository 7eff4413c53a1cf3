#!/usr/bin/env bash
# Entry names that try to leave the destination, or that no file can have: nothing is ever
# written outside the destination, and an unusable name is reported and skipped.
source "$(dirname "$0")/lib.sh"

mkdir -p place/dest
python3 "$MKZIP" hostile.zip \
  '../../evil.txt' '=up two' \
  '/abs/x.txt' '=absolute' \
  'a:b.txt' '=drive letter' \
  '....//sneaky.txt' '=dots' \
  '..\\..\\back.txt' '=backslashes' \
  'dir/sub/' dir \
  'ok.txt' '=fine'
make_sfx -o place/dest/../hostile.exe -d "$(winpath place/dest)" --skip-dialog --overwrite --no-explorer hostile.zip >/dev/null 2>&1

start_stub place/hostile.exe
check "the unusable name is reported" driver wait DUD-ORE
expect_eq "its text" "$(driver text DUD-ORE 65535 | tr '\n' '|')" "a:b.txt||invalid filename.(skipped)|"
driver click DUD-ORE 1 >/dev/null
wait_stub
expect_eq "exit code" "$STUB_STATUS" $LOW_FAILED

listing=$(cd place && find . -mindepth 1 | sort | tr '\n' ' ')
expect_eq "everything stays in the destination" "$listing" \
  "./dest ./dest/abs ./dest/abs/x.txt ./dest/back.txt ./dest/dir ./dest/dir/sub ./dest/evil.txt ./dest/ok.txt ./dest/sneaky.txt ./hostile.exe "
expect_eq "nothing two levels up either" "$(ls "$E2E_WORK" | tr '\n' ' ')" "hostile.zip place "
expect_eq "../../evil.txt lands in the destination" "$(cat place/dest/evil.txt)" "up two"

finish
