#!/usr/bin/env bash
# The command after extraction: a stand-in setup program (fake_setup.exe, which logs what
# it was given) runs from the destination with its parameters and working folder, and not
# after a cancel or a damaged extraction. With delete-after the stub waits for the program and for a "Setup" window
# it hands over to, then deletes the extracted files and their emptied folders; a %temp%
# private destination goes too.
source "$(dirname "$0")/lib.sh"

# Wine hands the environment on to the stub and from it to the program.
export DUDORE_FAKE_SETUP_LOG; DUDORE_FAKE_SETUP_LOG=$(winpath setup.log)
log() { tr -d '\r' < setup.log 2>/dev/null || true; }
logged() { log | grep -qxF "$1"; }
wait_logged() { for _ in $(seq $((${2:-20} * 10))); do logged "$1" && return 0; sleep 0.1; done; return 1; }

mkdir -p src/sub src/a/b
cp "$DUDORE_BUILD/fake_setup.exe" src/fake_setup.exe
echo "top" > src/top.txt
echo "in sub" > src/sub/s.txt
echo "deep" > src/a/b/c.txt
(cd src && zip -q -X -r ../payload.zip fake_setup.exe top.txt sub a)

# ---- The program runs with its parameters, in the destination --------------------------
make_sfx -o run.exe -d "$(winpath out1)" --skip-dialog --overwrite -c 'fake_setup.exe /s check:sub' payload.zip >/dev/null
expect_eq "run: exit code" "$(run_to_end run.exe)" 0
check "run: the program ran" wait_logged end
expect_eq "run: with its parameters" "$(log | grep '^args=')" "args=/s check:sub"
expect_eq "run: in the destination" "$(log | grep '^folder=')" "folder=$(winpath out1)"
check "run: after the extraction" logged "present sub"
check "run: the files stay without delete-after" test -f out1/top.txt -a -f out1/sub/s.txt -a -f out1/a/b/c.txt
check "run: no Explorer with a command" not explorer_window out1 2

rm -f setup.log
make_sfx -o upper.exe -d "$(winpath out1)" --skip-dialog --overwrite -c 'FAKE_SETUP.EXE /S' payload.zip >/dev/null
expect_eq "upper case: exit code" "$(run_to_end upper.exe)" 0
check "upper case: the program ran" wait_logged end
expect_eq "upper case: the extension is found in any case" "$(log | grep '^args=')" "args=/S"

# ---- Without delete-after the stub does not wait ------------------------------------------
rm -f setup.log
make_sfx -o nowait.exe -d "$(winpath out2)" --skip-dialog --overwrite -c 'fake_setup.exe sleep:8000' payload.zip >/dev/null
expect_eq "no wait: exit code" "$(run_to_end nowait.exe)" 0
check "no wait: the program started" logged "args=sleep:8000"
check "no wait: the stub ended while the program ran" not logged end
check "no wait: the program ends by itself" wait_logged end 30

# ---- Not after a cancel ---------------------------------------------------------------------
rm -f setup.log
cp payload.zip locked.zip
echo "secret" > src/secret.txt
(cd src && zip -q -X -P right ../locked.zip secret.txt)
make_sfx -o cancel.exe -d "$(winpath out3)" --skip-dialog --overwrite -c 'fake_setup.exe' locked.zip >/dev/null 2>&1
start_stub cancel.exe
check "cancel: asked for the password" driver wait "Password needed"
driver key "Password needed" esc
wait_stub
expect_eq "cancel: exit code" "$STUB_STATUS" $LOW_CANCELLED
check "cancel: the program did not run" test ! -e setup.log
check "cancel: the files extracted before stay" test -f out3/fake_setup.exe

# ---- Not after a damaged extraction, not even the program already there ------------------
rm -f setup.log
mkdir -p out6 && cp src/fake_setup.exe out6/
make_sfx -o damaged.exe -d "$(winpath out6)" --skip-dialog --overwrite -c 'fake_setup.exe' --delete-after \
  payload.zip >/dev/null
patch_entry fake_setup.exe damaged.exe flip
start_stub damaged.exe
check "damaged: the CRC error is shown" driver wait DUD-ORE
expect_eq "damaged: as such" "$(driver text DUD-ORE 65535)" "CRC Error!"
driver click DUD-ORE 1
for _ in $(seq 50); do [ "$(driver text DUD-ORE 65535 2>/dev/null)" != "CRC Error!" ] && break; sleep 0.1; done
expect_eq "damaged: then why nothing runs" "$(driver text DUD-ORE 65535 | paste -sd ' ')" \
  "Some files could not be extracted. The command was not run."
driver click DUD-ORE 1
wait_stub
expect_eq "damaged: exit code" "$STUB_STATUS" $LOW_FAILED
check "damaged: no program ran" test ! -e setup.log
check "damaged: nothing was deleted" test -f out6/top.txt -a -f out6/fake_setup.exe

# An entry whose data would reach into the central directory: every entry behind it would
# be lost without a word. The archive is damaged: one message, and the program never runs.
rm -f setup.log
make_sfx -o lost.exe -d "$(winpath out7)" --skip-dialog --overwrite -c 'fake_setup.exe' payload.zip >/dev/null
patch_entry top.txt lost.exe csize 0x7fffffff
start_stub lost.exe
check "lost entries: the damage is shown" driver wait DUD-ORE
expect_eq "lost entries: as such" "$(driver text DUD-ORE 65535)" "not supported archive format."
driver click DUD-ORE 1
wait_stub
expect_eq "lost entries: exit code" "$STUB_STATUS" $LOW_FAILED
check "lost entries: no program ran" test ! -e setup.log

# A name is never cut: "./" and 81 times "../" before "fake_setup.exe_" make 260 bytes, and
# cut to 259 they would name the program itself and replace it with the decoy's bytes.
rm -f setup.log
python3 "$MKZIP" decoy.zip fake_setup.exe @src/fake_setup.exe "./$(printf '../%.0s' {1..81})fake_setup.exe_" "=decoy"
make_sfx -o decoy.exe -d "$(winpath out8)" --skip-dialog --overwrite -c 'fake_setup.exe' decoy.zip >/dev/null
expect_eq "uncut name: exit code" "$(run_to_end decoy.exe)" 0
check "uncut name: the program ran" wait_logged end
check "uncut name: the program is the one extracted" cmp -s src/fake_setup.exe out8/fake_setup.exe
expect_eq "uncut name: the decoy under its own name" "$(cat out8/fake_setup.exe_)" "decoy"

# ---- Delete-after: waits for the program and its Setup window, then cleans up -------------
rm -f setup.log
mkdir -p out4/empty && echo "mine" > out4/mine.txt
make_sfx -o handover.exe -d "$(winpath out4)" --skip-dialog --overwrite -c 'fake_setup.exe window' \
  --delete-after payload.zip >/dev/null
start_stub handover.exe
check "handover: the Setup window appears" driver wait Setup 30
check "handover: the program itself ended" wait_logged end
sleep 2
check "handover: the stub waits while the window is open" kill -0 "$STUB_PID"
check "handover: the files are still there" test -f out4/top.txt -a -f out4/sub/s.txt -a -f out4/fake_setup.exe
driver close Setup
wait_stub
expect_eq "handover: exit code" "$STUB_STATUS" 0
check "handover: the window had gone" logged "window closed"
check "handover: the extracted files are deleted" \
  test ! -e out4/fake_setup.exe -a ! -e out4/top.txt -a ! -e out4/sub/s.txt -a ! -e out4/a/b/c.txt
check "handover: the folders the run made too" test ! -e out4/sub -a ! -e out4/a/b -a ! -e out4/a
check "handover: what was there before stays" test -f out4/mine.txt -a -d out4/empty

rm -f setup.log
make_sfx -o waited.exe -d "$(winpath out5)" --skip-dialog --overwrite -c 'fake_setup.exe sleep:3000 check:sub' \
  --delete-after payload.zip >/dev/null
expect_eq "waited: exit code" "$(run_to_end waited.exe)" 0
check "waited: the files were there while the program ran" logged "present sub"
check "waited: the program had ended" logged end
check "waited: then they are deleted" test ! -e out5/fake_setup.exe -a ! -e out5/top.txt -a ! -e out5/sub -a ! -e out5/a/b
check "waited: the destination itself stays" test -d out5

# ---- Delete-after with the %temp% private destination ---------------------------------------
mkdir flat && cp src/fake_setup.exe flat/ && echo "readme" > flat/readme
(cd flat && zip -q -X ../flat.zip fake_setup.exe readme)
temp_folder=$("$DUDORE_WINE" cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')
private=$("$DUDORE_WINE" winepath -u "$temp_folder\\~private.exe" </dev/null 2>/dev/null | tr -d '\r')
rm -rf "$private"* setup.log
# Made in advance by someone else, with a library beside where the program would run:
# never used, never followed.
mkdir -p "$private" && echo planted > "$private/version.dll"
make_sfx -o private.exe -d '%temp%' --skip-dialog --overwrite -c 'fake_setup.exe sleep:500 check:readme' \
  --delete-after flat.zip >/dev/null
expect_eq "%temp%: exit code" "$(run_to_end private.exe)" 0
check "%temp%: the program ran in the private folder" logged "present readme"
expect_eq "%temp%: named after the program, and what nobody could know" \
  "$(log | grep '^folder=' | tr 'A-Z' 'a-z' | sed 's/\.[0-9a-f]\{16\}$/.#/')" \
  "$(printf 'folder=%s\\~private.exe.#' "$temp_folder" | tr 'A-Z' 'a-z')"
check "%temp%: the private folder is removed" test -z "$(find "$private".* -maxdepth 0 2>/dev/null)"
check "%temp%: the folder made in advance is left as it was" test "$(ls "$private")" == version.dll

finish
