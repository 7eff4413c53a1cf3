# Shared helpers of the end-to-end scripts: make self-extracting files with mksfx, run
# them under Wine, drive their windows with uidriver, and check what they left behind.
# CTest provides DUDORE_BUILD, DUDORE_SOURCE, DUDORE_MKSFX, DUDORE_STUB, DUDORE_DRIVER, DUDORE_WINE.
set -euo pipefail
: "${DUDORE_BUILD:?run through ctest}" "${DUDORE_MKSFX:?}" "${DUDORE_STUB:?}" "${DUDORE_DRIVER:?}" "${DUDORE_WINE:?}"

E2E_WORK=$(mktemp -d "$DUDORE_BUILD/e2e.XXXXXX")
trap 'rm -rf "$E2E_WORK"' EXIT
cd "$E2E_WORK"
failures=0

# The Windows form of a Linux path: Wine maps / to drive Z:.
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

# Wine's own exit status keeps the low 8 bits of a Windows exit code: these are those of
# 1602 (cancelled or declined), 1603 (failed) and 1620 (no archive the stub can read).
LOW_CANCELLED=66 LOW_FAILED=67 LOW_BAD_ARCHIVE=84

# Runs a Windows program of the build under Wine; its exit code is ours.
wine_run() { "$DUDORE_WINE" "$@" </dev/null; }
driver() { "$DUDORE_WINE" "$DUDORE_DRIVER" "$@" </dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# Starts the program in the background; `wait_stub` waits for it and sets STUB_STATUS.
start_stub() { timeout 120 "$DUDORE_WINE" "$@" </dev/null >/dev/null 2>&1 & STUB_PID=$!; }
wait_stub() { STUB_STATUS=0; wait "$STUB_PID" || STUB_STATUS=$?; }

# mksfx with the stub under test: the image of the build that runs the script.
make_sfx() { "$DUDORE_MKSFX" --stub "$DUDORE_STUB" "$@"; }

pass() { printf 'ok   %s\n' "$*"; }
fail() { printf 'FAIL %s\n' "$*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
not() { ! "$@"; }
expect_eq() { if [ "$2" == "$3" ]; then pass "$1"; else fail "$1: expected [$3], got [$2]"; fi; }

# Ends the script: non-zero when any check failed.
finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
  echo "all checks passed"
}

MKZIP="$DUDORE_SOURCE/tests/e2e/mkzip.py"

# Runs the program to its end with a time limit; prints its exit code (124: it hung,
# typically on a window nobody answered).
run_to_end() { local status=0; timeout 60 "$DUDORE_WINE" "$@" </dev/null >/dev/null 2>&1 || status=$?; echo "$status"; }

# Runs program $1 with the command-line tail $2 exactly as written: from a batch file,
# since Wine would quote and escape each argument of its own.
run_tail() {
  local status=0
  printf '@"%s" %s\r\n@exit %%ERRORLEVEL%%\r\n' "$(winpath "$1")" "$2" > run_tail.bat
  timeout 60 "$DUDORE_WINE" cmd /c "$(winpath run_tail.bat)" </dev/null >/dev/null 2>&1 || status=$?
  echo "$status"
}

# The same, printing the program's whole Windows exit code: Wine's own status keeps only
# its low 8 bits (1602 would read 66).
run_code() {
  printf '@"%s" %s\r\n@echo code=%%ERRORLEVEL%%\r\n' "$(winpath "$1")" "$2" > run_code.bat
  timeout 60 "$DUDORE_WINE" cmd /c "$(winpath run_code.bat)" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^code=//p'
}

# The stub extracted into `dest`: the same files, bytes and folders as `unzip` gives.
same_tree() {
  local ours=$1 reference=$2
  diff <(cd "$ours" && find . -mindepth 1 -printf '%y %p\n' | sort) \
       <(cd "$reference" && find . -mindepth 1 -printf '%y %p\n' | sort) >/dev/null &&
  diff -r "$ours" "$reference" >/dev/null
}

# Explorer was opened on a folder of this name: its window appeared.
explorer_window() { driver wait "$1" "${2:-5}"; }

# Closes Explorer windows titled $1 and waits until no explorer process of ours is left.
close_explorer() {
  driver close "$1" || true
  driver wait-gone "$1" 10 || true
  for _ in $(seq 50); do pgrep -f "^explorer Z:" >/dev/null || return 0; sleep 0.2; done
  return 1
}

# Changes the entry named $2 inside file $3 (an archive or a self-extracting file, whose
# stub holds no record signature): `crc VALUE`, `size VALUE` or `csize VALUE` (compressed)
# sets that field of its local and central records; `flip` inverts a byte of its data.
patch_entry() {
  python3 - "$@" <<'PY'
import struct, sys
name, path, what = sys.argv[1].encode(), sys.argv[2], sys.argv[3]
data = bytearray(open(path, "rb").read())
def records(signature, name_at, name_length_at):
    at = data.find(signature)
    while at >= 0:
        length = struct.unpack_from("<H", data, at + name_length_at)[0]
        if data[at + name_at:at + name_at + length] == name:
            yield at
        at = data.find(signature, at + 4)
for local in records(b"PK\x03\x04", 30, 26):
    if what == "flip":
        extra = struct.unpack_from("<H", data, local + 28)[0]
        data[local + 30 + len(name) + extra + 2] ^= 0x55
    else:
        struct.pack_into("<I", data, local + {"crc": 14, "size": 22, "csize": 18}[what], int(sys.argv[4], 0))
for central in records(b"PK\x01\x02", 46, 28):
    if what != "flip":
        struct.pack_into("<I", data, central + {"crc": 16, "size": 24, "csize": 20}[what], int(sys.argv[4], 0))
open(path, "wb").write(data)
PY
}
