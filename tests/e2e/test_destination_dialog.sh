#!/usr/bin/env bash
# The destination dialog: it opens on the archive's folder, extracts where the user says,
# adds the archive's name as a folder, ends the run on Cancel, Esc and the close box,
# comes back after a refused path, and lets the shell's folder browser pick a folder.
source "$(dirname "$0")/lib.sh"

DIALOG="Confirm Extracting"
mkdir -p src place
echo "payload" > src/f.txt
(cd src && zip -q -X ../place/pack.zip f.txt)
PLACE="$(winpath place)\\"

# Polls the text of control $2 of window $1 until it is $3 (the dialog may just be coming
# back); prints what it saw last.
wait_text() {
  local seen=""
  for _ in $(seq 50); do
    seen=$(driver text "$1" "$2" 2>/dev/null) || true
    [ "$seen" == "$3" ] && break
    sleep 0.2
  done
  printf '%s' "$seen"
}

# A plain ZIP on the command line, no switches: the dialog shows the ZIP's folder, OK
# extracts there, and Explorer opens on it.
start_stub "$DUDORE_STUB" "$(winpath place/pack.zip)"
check "plain ZIP: the dialog appears" driver wait "$DIALOG" 20
expect_eq "plain ZIP: it shows the ZIP's folder" "$(driver text "$DIALOG" 1004)" "$PLACE"
driver click "$DIALOG" 1
wait_stub
expect_eq "plain ZIP: exit code" "$STUB_STATUS" 0
check "plain ZIP: extracted into the ZIP's folder" cmp -s src/f.txt place/f.txt
check "plain ZIP: Explorer shows the destination" explorer_window place 20
check "plain ZIP: Explorer closed again" close_explorer place
rm -f place/f.txt

# Another folder typed into the box.
start_stub "$DUDORE_STUB" /N /O "$(winpath place/pack.zip)"
driver wait "$DIALOG" 20 >/dev/null
driver set-text "$DIALOG" 1004 "$(winpath typed/here)"
driver click "$DIALOG" 1
wait_stub
check "typed folder: extracted there" cmp -s src/f.txt typed/here/f.txt
check "typed folder: not into the ZIP's folder" test ! -e place/f.txt

# The check box adds the archive's name as a last folder, and takes it off again.
start_stub "$DUDORE_STUB" /N /O "$(winpath place/pack.zip)"
driver wait "$DIALOG" 20 >/dev/null
driver check "$DIALOG" 203
expect_eq "check box: the name is added" "$(wait_text "$DIALOG" 1004 "${PLACE}pack\\")" "${PLACE}pack\\"
driver check "$DIALOG" 203
expect_eq "check box: and taken off" "$(wait_text "$DIALOG" 1004 "$PLACE")" "$PLACE"
driver check "$DIALOG" 203
driver click "$DIALOG" 1
wait_stub
check "check box: extracted into the archive's folder" cmp -s src/f.txt place/pack/f.txt

# The name of a self-extracting file loses its extension and the blanks before it.
make_sfx -o "place/My Setup .exe" --overwrite --no-explorer place/pack.zip >/dev/null
start_stub "place/My Setup .exe"
driver wait "$DIALOG" 20 >/dev/null
driver check "$DIALOG" 203
expect_eq "program name: the folder it adds" "$(wait_text "$DIALOG" 1004 "${PLACE}My Setup\\")" "${PLACE}My Setup\\"
driver click "$DIALOG" 2
wait_stub

# A block destination is shown as given and settled after OK.
make_sfx -o place/sub.exe -d sub --overwrite --no-explorer place/pack.zip >/dev/null
start_stub place/sub.exe
driver wait "$DIALOG" 20 >/dev/null
expect_eq "block destination: shown as given" "$(driver text "$DIALOG" 1004)" "sub"
driver click "$DIALOG" 1
wait_stub
check "block destination: a bare name lies in the archive's folder" cmp -s src/f.txt place/sub/f.txt

# Cancel, Esc and the close box end the run with nothing extracted.
rm -rf place/f.txt place/pack place/sub
for how in cancel esc close; do
  start_stub "$DUDORE_STUB" /O "$(winpath place/pack.zip)"
  driver wait "$DIALOG" 20 >/dev/null
  case $how in
    cancel) driver click "$DIALOG" 2 ;;
    esc) driver key "$DIALOG" esc ;;
    close) driver close "$DIALOG" ;;
  esac
  wait_stub
  expect_eq "$how: exit code" "$STUB_STATUS" $LOW_CANCELLED
  check "$how: nothing extracted" test -z "$(find place -name f.txt)"
  check "$how: no Explorer" not explorer_window place 1
done

# A refused destination brings the dialog back on the archive's folder.
start_stub "$DUDORE_STUB" /N /O "$(winpath place/pack.zip)"
driver wait "$DIALOG" 20 >/dev/null
driver set-text "$DIALOG" 1004 "$(winpath "refused|here")"
driver click "$DIALOG" 1
expect_eq "refused: the dialog is back on the ZIP's folder" "$(wait_text "$DIALOG" 1004 "$PLACE")" "$PLACE"
driver set-text "$DIALOG" 1004 "$(winpath accepted)"
driver click "$DIALOG" 1
wait_stub
check "refused: the next answer is taken" cmp -s src/f.txt accepted/f.txt
check "refused: nothing made for the refused path" test -z "$(find . -name 'refused*')"

# Text longer than a path may be is refused with a message, and the dialog stays.
long="$(winpath place)\\$(printf 'L%.0s' $(seq 300))"
start_stub "$DUDORE_STUB" /N /O "$(winpath place/pack.zip)"
driver wait "$DIALOG" 20 >/dev/null
driver set-text "$DIALOG" 1004 "$long"
driver click "$DIALOG" 1
check "too long: a message" driver wait DUD-ORE
expect_eq "too long: its text" "$(driver text DUD-ORE 65535)" "Invalid path!"
driver click DUD-ORE 1
driver wait-gone DUD-ORE >/dev/null
expect_eq "too long: the dialog keeps the text" "$(driver text "$DIALOG" 1004)" "$long"
driver click "$DIALOG" 2
wait_stub
check "too long: nothing made" test -z "$(find . -name 'LLL*')"

# The folder browser: Cancel leaves the box as it was; OK writes the chosen folder, which
# is the one the box held when the browser opened (Wine's browser walks drive C: only).
BROWSER="Browse for Folder"
start_stub "$DUDORE_STUB" /N /O "$(winpath place/pack.zip)"
driver wait "$DIALOG" 20 >/dev/null
driver click "$DIALOG" 1000
check "browse: the browser opens" driver wait "$BROWSER" 20
browser_title() { driver texts "$BROWSER" | grep -qF "Please select a folder to store the extracted files."; }
check "browse: with its title" browser_title
driver click "$BROWSER" 2
driver wait-gone "$BROWSER" >/dev/null
expect_eq "browse: Cancel leaves the box unchanged" "$(driver text "$DIALOG" 1004)" "$PLACE"
driver set-text "$DIALOG" 1004 'C:\windows\system32'
driver click "$DIALOG" 1000
driver wait "$BROWSER" 20 >/dev/null
sleep 1
driver click "$BROWSER" 1
driver wait-gone "$BROWSER" >/dev/null
expect_eq "browse: OK writes the folder it opened on" "$(wait_text "$DIALOG" 1004 'C:\windows\system32')" 'C:\windows\system32'
driver click "$DIALOG" 2
wait_stub
expect_eq "browse: exit code" "$STUB_STATUS" $LOW_CANCELLED

# In a Japanese session: a folder whose last byte is a trail byte 0x5C still gets its '\'
# before the archive's name.
(
  export LC_ALL=ja_JP.UTF-8
  mkdir "宛先ソ"
  start_stub "$DUDORE_STUB" /N /O "$(winpath place/pack.zip)"
  driver wait "展開先の指定" 20 >/dev/null
  driver set-text "展開先の指定" 1004 "$(winpath "宛先ソ")"
  driver check "展開先の指定" 203
  expect_eq "Japanese: the name after a trail byte" "$(wait_text "展開先の指定" 1004 "$(winpath "宛先ソ")\\pack\\")" \
    "$(winpath "宛先ソ")\\pack\\"
  driver click "展開先の指定" 1
  wait_stub
  check "Japanese: extracted there" cmp -s src/f.txt "宛先ソ/pack/f.txt"
  exit "$failures"
) || failures=$((failures + $?))

finish
