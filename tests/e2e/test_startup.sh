#!/usr/bin/env bash
# The stub's own archive (also in ZIP64 form) and a ZIP named on the command line end
# with exit code 0; an archive path that does not exist with 87 (silently), a file with
# nothing behind the image (silently) and an archive it cannot read (with a message, never
# as an empty success) with 1620. In a folder whose name the code page cannot hold it
# opens itself, and extracts into that folder too.
source "$(dirname "$0")/lib.sh"

mkdir -p src out
echo "hello" > src/a.txt
(cd src && zip -q -X ../plain.zip a.txt)

make_sfx -o own.exe -d "$(winpath out)" --skip-dialog --overwrite --no-explorer plain.zip
expect_eq "own archive: exit code" "$(run_to_end own.exe)" 0
check "own archive: extracted" cmp -s src/a.txt out/a.txt

mkdir named
expect_eq "named ZIP: exit code" "$(run_tail "$DUDORE_STUB" "/N /H \"$(winpath plain.zip)\" \"$(winpath named)\"")" 0
check "named ZIP: extracted into the named folder" cmp -s src/a.txt named/a.txt

# Silence: a message box would hold the program until the time limit (exit code 124).
expect_eq "missing archive: exit code" "$(run_to_end "$DUDORE_STUB" "$(winpath nothing-here.zip)")" 87
cp "$DUDORE_STUB" bare.exe
expect_eq "nothing after the image: exit code" "$(run_to_end bare.exe)" $LOW_BAD_ARCHIVE

(cd src && zip -q -X -fz ../zip64.zip a.txt)
make_sfx -o zip64.exe -d "$(winpath out64)" --skip-dialog --overwrite --no-explorer zip64.zip
expect_eq "ZIP64 records (zip -fz): exit code" "$(run_to_end zip64.exe)" 0
check "ZIP64 records (zip -fz): extracted" cmp -s src/a.txt out64/a.txt

mkdir "日本語 dl"
make_sfx -o "日本語 dl/away.exe" -d "$(winpath away)" --skip-dialog --overwrite --no-explorer plain.zip
expect_eq "folder outside the code page: exit code" "$(run_to_end "日本語 dl/away.exe")" 0
check "folder outside the code page: extracted" cmp -s src/a.txt away/a.txt
make_sfx -o "日本語 dl/here.exe" --skip-dialog --overwrite --no-explorer plain.zip
expect_eq "folder outside the code page as the destination: exit code" "$(run_to_end "日本語 dl/here.exe")" 0
check "folder outside the code page as the destination: extracted there" cmp -s src/a.txt "日本語 dl/a.txt"

# A split archive's last piece: the end record names another disk.
python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[-22 + 4] = 1; open(sys.argv[2], "wb").write(b)' plain.zip split.zip
start_stub "$DUDORE_STUB" "$(winpath split.zip)"
check "split archive: a message" driver wait DUD-ORE
expect_eq "split archive: its text" "$(driver text DUD-ORE 65535)" "not supported archive format."
driver click DUD-ORE 1
wait_stub
expect_eq "split archive: exit code" "$STUB_STATUS" $LOW_BAD_ARCHIVE

finish
