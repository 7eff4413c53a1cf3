#!/usr/bin/env bash
# Folder macros in the block's destination, against the folders Wine itself reports: the
# files land in the user's desktop or documents folder, and the dialog shows each
# expansion, the private temporary folder's name included.
source "$(dirname "$0")/lib.sh"

DIALOG="Confirm Extracting"
mkdir src && echo "payload" > src/f.txt
(cd src && zip -q -X ../p.zip f.txt)

shell_folder() {
  wine_run reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v "$1" 2>/dev/null |
    tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"
}
unix_path() { wine_run winepath -u "$1" 2>/dev/null | tr -d '\r'; }
# The temporary folder as the system gives it to a program (TMP first, then TEMP).
temp_folder() { wine_run cmd /c 'if defined TMP (echo %TMP%) else (echo %TEMP%)' 2>/dev/null | tr -d '\r'; }

WINDOWS=$(wine_run cmd /c echo %windir% 2>/dev/null | tr -d '\r')
DESKTOP=$(shell_folder Desktop)
DOCUMENTS=$(shell_folder Personal)
TEMP_DIR=$(temp_folder)
check "Wine reports its Windows folder" test -n "$WINDOWS"
check "Wine reports a desktop folder" test -n "$DESKTOP"
check "Wine reports a documents folder" test -n "$DOCUMENTS"
check "Wine reports a temporary folder" test -n "$TEMP_DIR"
unique="dudore-e2e-$$"

# Extracted without the dialog into the folder that the registry names.
for macro in Desktop:"$DESKTOP" MyDocuments:"$DOCUMENTS"; do
  name=${macro%%:*}
  folder=${macro#*:}
  make_sfx -o "$name.exe" -d "%$name%\\$unique" --skip-dialog --overwrite --no-explorer p.zip >/dev/null
  expect_eq "%$name%: exit code" "$(run_to_end "$name.exe")" 0
  target=$(unix_path "$folder\\$unique")
  check "%$name%: extracted into $folder\\$unique" cmp -s src/f.txt "$target/f.txt"
  rm -rf "$target"
done

# What the dialog shows for each form; Cancel ends the run before anything is made.
# given destination | block options | expected text of the edit box
cases=(
  "%Desktop%\\x||$DESKTOP\\x"
  "%Desktop%x||${DESKTOP}x"
  "%MyDocuments%||$DOCUMENTS"
  "%WinDir%||$WINDOWS"
  "%SystemDir%\\y||$WINDOWS\\system32\\y"
  "%ProgramFiles%\\App||${WINDOWS:0:3}Program Files\\App"
  "%temp%\\x||$TEMP_DIR\\x"
  "%temp%||$TEMP_DIR"
  "%temp%|-c setup.exe --delete-after|$TEMP_DIR\\~macro.exe.################"
  "%temp%\\|-c setup.exe --delete-after|$TEMP_DIR\\"
  "%temp%|--delete-after|$TEMP_DIR"
  "%desktop%\\x||\\x"
  "%Foo%\\x||\\x"
  "%Desktop||%Desktop"
)
for c in "${cases[@]}"; do
  IFS='|' read -r given options expected <<<"$c"
  # shellcheck disable=SC2086  # the options are words
  make_sfx -o macro.exe -d "$given" --overwrite --no-explorer $options p.zip >/dev/null 2>&1
  start_stub macro.exe
  if driver wait "$DIALOG" 20 >/dev/null; then
    # '#' stands for a random hex digit.
    expect_eq "dialog for [$given] [$options]" "$(driver text "$DIALOG" 1004 | sed 's/\.[0-9a-f]\{16\}$/.################/')" "$expected"
    driver click "$DIALOG" 2
  else
    fail "dialog for [$given] [$options]: no dialog"
  fi
  wait_stub
done
check "Cancel made no private folder" test -z "$(find "$(unix_path "$TEMP_DIR")" -maxdepth 1 -name '~macro.exe*')"

finish
