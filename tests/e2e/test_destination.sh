#!/usr/bin/env bash
# Where the files land: the command-line forms that name a destination, the rules that
# settle a configured destination against the archive's own folder, and folders of a
# script the code page cannot hold.
source "$(dirname "$0")/lib.sh"

mkdir -p base/a/b src
echo "payload" > src/f.txt
(cd src && zip -q -X ../p.zip f.txt)
B="$E2E_WORK/base/a/b"   # the self-extracting file lives here

# Command line: quoted archive and destination, with and without a command before them.
mkdir named1 named2
run_tail "$DUDORE_STUB" "/N /H \"$(winpath p.zip)\" \"$(winpath named1)\"" >/dev/null
check "quoted archive and destination" test -f named1/f.txt
run_tail "$DUDORE_STUB" "/N /H /O /E:\"setup.exe /s\" \"$(winpath p.zip)\" \"$(winpath named2/new)\"" >/dev/null
check "a destination that does not exist yet is made" test -f named2/new/f.txt

# Configured destinations: each case extracts into base/a/b's neighbourhood.
# given destination | where f.txt must appear (relative to the work folder)
cases=(
  "sub|base/a/b/sub/f.txt"
  "\\sub2|base/a/b/sub2/f.txt"
  ".\\sub3|base/a/b/sub3/f.txt"
  "..\\x|base/a/x/f.txt"
  "..\\..\\y|base/y/f.txt"
  "..\\q\\..\\z|base/z/f.txt"
  "$(printf '..\\%.0s' $(seq 40))w|base/a/b/f.txt"
  "$(winpath "$E2E_WORK/slashes")/in/it/|slashes/in/it/f.txt"
  "$(winpath "$E2E_WORK/blanks")   |blanks/f.txt"
  "$(winpath "$E2E_WORK/bad")|x|base/a/b/f.txt"
)
for c in "${cases[@]}"; do
  given=${c%|*}
  expected=${c##*|}
  rm -f base/a/b/f.txt
  make_sfx -o "$B/sfx.exe" -d "$given" --skip-dialog --overwrite --no-explorer p.zip
  run_to_end "$B/sfx.exe" >/dev/null
  check "destination [$given] gives $expected" test -f "$expected"
done
check "the forbidden character made no folder" test ! -e "$E2E_WORK/bad"

# A folder of the archive that is itself refused (';' is legal in folder names) cannot
# settle anything without the dialog: the run ends with a message instead of looping.
mkdir "semi;colon"
make_sfx -o "semi;colon/sfx.exe" --skip-dialog --overwrite --no-explorer p.zip >/dev/null 2>&1
start_stub "semi;colon/sfx.exe"
check "refused base folder: the run ends with a message" driver wait DUD-ORE
expect_eq "refused base folder: its text" "$(driver text DUD-ORE 65535)" "Invalid path!"
driver click DUD-ORE 1
wait_stub
expect_eq "refused base folder: exit code" "$STUB_STATUS" $LOW_FAILED
check "refused base folder: nothing extracted" test ! -e "semi;colon/f.txt"

# A destination that would resolve past 259 bytes is refused, never cut to another path.
long=$(printf 'd%.0s' $(seq 250))
rm -f base/a/b/f.txt
make_sfx -o "$B/long.exe" -d "$long" --skip-dialog --overwrite --no-explorer p.zip >/dev/null 2>&1
start_stub "$B/long.exe"
check "too long a destination: refused with a message" driver wait DUD-ORE
expect_eq "too long a destination: its text" "$(driver text DUD-ORE 65535)" "Invalid path!"
driver click DUD-ORE 1
wait_stub
check "too long a destination: nothing made" test -z "$(find base -name 'ddd*')"
check "too long a destination: nothing extracted" test ! -e base/a/b/f.txt

# Folders that code page 1252 cannot hold: the program's own folder in Cyrillic (the
# destination is taken against it), the command started there, delete-after cleaning it
# up; a Cyrillic folder typed in the dialog or given on the command line.
export DUDORE_FAKE_SETUP_LOG; DUDORE_FAKE_SETUP_LOG=$(winpath setup.log)
mkdir -p "Загрузки" cyrillic/sub
cp "$DUDORE_BUILD/fake_setup.exe" cyrillic/
echo "inside" > cyrillic/sub/f.txt
(cd cyrillic && zip -q -X -r ../cyrillic.zip fake_setup.exe sub)
make_sfx -o "Загрузки/setup.exe" -d app --skip-dialog --overwrite --delete-after -c 'fake_setup.exe check:sub' \
  cyrillic.zip >/dev/null
expect_eq "own folder in Cyrillic: exit code" "$(run_to_end "Загрузки/setup.exe")" 0
expect_eq "own folder in Cyrillic: the command ran there" "$(tr -d '\r' < setup.log | grep '^folder=')" \
  "folder=$(winpath "Загрузки/app")"
check "own folder in Cyrillic: after the extraction" grep -q "present sub" setup.log
expect_eq "own folder in Cyrillic: delete-after left nothing" "$(cd "Загрузки/app" && find . -mindepth 1)" ""
make_sfx -o typed.exe --overwrite --no-explorer p.zip >/dev/null
start_stub typed.exe
driver wait "Confirm Extracting" 20 >/dev/null
driver set-text "Confirm Extracting" 1004 "$(winpath "Папка/тут")"
driver click "Confirm Extracting" 1
wait_stub
expect_eq "typed Cyrillic folder: exit code" "$STUB_STATUS" 0
check "typed Cyrillic folder: extracted there" cmp -s src/f.txt "Папка/тут/f.txt"
expect_eq "/T: Cyrillic folder: exit code" "$(run_to_end typed.exe /Q "/T:$(winpath "Каталог")")" 0
check "/T: Cyrillic folder: extracted there" cmp -s src/f.txt "Каталог/f.txt"
# Wine quotes each argument that holds a blank: the quoted form of the command line.
mkdir "Мои файлы" && cp p.zip "Мои файлы/архив.zip"
expect_eq "quoted Cyrillic archive and destination: exit code" \
  "$(run_to_end "$DUDORE_STUB" /N /H "$(winpath "Мои файлы/архив.zip")" "$(winpath "Мои файлы")")" 0
check "quoted Cyrillic archive and destination: extracted there" cmp -s src/f.txt "Мои файлы/f.txt"

finish
