#!/usr/bin/env bash
# The stub ends with exit code 0 whatever it was given: its own archive, a ZIP named on
# the command line, an archive path that does not exist (silently), a file with nothing
# behind the image (silently).
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
expect_eq "missing archive: exit code" "$(run_to_end "$DUDORE_STUB" "$(winpath nothing-here.zip)")" 0
cp "$DUDORE_STUB" bare.exe
expect_eq "nothing after the image: exit code" "$(run_to_end bare.exe)" 0

finish
