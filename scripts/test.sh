#!/usr/bin/env bash
# Runs every test: native (sanitizers), fuzzing for a bounded time, and the Windows suites
# and end-to-end scripts under Wine (Xvfb for windows): all of them against the shipped
# 32-bit stub, and the 64-bit build's suites with the end-to-end scripts where its image
# differs.
#   DUDORE_FUZZ_SECONDS  seconds per fuzz target (default 40; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh
jobs=$(nproc)
fuzz_seconds=${DUDORE_FUZZ_SECONDS:-40}
prefix=$root/build/wineprefix

step() { printf '\n=== %s\n' "$*"; }

step "build: win32 (the shipped stub and its tests), win64, native with sanitizers"
for preset in win32 win64; do
  cmake --preset $preset -DDUDORE_NATIVE_BUILD="$root/build/native-asan" >/dev/null
  cmake --build --preset $preset -j "$jobs"
done
cmake --preset native -B build/native-asan -DDUDORE_SANITIZE=ON -DDUDORE_BENCH=OFF >/dev/null
cmake --build build/native-asan -j "$jobs"

# The release checked here is the one the end-to-end scripts unpack and use.
step "reproducible images: the release built twice in fresh folders, compared byte for byte"
rm -rf build/release-checked
scripts/reproduce.sh build/release-checked
DUDORE_RELEASE_ZIP=$(echo "$root"/build/release-checked/dudore-*-windows.zip)
export DUDORE_RELEASE_ZIP

# The probe: a 32-bit program that must run. A machine whose kernel refuses 32-bit code
# still runs everything else, and says loudly what it did not run.
step "probe: does this machine run 32-bit Windows programs?"
scripts/wine-prefix.sh "$prefix"
skipped32=""
bits=0
"$root/build/win32/wine-run" "$root/build/win32/bits_probe.exe" </dev/null >/dev/null 2>&1 || bits=$?
if [ "$bits" -eq 32 ]; then
  echo "yes: the 32-bit suites run against the shipped stub"
else
  skipped32="the 32-bit probe did not run (exit code $bits; is wine32:i386 installed, does the kernel run 32-bit code?)"
  echo "!!!!!!!! 32-BIT SUITES SKIPPED: $skipped32 !!!!!!!!"
fi

step "native tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
export DUDORE_STUB_IMAGES="$root/build/win32/dudore-stub32.exe:$root/build/win64/dudore-stub64.exe"
ctest --test-dir build/native-asan -j "$jobs" --output-on-failure

if [ "$fuzz_seconds" -gt 0 ]; then
  step "fuzzing, ${fuzz_seconds}s per target"
  for target in build/native-asan/fuzz_*; do
    name=$(basename "$target")
    corpus=$(mktemp -d)
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
    echo "--- $name"
    log="$corpus.log"
    if ! "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=1 "$corpus" >"$log" 2>&1; then
      tail -n 60 "$log"
      exit 1
    fi
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
    rm -f "$log"
    rm -rf "$corpus"
  done
fi

# Without the 32-bit side, the 64-bit build runs every end-to-end script instead of its share.
step "Windows tests under Wine${skipped32:+ (64-bit only)}"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  export WINEPREFIX="$1" WINEDEBUG=-all
  wineserver -p </dev/null >/dev/null 2>&1
  "$2/build/win64/wine-run" cmd /c exit </dev/null >/dev/null 2>&1
  status=0
  if [ -z "$3" ]; then
    echo "--- 32-bit build: every suite and every end-to-end script, the shipped stub"
    ctest --test-dir "$2/build/win32" -j 2 --output-on-failure || status=$?
    echo "--- 64-bit build: every suite, the end-to-end scripts where its image differs"
    ctest --test-dir "$2/build/win64" -j 2 --output-on-failure -LE e2e-full || status=$?
  else
    ctest --test-dir "$2/build/win64" -j 2 --output-on-failure || status=$?
  fi
  wineserver -k || true
  exit $status' _ "$prefix" "$root" "$skipped32"
if [ -n "$skipped32" ]; then
  step "native and 64-bit tests passed; the 32-BIT SUITES WERE SKIPPED: $skipped32"
else
  step "all tests passed (native, 32-bit and 64-bit)"
fi
