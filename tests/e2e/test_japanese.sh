#!/usr/bin/env bash
# Double-byte paths in a Japanese session (code page 932): a destination and entry names
# whose last character's second byte is '\' (0x5C), which must never be taken for a separator.
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

finish
