#!/usr/bin/env bash
# With Explorer on and no command, a finished extraction opens Explorer on the destination,
# the system's own even when an explorer.exe lies beside the program; the test closes it
# again and leaves no process behind.
source "$(dirname "$0")/lib.sh"

mkdir src && echo "payload" > src/f.txt
(cd src && zip -q -X ../p.zip f.txt)
make_sfx -o show.exe -d "$(winpath shown-here)" --skip-dialog --overwrite p.zip >/dev/null
cp "$DUDORE_BUILD/fake_setup.exe" explorer.exe
export DUDORE_FAKE_SETUP_LOG; DUDORE_FAKE_SETUP_LOG=$(winpath planted.log)
expect_eq "exit code" "$(run_to_end show.exe)" 0
check "the explorer.exe beside the program did not run" test ! -e planted.log
check "extracted" test -f shown-here/f.txt
check "Explorer shows the destination" explorer_window shown-here 20
check "and is gone once closed" close_explorer shown-here

finish
