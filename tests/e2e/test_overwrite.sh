#!/usr/bin/env bash
# Existing files with overwrite-without-asking off: the confirmation shows the name and both
# files' sizes and times; Yes replaces, No keeps, Yes to All replaces the rest without asking,
# Newer replaces only older files from then on, and Cancel, Esc or the close box stop
# extraction with no Explorer. A read-only file is replaced and takes the entry's attributes.
# A folder bit on a file entry changes neither the question nor, when the entry fails, the
# file; a folder in a file's place is never replaced: "Cannot create a file.". A folder
# entry leaves a folder that was there before as it was.
source "$(dirname "$0")/lib.sh"

TITLE="Confirm File Replace"

# Writes ZIP $1 with stored entries NAME=SIZE, each holding SIZE bytes '#', dated $ENTRY_TIME
# ("Y M D h m s") with the DOS attributes $ENTRY_ATTR.
make_zip() {
  python3 - "$@" <<'PY'
import os, sys, zipfile
when = tuple(int(x) for x in os.environ.get("ENTRY_TIME", "2003 1 2 12 34 56").split())
attributes = int(os.environ.get("ENTRY_ATTR", "0x20"), 16)
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as archive:
    for item in sys.argv[2:]:
        name, size = item.split("=")
        info = zipfile.ZipInfo(name, when)
        info.create_system = 0  # MS-DOS attributes
        info.external_attr = attributes
        archive.writestr(info, "#" * int(size))
PY
}

# An existing file $1 holding "old" and last written at local time $2.
existing() { mkdir -p "$(dirname "$1")"; printf 'old' > "$1"; touch -d "$2" "$1"; }
is_old() { [ "$(cat "$1" 2>/dev/null)" == old ]; }
is_new() { [ -s "$1" ] && [ -z "$(tr -d '#' < "$1")" ]; }

make_zip three.zip one.txt=1234 two.txt=5 three.txt=6
make_sfx -o ask.exe -d "$(winpath out)" --skip-dialog --no-explorer three.zip >/dev/null

# The texts, then Yes for the first file and No for the second; the third is new.
existing out/one.txt "2001-02-03 04:05:06"
existing out/two.txt "2001-02-03 04:05:06"
start_stub ask.exe
check "the confirmation appears" driver wait "$TITLE"
expect_eq "the name line" "$(driver text "$TITLE" 1009)" "'one.txt'"
expect_eq "the existing file's details" "$(driver text "$TITLE" 1005 | tr '\n' '|')" \
  "3 Bytes|Modified: 02, 03, 2001,  04:05:06|"
expect_eq "the entry's details" "$(driver text "$TITLE" 1008 | tr '\n' '|')" \
  "1,234 Bytes|Modified: 01, 02, 2003,  12:34:56|"
driver click "$TITLE" 6
driver wait-gone "$TITLE" 10 >/dev/null || true
check "asked again for the second file" driver wait "$TITLE"
expect_eq "which it names" "$(driver text "$TITLE" 1009)" "'two.txt'"
driver click "$TITLE" 7
wait_stub
expect_eq "Yes/No: exit code" "$STUB_STATUS" 0
check "Yes replaced the first file" is_new out/one.txt
expect_eq "with all of it" "$(stat -c %s out/one.txt)" 1234
check "No kept the second" is_old out/two.txt
check "the third, not there before, is extracted" is_new out/three.txt
check "no temporary file left" test -z "$(find out -name '~*')"

# Yes to All: this file and every later one replaced without asking.
rm -rf out
for f in one two three; do existing "out/$f.txt" "2001-02-03 04:05:06"; done
start_stub ask.exe
driver wait "$TITLE" >/dev/null
driver click "$TITLE" 1003
wait_stub
expect_eq "Yes to All: exit code" "$STUB_STATUS" 0
for f in one two three; do check "Yes to All: $f.txt replaced" is_new "out/$f.txt"; done

# Newer, pressed for a file newer than the entry: that file stays too. From then on only
# older files are replaced, without asking; a file as old as the entry stays.
make_zip four.zip one.txt=4 two.txt=4 three.txt=4 four.txt=4
make_sfx -o newer.exe -d "$(winpath out)" --skip-dialog --no-explorer four.zip >/dev/null
rm -rf out
existing out/one.txt "2003-01-02 12:34:58"
existing out/two.txt "2003-01-02 12:34:54"
existing out/three.txt "2003-01-02 12:34:56"
start_stub newer.exe
check "Newer: the confirmation appears" driver wait "$TITLE"
expect_eq "Newer: for the first file" "$(driver text "$TITLE" 1009)" "'one.txt'"
driver click "$TITLE" 1004
wait_stub
expect_eq "Newer: exit code" "$STUB_STATUS" 0
check "Newer: the newer file it was pressed for stays" is_old out/one.txt
check "Newer: an older file is replaced without asking" is_new out/two.txt
check "Newer: a file of the same time stays" is_old out/three.txt
check "Newer: a file not there before is extracted" is_new out/four.txt

# Cancel, Esc and the close box: extraction stops, nothing more is written, no Explorer.
make_sfx -o cancel.exe -d "$(winpath out)" --skip-dialog three.zip >/dev/null
for how in button esc close; do
  rm -rf out
  existing out/one.txt "2001-02-03 04:05:06"
  start_stub cancel.exe
  driver wait "$TITLE" >/dev/null
  case $how in
    button) driver click "$TITLE" 1007 ;;
    esc) driver key "$TITLE" esc ;;
    close) driver close "$TITLE" ;;
  esac
  wait_stub
  expect_eq "$how: exit code" "$STUB_STATUS" $LOW_CANCELLED
  check "$how: the existing file is kept" is_old out/one.txt
  check "$how: nothing after it" test ! -e out/two.txt -a ! -e out/three.txt
  check "$how: no Explorer" not explorer_window out 2
done

# A read-only file is replaced and takes the entry's attributes: none, or read-only.
for attributes in 0x20 0x21; do
  rm -rf out
  existing out/locked.txt "2001-02-03 04:05:06"
  chmod a-w out/locked.txt
  ENTRY_ATTR=$attributes make_zip locked.zip locked.txt=9
  make_sfx -o locked.exe -d "$(winpath out)" --skip-dialog --no-explorer locked.zip >/dev/null
  start_stub locked.exe
  check "read-only ($attributes): asked" driver wait "$TITLE"
  driver click "$TITLE" 6
  wait_stub
  check "read-only ($attributes): replaced" is_new out/locked.txt
  if [ "$attributes" == 0x21 ]; then
    check "read-only ($attributes): read-only again" test -z "$(find out/locked.txt -perm /222)"
  else
    check "read-only ($attributes): writable now" test -n "$(find out/locked.txt -perm -200)"
  fi
done

# The folder bit on file entries: asked like any other (No keeps the file); with read-only,
# hidden and system too and a CRC error, the existing file keeps its bytes, time and rights.
ENTRY_ATTR=0x10 make_zip bit.zip asked.txt=3
ENTRY_ATTR=0x17 make_zip damaged.zip damaged.txt=4
rm -rf out
existing out/asked.txt "2001-02-03 04:05:06"
existing out/damaged.txt "2001-02-03 04:05:06"
make_sfx -o bit.exe -d "$(winpath out)" --skip-dialog --no-explorer bit.zip >/dev/null
start_stub bit.exe
check "folder bit: asked" driver wait "$TITLE"
driver click "$TITLE" 7
wait_stub
check "folder bit: No kept the file" is_old out/asked.txt
make_sfx -o damaged.exe -d "$(winpath out)" --skip-dialog --no-explorer --overwrite damaged.zip >/dev/null
patch_entry damaged.txt damaged.exe flip
start_stub damaged.exe
check "folder bit and a CRC error: reported" driver wait DUD-ORE
driver click DUD-ORE 1
wait_stub
check "folder bit and a CRC error: the file keeps its bytes" is_old out/damaged.txt
expect_eq "folder bit and a CRC error: and its time" "$(stat -c %y out/damaged.txt | cut -c1-19)" "2001-02-03 04:05:06"
check "folder bit and a CRC error: and stays writable" test -w out/damaged.txt

# A folder where the entry's file belongs: reported by the entry's name, and left alone.
rm -rf out && mkdir -p out/one.txt/inside
make_sfx -o folder.exe -d "$(winpath out)" --skip-dialog --no-explorer --overwrite three.zip >/dev/null
start_stub folder.exe
check "folder in the way: reported" driver wait DUD-ORE
expect_eq "folder in the way: by the entry's name" "$(driver text DUD-ORE 65535 | paste -sd '|')" \
  "one.txt||Cannot create a file."
driver click DUD-ORE 1
wait_stub
check "folder in the way: the folder stays" test -d out/one.txt/inside
check "folder in the way: the next entries come" is_new out/two.txt

# An entry without a time (DOS date-time 0): its details line stays empty.
ENTRY_TIME="1980 0 0 0 0 0" make_zip timeless.zip one.txt=2
make_sfx -o timeless.exe -d "$(winpath out)" --skip-dialog --no-explorer timeless.zip >/dev/null
rm -rf out
existing out/one.txt "2001-02-03 04:05:06"
start_stub timeless.exe
driver wait "$TITLE" >/dev/null
expect_eq "no time: the entry's line is empty" "$(driver text "$TITLE" 1008)" ""
expect_eq "no time: the existing file's line is there" "$(driver text "$TITLE" 1005 | head -1)" "3 Bytes"
driver click "$TITLE" 6
wait_stub
check "no time: replaced" is_new out/one.txt

# Japanese: the template's sentence around the name, and the Japanese date layout.
(
  export LC_ALL=ja_JP.UTF-8
  before=$failures
  TITLE="ファイル上書きの確認"
  rm -rf out
  existing out/one.txt "2001-02-03 04:05:06"
  start_stub ask.exe
  check "Japanese: the confirmation appears" driver wait "$TITLE"
  expect_eq "Japanese: the name line" "$(driver text "$TITLE" 1009)" "展開先には既に 'one.txt' のファイルが存在します。"
  expect_eq "Japanese: the existing file's details" "$(driver text "$TITLE" 1005 | tr '\n' '|')" \
    "3 バイト|2001年02月03日 土曜日、04:05:06|"
  expect_eq "Japanese: the entry's details" "$(driver text "$TITLE" 1008 | tr '\n' '|')" \
    "1,234 バイト|2003年01月02日 木曜日、12:34:56|"
  driver click "$TITLE" 1004
  wait_stub
  expect_eq "Japanese: exit code" "$STUB_STATUS" 0
  check "Japanese: Newer replaced the older file" is_new out/one.txt
  [ "$failures" -eq "$before" ]
) || failures=$((failures + 1))

# A folder entry gives its time (and attributes) to a folder that the run makes, never to
# the user's own folder of that name.
mkdir -p folders/mine && touch -d "2020-05-06 07:08:09" folders/mine
ENTRY_ATTR=0x12 make_zip folders.zip mine/=0 made/=0
make_sfx -o folders.exe -d "$(winpath folders)" --skip-dialog --overwrite --no-explorer folders.zip >/dev/null
expect_eq "folder entries: exit code" "$(run_to_end folders.exe)" 0
expect_eq "folder entries: the user's folder keeps its time" "$(date -r folders/mine '+%F %T')" "2020-05-06 07:08:09"
expect_eq "folder entries: a folder the run made takes the entry's" "$(date -r folders/made '+%F %T')" "2003-01-02 12:34:56"

finish
