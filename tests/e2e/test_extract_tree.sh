#!/usr/bin/env bash
# A self-extracting file of stored entries gives the same tree as Info-ZIP unzip: bytes,
# names, folder entries, file times and read-only attributes; so does one mksfx packed.
source "$(dirname "$0")/lib.sh"
export TZ=UTC

mkdir -p src/docs/deep/deeper src/empty-folder src/bin
printf 'plain text\n' > src/readme.txt
: > src/empty.txt
head -c 70000 /dev/urandom > src/bin/random.bin        # more than one 64 KiB chunk
head -c 65536 /dev/urandom > src/bin/exactly64k.bin
printf 'deep\n' > src/docs/deep/deeper/note.txt
seq 1 20000 > src/docs/numbers.txt                      # deflated when mksfx packs it
printf 'read only\n' > src/docs/locked.txt
chmod a-w src/docs/locked.txt
touch -d '2001-02-03 04:05:06' src/readme.txt src/docs/locked.txt
touch -d '1999-12-31 23:59:58' src/bin/random.bin
(cd src && zip -q -r -0 -X ../tree.zip .)
mkdir reference && (cd reference && unzip -q ../tree.zip)

make_sfx -o tree.exe -d "$(winpath out)" --skip-dialog --overwrite --no-explorer tree.zip
expect_eq "exit code" "$(run_to_end tree.exe)" 0
check "same names, folders and bytes as unzip" same_tree out reference
times() { (cd "$1" && find . -type f -printf '%p %TY-%Tm-%Td %TH:%TM:%.2TS\n' | sort); }
check "same file times as unzip" diff <(times out) <(times reference)
writable() { (cd "$1" && find . -type f -writable | sort); }
check "same read-only files as unzip" diff <(writable out) <(writable reference)
check "no temporary file left" test -z "$(find out -name '~*')"

make_sfx -o packed.exe -d "$(winpath packed)" --skip-dialog --overwrite --no-explorer src/ >/dev/null
expect_eq "packed from the folder: exit code" "$(run_to_end packed.exe)" 0
check "packed from the folder: same names, folders and bytes" same_tree packed reference
check "packed from the folder: same file times" diff <(times packed) <(times reference)
check "packed from the folder: same read-only files" diff <(writable packed) <(writable reference)

# The build's own mksfx.exe packs the same bytes as the native one (one zlib release).
export SOURCE_DATE_EPOCH=1735689600
make_sfx -o native.exe src/ >/dev/null
wine_run "$DUDORE_BUILD/mksfx.exe" --stub "$(winpath "$DUDORE_STUB")" -o windows.exe 'src\' >/dev/null
check "mksfx.exe packs the same bytes as the native mksfx" cmp -s native.exe windows.exe

# The release archive, unpacked into a fresh folder: one version in its name, in mksfx.exe
# and in the stub's version resource; mksfx.exe takes the stub beside it by default and
# packs a sample that extracts as it was. Its programs are the 32-bit build's.
if [[ "$DUDORE_STUB" == *stub32.exe ]]; then
  release=${DUDORE_RELEASE_ZIP:-}
  if [ -z "$release" ]; then
    DUDORE_JOBS=2 "$DUDORE_SOURCE/scripts/release.sh" "$E2E_WORK/release" >/dev/null
    release=$(echo "$E2E_WORK"/release/dudore-*-windows.zip)
  fi
  mkdir "release kit" && (cd "release kit" && unzip -q "$release")
  check "release: every file as SHA256SUMS says" bash -c 'cd "release kit" && sha256sum --quiet -c SHA256SUMS'
  version=$(basename "$release" -windows.zip); version=${version#dudore-}
  expect_eq "release: mksfx.exe --version" "$(wine_run "release kit/mksfx.exe" --version | tr -d '\r')" "mksfx $version"
  expect_eq "release: the stub's FileVersion" "$(strings -el "release kit/dudore-stub32.exe" | grep -A1 -x FileVersion | tail -1)" "$version"
  wine_run "release kit/mksfx.exe" -o hello.exe -d "$(winpath hello)" --skip-dialog --overwrite --no-explorer \
    "$(winpath "$DUDORE_SOURCE/samples/hello")\\" >/dev/null
  check "release: mksfx.exe took the stub beside it" cmp -s -n "$(stat -c %s "release kit/dudore-stub32.exe")" "release kit/dudore-stub32.exe" hello.exe
  expect_eq "release: the sample extracts" "$(run_to_end hello.exe)" 0
  check "release: the sample as it was" same_tree hello "$DUDORE_SOURCE/samples/hello"
fi

# An entry of a little over 4 GiB and one behind it (ZIP64, a sparse archive appended to
# the stub with offsets from its own start): minutes of writing, DUDORE_LARGE_TESTS=1 only.
if [ -n "${DUDORE_LARGE_TESTS:-}" ]; then
  big=$((4 * 1024 * 1024 * 1024 + 100))
  python3 "$MKZIP" large.zip small =x big "hole:$big" after =y
  make_sfx -o head.exe -d "$(winpath large)" --skip-dialog --overwrite --no-explorer tree.zip
  head -c $(($(stat -c %s "$DUDORE_STUB") + 512)) head.exe > large.exe
  cat large.zip >> large.exe
  rm large.zip
  status=0
  timeout 900 "$DUDORE_WINE" large.exe </dev/null >/dev/null 2>&1 || status=$?
  expect_eq "over 4 GiB: exit code" "$status" 0
  expect_eq "over 4 GiB: its size" "$(stat -c %s large/big 2>/dev/null)" "$big"
  check "over 4 GiB: byte for byte" cmp -s -n "$big" large/big /dev/zero
  expect_eq "over 4 GiB: the entries around it" "$(cat large/small large/after)" "xy"
fi

finish
