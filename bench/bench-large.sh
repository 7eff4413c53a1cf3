#!/usr/bin/env bash
# Large archives: mixed data of 1 GiB and 5 GiB (the benchmark's 100 MB set, copied under
# new names), zip -6, extracted by the 32-bit stub under Wine (headless: the null driver)
# and natively by unzip and 7z x, one after the other on the same archive. Prints wall time
# and peak resident memory; the stub's memory must not grow with the archive.
#   DUDORE_BENCH_LARGE=1 bench/bench-large.sh BUILD_DIR     (BUILD_DIR: a native build)
# Minutes of work and about 15 GB of disk, so it runs only when asked.
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
if [ -z "${DUDORE_BENCH_LARGE:-}" ]; then
  echo "skipped: set DUDORE_BENCH_LARGE=1 to extract 1 GiB and 5 GiB archives (minutes, 15 GB of disk)"
  exit 0
fi
stub=$root/build/win32/dudore-stub32.exe
[ -f "$stub" ] || { echo "skipped: no $stub (cmake --build --preset win32)"; exit 0; }
work="$build/bench-large"
rm -rf "$work" && mkdir -p "$work"
prefix=$root/build/wineprefix
"$root/scripts/wine-prefix.sh" "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

python3 "$here/gen_mixed.py" "$work/base" 100
# Seconds and peak memory (MB) of a command, from GNU time, and whether it extracted every
# file ("!" marks a run that did not).
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
  local files; files=$(find "$work/out" -type f 2>/dev/null | wc -l)
  awk -v ok="$([ "$files" -eq "$expected" ] && echo " " || echo "!")" '{printf "%8.1f s %7.1f MB%s", $1, $2 / 1024, ok}' "$work/time"
  rm -rf "$work/out"
}

printf '%-8s %-10s %22s %22s %22s\n' size archive "stub (32-bit, Wine)" "unzip" "7z x"
for gib in 1 5; do
  copies=$((gib * 1024 / 100 + 1))
  rm -rf "$work/files" && mkdir "$work/files"
  for i in $(seq "$copies"); do cp -rl "$work/base" "$work/files/copy$i"; done
  (cd "$work/files" && zip -q -r -6 "$work/large.zip" .)
  expected=$(find "$work/files" -type f | wc -l)
  rm -rf "$work/files"
  "$build/mksfx" -o "$work/large.exe" --stub "$stub" -d "Z:${work//\//\\}\\out" --skip-dialog --overwrite \
    --no-explorer "$work/large.zip" >/dev/null || echo "mksfx refused the $gib GiB archive" >&2
  line=$(printf '%-8s %-10s' "$gib GiB" "$(($(stat -c %s "$work/large.zip") / 1048576)) MB")
  line+=$(measure wine "$work/large.exe")
  line+=$(measure unzip -o -qq "$work/large.zip" -d "$work/out")
  line+=$(measure 7z x -y -bd -bso0 -o"$work/out" "$work/large.zip")
  echo "$line"
  rm -f "$work/large.zip" "$work/large.exe"
done
wineserver -k 2>/dev/null || true
rm -rf "$work"
