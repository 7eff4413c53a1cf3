#!/usr/bin/env bash
# Encrypted entries: a wrong password is refused with a warning and asked again; one right
# password serves every entry it opens; Skip leaves one entry out; Cancel stops extraction.
source "$(dirname "$0")/lib.sh"

mkdir src
for n in 1 2 3; do echo "secret file $n" > "src/file$n.txt"; done
echo "plain" > src/plain.txt
(cd src && zip -q -X -P right ../locked.zip file1.txt file2.txt && zip -q -X ../locked.zip plain.txt && zip -q -X -P other ../locked.zip file3.txt)
make_sfx -o locked.exe -d "$(winpath out)" --skip-dialog --overwrite --no-explorer locked.zip >/dev/null 2>&1

start_stub locked.exe
check "asked for file1's password" driver wait "Password needed"
expect_eq "the prompt names the entry" "$(driver text "Password needed" 1005 | head -1)" "'file1.txt'"
driver set-text "Password needed" 1004 wrong
driver click "Password needed" 1
check "a wrong password is refused" driver wait Warning
expect_eq "with its message" "$(driver text Warning 65535)" "Invalid Decryption Password."
driver click Warning 1
check "and asked again" driver wait "Password needed"
driver set-text "Password needed" 1004 right
driver click "Password needed" 1
# file2 opens with the same password; file3 has another one: skip it.
check "asked again only for file3" driver wait "Password needed"
expect_eq "which it names" "$(driver text "Password needed" 1005 | head -1)" "'file3.txt'"
driver click "Password needed" 1003
wait_stub
expect_eq "exit code (an entry skipped)" "$STUB_STATUS" $LOW_FAILED
check "file1 extracted" cmp -s src/file1.txt out/file1.txt
check "file2 extracted with the same password" cmp -s src/file2.txt out/file2.txt
check "the plain entry extracted" cmp -s src/plain.txt out/plain.txt
check "the skipped entry is left out" test ! -e out/file3.txt

rm -rf out
make_sfx -o locked-explorer.exe -d "$(winpath out)" --skip-dialog --overwrite locked.zip >/dev/null 2>&1
start_stub locked-explorer.exe
driver wait "Password needed" >/dev/null
driver key "Password needed" esc
wait_stub
expect_eq "Esc: exit code" "$STUB_STATUS" $LOW_CANCELLED
check "Esc stops extraction: nothing after it" test ! -e out/plain.txt
check "Esc: no Explorer" not explorer_window out 2

finish
