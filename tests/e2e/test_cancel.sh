#!/usr/bin/env bash
# Cancel in the middle of a large entry, by the Cancel button, by Esc and by the close box:
# the partial file is gone (no temporary left either), the entries before it stay, nothing
# after it is written, and Explorer is not opened. An entry that reached its size with the
# wrong CRC is not kept because of the cancel.
source "$(dirname "$0")/lib.sh"

mkdir src
echo "first" > src/1-first.txt
head -c 150000000 /dev/zero > src/2-large.bin
echo "last" > src/3-last.txt
(cd src && zip -q -0 -X ../big.zip 1-first.txt 2-large.bin 3-last.txt)
rm -rf src

# The program itself, named cancel.exe: for a 32-bit image the child of `timeout`; a
# 64-bit one Wine starts through start.exe as a process of its own, with this test's
# folder on its command line.
stub_process() {
  local pid found=1
  for pid in $(pgrep -x cancel.exe); do
    if [ "$(ps -o ppid= -p "$pid" | tr -d ' ')" = "$STUB_PID" ] ||
       grep -qF "$(basename "$E2E_WORK")" "/proc/$pid/cmdline" 2>/dev/null; then
      echo "$pid"
      found=0
    fi
  done
  return $found
}

# `progress`: Cancel in the window of a run that asks nothing else (/P).
for how in button esc close progress; do
  rm -rf "out-$how"
  make_sfx -o "cancel.exe" -d "$(winpath "out-$how")" --skip-dialog --overwrite big.zip >/dev/null
  start_stub cancel.exe $([ $how = progress ] && echo /P)
  stub=
  until [ -n "$stub" ]; do stub=$(stub_process) || sleep 0.01; done
  # Let it run in slices of a few milliseconds until it is at the large entry (the first
  # entry in place and a temporary file there), so that however slowly this shell runs
  # it cannot miss the entry; then, held still, find its window, queue the cancel, and let
  # it go on: it meets the cancel within a step of the bar.
  for _ in $(seq 3000); do
    kill -STOP $stub
    [ -e "out-$how/1-first.txt" ] && compgen -G "out-$how/~*" >/dev/null && break
    kill -CONT $stub
    sleep 0.005
  done
  driver wait "Decompressing..." >/dev/null
  case $how in
    button|progress) driver click "Decompressing..." 2 ;;
    esc) driver key "Decompressing..." esc ;;
    close) driver close "Decompressing..." ;;
  esac
  kill -CONT $stub
  wait_stub
  expect_eq "$how: exit code" "$STUB_STATUS" $LOW_CANCELLED
  check "$how: the entry before stays" test -f "out-$how/1-first.txt"
  check "$how: the partial file is gone" test ! -e "out-$how/2-large.bin"
  check "$how: nothing after it" test ! -e "out-$how/3-last.txt"
  check "$how: no temporary file left" test -z "$(find "out-$how" -name '~*')"
  check "$how: no Explorer" not explorer_window "out-$how" 2
done

# 64 KiB of Deflate output (one full window reaches the file) with a CRC that does not
# match, then empty blocks for a while: cancelled there, the entry is whole but wrong.
python3 - <<'PY'
import zlib
data = bytes(range(256)) * 256
z = zlib.compressobj(9, zlib.DEFLATED, -15)
open("stream.bin", "wb").write(z.compress(data) + z.flush(zlib.Z_FULL_FLUSH) + b"\0\0\0\xff\xff" * 20000000 + b"\3\0")
PY
python3 "$MKZIP" whole.zip victim.txt "{method=8,size=65536,crc=$(python3 -c 'import zlib; print(zlib.crc32(bytes(range(256)) * 256))')}@stream.bin"
rm stream.bin
mkdir -p out-whole && echo "the user's own" > out-whole/victim.txt
make_sfx -o whole.exe -d "$(winpath out-whole)" --skip-dialog --overwrite --no-explorer whole.zip >/dev/null
patch_entry victim.txt whole.exe crc 0x12345678
start_stub whole.exe
for _ in $(seq 1000); do [ -n "$(find out-whole -name '~*' -size 64k 2>/dev/null)" ] && break; sleep 0.01; done
kill -STOP "$STUB_PID"
driver click "Decompressing..." 2
kill -CONT "$STUB_PID"
wait_stub
expect_eq "whole but wrong: the existing file is kept" "$(cat out-whole/victim.txt)" "the user's own"
check "whole but wrong: no temporary file left" test -z "$(find out-whole -name '~*')"

finish
