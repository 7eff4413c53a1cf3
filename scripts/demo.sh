#!/usr/bin/env bash
# The main job: builds the native mksfx and the shipped 32-bit stub, packs samples/hello
# into a ZIP, makes a self-extracting file from it with mksfx, runs it under Wine (the
# 32-bit loader, as users get it) and shows what it extracted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh
jobs=$(nproc)

echo "=== building (native mksfx, the 32-bit stub)"
cmake --preset native >/dev/null && cmake --build --preset native -j "$jobs" --target mksfx >/dev/null
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j "$jobs" --target dudore-stub32

demo=$root/build/demo
rm -rf "$demo" && mkdir -p "$demo"
(cd samples/hello && zip -q -r -X "$demo/hello.zip" .)

echo "=== mksfx"
out_windows="Z:${demo//\//\\}\\extracted"
build/native/mksfx -o "$demo/hello.exe" --stub build/win32/dudore-stub32.exe \
  -d "$out_windows" --skip-dialog --overwrite --no-explorer --crc "$demo/hello.zip"
echo
build/native/mksfx --show "$demo/hello.exe"

echo
echo "=== running hello.exe (32-bit) under Wine (headless)"
prefix=$root/build/wineprefix
scripts/wine-prefix.sh "$prefix"
status=0
WINEPREFIX=$prefix timeout 120 build/win32/wine-run "$demo/hello.exe" </dev/null || status=$?
echo "exit code: $status"
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true

echo
echo "=== extracted into $demo/extracted"
(cd "$demo/extracted" && find . -type f -printf '%10s  %TY-%Tm-%Td %TH:%TM  %p\n' | sort -k4)
if diff -r samples/hello "$demo/extracted" >/dev/null; then
  echo "identical to samples/hello"
else
  echo "DIFFERENT from samples/hello" >&2
  exit 1
fi
