#!/usr/bin/env bash
# Paths past 259 characters: output paths of 259, 260 and more than 300 characters are
# written whole (never cut into another path), in folders made for them, through a
# temporary file beside each that is moved over an existing file; delete-after removes
# such a tree again.
source "$(dirname "$0")/lib.sh"

mkdir out
dest="$(winpath out)\\"
room=$((259 - ${#dest}))
fits=$(printf 'f%.0s' $(seq "$room"))
over=$(printf 'o%.0s' $(seq $((room + 1))))
a=$(printf 'a%.0s' $(seq 100))
b=$(printf 'b%.0s' $(seq 100))
# A UTF-8 name (flag bit 11): the reader keeps up to 1,023 bytes of those.
deep="$a/$b/$(printf 'c%.0s' $(seq 100))/feuille-é.txt"
check "the deep path passes 300 characters" test $((${#dest} + ${#deep})) -gt 300
zip_of() {  # OUT.zip NAME TEXT...: Python's writer sets flag bit 11 where a name is not ASCII
  python3 - "$@" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for name, text in zip(sys.argv[2::2], sys.argv[3::2]):
        z.writestr(name, open(text[1:], "rb").read() if text.startswith("@") else text)
PY
}
zip_of long.zip "$fits" 'fits exactly' "$over" 'one more' "$a/$b/" '' "$deep" 'deep' 'after.txt' 'after'
make_sfx -o long.exe -d "$dest" --skip-dialog --overwrite --no-explorer long.zip >/dev/null 2>&1

expect_eq "exit code" "$(run_to_end long.exe)" 0
expect_eq "259 characters: written" "$(cat "out/$fits" 2>/dev/null)" "fits exactly"
expect_eq "260 characters: written whole" "$(cat "out/$over" 2>/dev/null)" "one more"
expect_eq "past 300: written" "$(cat "out/$deep" 2>/dev/null)" "deep"
expect_eq "the next entry still comes" "$(cat out/after.txt 2>/dev/null)" "after"
expect_eq "nothing else was made" "$(cd out && find . -mindepth 1 | wc -l)" 7
echo changed > "out/$deep"
expect_eq "again over the files: exit code" "$(run_to_end long.exe)" 0
expect_eq "past 300: replaced" "$(cat "out/$deep" 2>/dev/null)" "deep"
check "no temporary file left" test -z "$(find out -name '~*')"

# Delete-after: the command runs, then the deep tree and its folders are gone.
export DUDORE_FAKE_SETUP_LOG; DUDORE_FAKE_SETUP_LOG=$(winpath setup.log)
cp "$DUDORE_BUILD/fake_setup.exe" .
mkdir out2
zip_of clean.zip fake_setup.exe @fake_setup.exe "$deep" 'deep' "$a/x.txt" 'x'
make_sfx -o clean.exe -d "$(winpath out2)" --skip-dialog --overwrite --delete-after -c fake_setup.exe clean.zip >/dev/null
expect_eq "delete-after: exit code" "$(run_to_end clean.exe)" 0
check "delete-after: the command ran" grep -q '^end' setup.log
expect_eq "delete-after: everything is gone" "$(cd out2 && find . -mindepth 1)" ""

finish
