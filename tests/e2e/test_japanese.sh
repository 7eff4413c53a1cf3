#!/usr/bin/env bash
# Double-byte paths in a Japanese session (code page 932): a destination and entry names
# whose last character's second byte is '\' (0x5C), which must never be taken for a separator.
# UTF-8 names (flag bit 11, or a Unicode Path field) extract as their own names whatever
# the code page holds, in 932 and in 1252; a stale field is ignored.
source "$(dirname "$0")/lib.sh"
export LC_ALL=ja_JP.UTF-8

# 表 (95 5C) and ソ (83 5C) end in 0x5C; 能 (94 5C) too.
python3 "$MKZIP" names.zip \
  'cp932:フォルダ表/' dir \
  'cp932:フォルダ表/ソ' '=so' \
  'cp932:能/中身.txt' '=inside' \
  'cp932:表' '=hyo'
mkdir "宛先ソ"
# The block holds text in the code page the stub runs under.
make_sfx -o names.exe -d "$(winpath "宛先ソ" | iconv -f UTF-8 -t CP932)" --skip-dialog --overwrite --no-explorer names.zip >/dev/null
expect_eq "exit code" "$(run_to_end names.exe)" 0
expect_eq "a file in a folder ending in 表" "$(cat "宛先ソ/フォルダ表/ソ" 2>/dev/null)" "so"
expect_eq "a file under 能" "$(cat "宛先ソ/能/中身.txt" 2>/dev/null)" "inside"
expect_eq "a file named 表" "$(cat "宛先ソ/表" 2>/dev/null)" "hyo"
expect_eq "nothing else was made" "$(cd "宛先ソ" && find . -mindepth 1 | sort | tr '\n' ' ')" \
  "./フォルダ表 ./フォルダ表/ソ ./能 ./能/中身.txt ./表 "
check "nothing beside the destination" test -z "$(find . -maxdepth 1 -mindepth 1 ! -name names.zip ! -name names.exe ! -name '宛先ソ')"

# UTF-8 names. The field's CRC-32 is that of the stored name: "old.txt" here, so renaming the
# stored name afterwards (to "new.txt") leaves the field stale.
python3 - <<'PY'
import struct, zipfile, zlib
with zipfile.ZipFile("utf8.zip", "w") as z:                   # Python sets flag bit 11
    z.writestr("日本語/資料.txt", "data")
    z.writestr("café.txt", "cafe")
    z.writestr("한국어.txt", "korean")
    z.writestr("中文/文件.txt", "chinese")
    z.writestr("Zażółć gęślą.txt", "polish")
    z.writestr("😀/🎉.txt", "emoji")
def unicode_path(name, utf8):
    field = b"\x01" + struct.pack("<I", zlib.crc32(name)) + utf8.encode()
    return struct.pack("<HH", 0x7075, len(field)) + field
with zipfile.ZipFile("field.zip", "w") as z:
    for stored, utf8 in ((b"fresh.txt", "新しい.txt"), (b"old.txt", "古い.txt")):
        info = zipfile.ZipInfo(stored.decode())
        info.extra = unicode_path(stored, utf8)
        z.writestr(info, "x")
data = open("field.zip", "rb").read().replace(b"old.txt", b"new.txt")
open("field.zip", "wb").write(data)
PY
for zip in utf8 field; do make_sfx -o "$zip.exe" -d "$(winpath "out-$zip")" --skip-dialog --overwrite --no-explorer "$zip.zip" >/dev/null; done
utf8_names="./Zażółć gęślą.txt ./café.txt ./中文 ./中文/文件.txt ./日本語 ./日本語/資料.txt ./한국어.txt ./😀 ./😀/🎉.txt "
utf8_check() {
  expect_eq "UTF-8, $1: exit code" "$(run_to_end utf8.exe)" 0
  expect_eq "UTF-8, $1: every name as it is" "$(cd out-utf8 && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' ')" "$utf8_names"
  expect_eq "UTF-8, $1: 日本語/資料.txt" "$(cat out-utf8/日本語/資料.txt 2>/dev/null)" "data"
  expect_eq "UTF-8, $1: 한국어.txt" "$(cat out-utf8/한국어.txt 2>/dev/null)" "korean"
  expect_eq "UTF-8, $1: 😀/🎉.txt" "$(cat out-utf8/😀/🎉.txt 2>/dev/null)" "emoji"
}
utf8_check 932
expect_eq "Unicode Path field: exit code" "$(run_to_end field.exe)" 0
expect_eq "Unicode Path field: taken, or ignored when stale" "$(cd out-field && ls | sort | tr '\n' ' ')" "new.txt 新しい.txt "
(
  export LC_ALL=C.UTF-8
  rm -rf out-utf8
  utf8_check 1252
  expect_eq "UTF-8, 1252: 中文/文件.txt" "$(cat out-utf8/中文/文件.txt 2>/dev/null)" "chinese"
  expect_eq "UTF-8, 1252: Zażółć gęślą.txt" "$(cat "out-utf8/Zażółć gęślą.txt" 2>/dev/null)" "polish"
  # A refused name is shown whole, in any script.
  python3 -c 'import zipfile; zipfile.ZipFile("refused.zip", "w").writestr("中文:x.txt", "x")'
  make_sfx -o refused.exe -d "$(winpath out-refused)" --skip-dialog --overwrite --no-explorer refused.zip >/dev/null 2>&1
  start_stub refused.exe
  driver wait DUD-ORE >/dev/null
  expect_eq "UTF-8, 1252: the refused name shown whole" "$(driver text DUD-ORE 65535 | tr '\n' '|')" \
    "中文:x.txt||invalid filename.(skipped)|"
  driver click DUD-ORE 1 >/dev/null
  wait_stub
  [ "$failures" -eq 0 ]
) || failures=$((failures + 1))

finish
