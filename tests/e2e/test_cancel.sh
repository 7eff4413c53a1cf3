#!/usr/bin/env bash
# Cancel in the middle of a large entry, by the Cancel button, by Esc and by the close box:
# the partial file is gone (no temporary left either), the entries before it stay, nothing
# after it is written, and Explorer is not opened.
source "$(dirname "$0")/lib.sh"

mkdir src
echo "first" > src/1-first.txt
head -c 150000000 /dev/zero > src/2-large.bin
echo "last" > src/3-last.txt
(cd src && zip -q -0 -X ../big.zip 1-first.txt 2-large.bin 3-last.txt)
rm -rf src

for how in button esc close; do
  rm -rf "out-$how"
  make_sfx -o "cancel.exe" -d "$(winpath "out-$how")" --skip-dialog --overwrite big.zip >/dev/null
  start_stub cancel.exe
  driver wait "Decompressing..." >/dev/null
  # Catch the program while the large entry is being written (its temporary file grows),
  # hold it still, queue the cancel, and let it go on: it meets the cancel mid-entry.
  for _ in $(seq 1000); do [ -n "$(find "out-$how" -name 'dud*.tmp' -size +64k 2>/dev/null)" ] && break; sleep 0.01; done
  kill -STOP "$STUB_PID"
  case $how in
    button) driver click "Decompressing..." 2 ;;
    esc) driver key "Decompressing..." esc ;;
    close) driver close "Decompressing..." ;;
  esac
  kill -CONT "$STUB_PID"
  wait_stub
  expect_eq "$how: exit code" "$STUB_STATUS" 0
  check "$how: the entry before stays" test -f "out-$how/1-first.txt"
  check "$how: the partial file is gone" test ! -e "out-$how/2-large.bin"
  check "$how: nothing after it" test ! -e "out-$how/3-last.txt"
  check "$how: no temporary file left" test -z "$(find "out-$how" -name 'dud*.tmp')"
  check "$how: no Explorer" not explorer_window "out-$how" 2
done

finish
