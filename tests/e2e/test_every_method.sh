#!/usr/bin/env bash
# One self-extracting file holding an entry of every method: stored, shrunk, reduced with
# factors 1 to 4, imploded in its four variants, deflated, Deflate64, and encrypted ones of
# each. The password is typed once; every file must come out byte for byte, the shrunk one
# of 6 MiB too (its decoder hands out every code's bytes on their own) within the time limit.
source "$(dirname "$0")/lib.sh"
password=secret

mkdir -p reference/stored reference/deflate reference/deflate64 parts
"$DUDORE_NATIVE_BUILD/e2e_every_method" parts/legacy.zip "$password" reference
head -c 90000 /dev/urandom > reference/stored/random.bin
python3 - <<'PY'
import random
random.seed(5)
words = "alpha beta gamma delta epsilon zeta eta theta iota kappa".split()
text = "\n".join(" ".join(random.choice(words) for _ in range(12)) for _ in range(6000)).encode()
period = bytes(random.getrandbits(8) for _ in range(40000))
for folder in ("deflate", "deflate64"):
    open(f"reference/{folder}/text.txt", "wb").write(text)
    # A long period: Deflate64 matches reach past 32 KiB.
    open(f"reference/{folder}/period.bin", "wb").write(period * 6)
PY
(cd reference && zip -q -X -0 ../parts/stored.zip stored/random.bin)
(cd reference && zip -q -X -9 ../parts/deflate.zip deflate/text.txt)
(cd reference && zip -q -X -9 -P "$password" ../parts/deflate-enc.zip deflate/period.bin)
(cd reference && 7z a -bd -bso0 -tzip -mm=Deflate64 ../parts/deflate64.zip deflate64/text.txt)
(cd reference && 7z a -bd -bso0 -tzip -mm=Deflate64 -mem=ZipCrypto -p"$password" ../parts/deflate64-enc.zip deflate64/period.bin)
python3 "$DUDORE_SOURCE/tests/e2e/mergezip.py" every.zip parts/legacy.zip parts/stored.zip parts/deflate.zip \
  parts/deflate-enc.zip parts/deflate64.zip parts/deflate64-enc.zip
expect_eq "the archive holds every method" \
  "$(python3 -c 'import zipfile,sys; print(sorted({i.compress_type for i in zipfile.ZipFile(sys.argv[1]).infolist()}))' every.zip)" \
  "[0, 1, 2, 3, 4, 5, 6, 8, 9]"

make_sfx -o every.exe -d "$(winpath out)" --skip-dialog --overwrite --no-explorer -p "$password" every.zip >/dev/null
start_stub every.exe
check "the password is asked for" driver wait "Password needed"
driver set-text "Password needed" 1004 "$password"
driver click "Password needed" 1
wait_stub
expect_eq "exit code" "$STUB_STATUS" 0
check "every entry byte for byte" same_tree out reference
check "the password was asked for once" not driver wait "Password needed" 1

finish
