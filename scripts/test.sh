#!/usr/bin/env bash
# Runs every test: native (sanitizers), fuzzing for a bounded time, the 32-bit stub's
# layout check, and the Windows suites under Wine (Xvfb for windows).
#   DUDORE_FUZZ_SECONDS  seconds per fuzz target (default 40; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh
jobs=$(nproc)
fuzz_seconds=${DUDORE_FUZZ_SECONDS:-40}

step() { printf '\n=== %s\n' "$*"; }

step "build: win32 (the shipped stub), win64, native with sanitizers"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
cmake --preset win64 -DDUDORE_NATIVE_BUILD="$root/build/native-asan" >/dev/null
cmake --build --preset win64 -j "$jobs"
cmake --preset native -B build/native-asan -DDUDORE_SANITIZE=ON -DDUDORE_BENCH=OFF >/dev/null
cmake --build build/native-asan -j "$jobs"

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

step "Windows tests under Wine"
scripts/wine-prefix.sh "$root/build/win64/wineprefix"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  export WINEPREFIX="$1/build/win64/wineprefix" WINEDEBUG=-all
  /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  "$1/build/win64/wine-run" cmd /c exit </dev/null >/dev/null 2>&1
  status=0
  ctest --test-dir "$1/build/win64" -j 2 --output-on-failure || status=$?
  /usr/lib/wine/wineserver -k || true
  exit $status' _ "$root"
step "all tests passed"
