#!/usr/bin/env bash
# A stored entry whose data was altered: "CRC Error!", no file left behind, an existing file
# of that name untouched, and the next entry still extracted. Deflate and Deflate64 entries
# that would decode past their declared size fail the same way, at once, and so does one
# that decodes short of it, whatever its CRC. A full disk is no CRC error: "Cannot create
# a file." names the entry, and the existing file stays.
source "$(dirname "$0")/lib.sh"

python3 "$MKZIP" good.zip 'damaged.txt' '=the original content' 'next.txt' '=next entry'
# Flip one byte of the first entry's data (it follows its 30-byte header and 11-byte name).
python3 - <<'PY'
data = bytearray(open("good.zip", "rb").read())
data[30 + 11 + 4] ^= 0x20
open("bad.zip", "wb").write(data)
PY
mkdir out
echo "the user's own file" > out/damaged.txt
make_sfx -o bad.exe -d "$(winpath out)" --skip-dialog --overwrite --no-explorer bad.zip >/dev/null 2>&1 || true
check "mksfx refused to build it" test ! -e bad.exe
make_sfx -o bad.exe --keep-offsets -d "$(winpath out)" --skip-dialog --overwrite --no-explorer good.zip >/dev/null
python3 - <<'PY'
sfx = bytearray(open("bad.exe", "rb").read())
good = open("good.zip", "rb").read()
start = len(sfx) - len(good)
sfx[start + 30 + 11 + 4] ^= 0x20
open("bad.exe", "wb").write(sfx)
PY

start_stub bad.exe
check "the error is shown" driver wait DUD-ORE
expect_eq "its text" "$(driver text DUD-ORE 65535)" "CRC Error!"
driver click DUD-ORE 1 >/dev/null
wait_stub
expect_eq "exit code" "$STUB_STATUS" $LOW_FAILED
expect_eq "the existing file is untouched" "$(cat out/damaged.txt)" "the user's own file"
expect_eq "the next entry is extracted" "$(cat out/next.txt)" "next entry"
check "no temporary file left" test -z "$(find out -name '~*')"

rm out/damaged.txt
start_stub bad.exe
driver wait DUD-ORE >/dev/null
driver click DUD-ORE 1 >/dev/null
wait_stub
check "without an existing file, none is left behind" test ! -e out/damaged.txt

# 1 MB of Deflate and 59 KB of Deflate64 that claim 10 bytes: the output stops there.
# Deflate that claims one byte more than it decodes, with the CRC of what it decodes: a
# short file is no good file either.
head -c 40000000 /dev/zero > zeros.bin
head -c 60000 /dev/urandom > random.bin
seq 1 3000 > short.txt
zip -q -X -9 deflate.zip zeros.bin
7z a -bd -bso0 -tzip -mm=Deflate64 deflate64.zip random.bin
zip -q -X -9 short.zip short.txt
for case in "deflate zeros.bin 10" "deflate64 random.bin 10" "short short.txt $(($(stat -c %s short.txt) + 1))"; do
  read -r zip name size <<<"$case"
  what="$zip, $size bytes declared"
  make_sfx -o "$zip.exe" -d "$(winpath "out-$zip")" --skip-dialog --overwrite --no-explorer "$zip.zip" >/dev/null
  patch_entry "$name" "$zip.exe" size "$size"
  start_stub "$zip.exe"
  check "$what: the error is shown" driver wait DUD-ORE
  expect_eq "$what: as a CRC error" "$(driver text DUD-ORE 65535)" "CRC Error!"
  check "$what: nothing is left" test -z "$(ls -A "out-$zip")"
  driver click DUD-ORE 1 >/dev/null || true  # a missing error is reported above; on to the next case
  wait_stub
done

# A disk of 64 KiB (a tmpfs; mounting needs root) with an existing file: a 200 KB entry
# cannot be written there.
mkdir -p full
if mount -t tmpfs -o size=64k tmpfs full 2>/dev/null; then
  echo "the user's own" > full/big.bin
  head -c 200000 /dev/urandom > big.bin && zip -q -X -0 big.zip big.bin
  make_sfx -o full.exe -d "$(winpath full)" --skip-dialog --overwrite --no-explorer big.zip >/dev/null
  start_stub full.exe
  check "full disk: reported" driver wait DUD-ORE
  expect_eq "full disk: as a file that cannot be made" "$(driver text DUD-ORE 65535 | paste -sd '|')" \
    "big.bin||Cannot create a file."
  driver click DUD-ORE 1
  wait_stub
  expect_eq "full disk: the existing file stays" "$(cat full/big.bin)" "the user's own"
  check "full disk: no temporary file left" test -z "$(find full -name '~*')"
  umount full
else
  echo "skipped: full disk (mounting a small file system needs root)"
fi

finish
