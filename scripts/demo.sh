#!/usr/bin/env bash
# The main job: builds everything, packs samples/hello into a ZIP, makes self-extracting
# files from it with mksfx (the shipped 32-bit stub, and the 64-bit one that can run
# here), runs the 64-bit one under Wine and shows what it extracted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh
jobs=$(nproc)

echo "=== building (native mksfx, 32-bit and 64-bit stubs)"
cmake --preset native >/dev/null && cmake --build --preset native -j "$jobs" --target mksfx >/dev/null
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j "$jobs" --target dudore-stub32
cmake --preset win64 >/dev/null && cmake --build --preset win64 -j "$jobs" --target dudore-stub64

demo=$root/build/demo
rm -rf "$demo" && mkdir -p "$demo"
(cd samples/hello && zip -q -r -X "$demo/hello.zip" .)

echo "=== mksfx"
build/native/mksfx -o "$demo/hello32.exe" --stub build/win32/dudore-stub32.exe \
  -d '%Desktop%\hello' --skip-dialog --overwrite --crc "$demo/hello.zip"
out_windows="Z:${demo//\//\\}\\extracted"
build/native/mksfx -o "$demo/hello64.exe" --stub build/win64/dudore-stub64.exe \
  -d "$out_windows" --skip-dialog --overwrite --no-explorer --crc "$demo/hello.zip"
echo
build/native/mksfx --show "$demo/hello64.exe"

echo
echo "=== running hello64.exe under Wine (headless)"
prefix=$root/build/win64/wineprefix
scripts/wine-prefix.sh "$prefix"
WINEPREFIX=$prefix timeout 120 build/win64/wine-run "$demo/hello64.exe" </dev/null
echo "exit code: $?"
WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true

echo
echo "=== extracted into $demo/extracted"
(cd "$demo/extracted" && find . -type f -printf '%10s  %TY-%Tm-%Td %TH:%TM  %p\n' | sort -k4)
if diff -r samples/hello "$demo/extracted" >/dev/null; then
  echo "identical to samples/hello"
else
  echo "DIFFERENT from samples/hello" >&2
  exit 1
fi
