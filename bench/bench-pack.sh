#!/usr/bin/env bash
# Packing benchmark: the archive mksfx writes from the generated mixed files (zlib
# Deflate, stored where that is smaller) against Info-ZIP zip -9 and 7-Zip's ZIP at -mx=9,
# by compressed size, with the seconds each took.
#   bench/bench-pack.sh BUILD_DIR      (BUILD_DIR: an optimised native build; the stub
#                                       comes from build/win32 unless DUDORE_STUB says)
#   DUDORE_BENCH_PACK_MB  size of the generated files (default 100)
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
stub=${DUDORE_STUB:-$here/../build/win32/dudore-stub32.exe}
megabytes=${DUDORE_BENCH_PACK_MB:-100}
work="$build/bench-pack"
files="$work/files$megabytes"
if [ ! -f "$stub" ]; then
  echo "skipped: no stub image at $stub (build the win32 preset, or set DUDORE_STUB)"
  exit 0
fi
mkdir -p "$work"
[ -d "$files" ] || python3 "$here/gen_mixed.py" "$files" "$megabytes"
input=$(du -sb "$files" | cut -f1)

# Runs the command; prints its seconds.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
archive_of_sfx() { echo $(($(stat -c %s "$1") - $(stat -c %s "$stub") - 512)); }

rm -f "$work"/*.zip "$work"/*.exe
printf 'input: %s bytes in %s files\n\n' "$input" "$(find "$files" -type f | wc -l)"
printf '%-40s %12s %8s %9s\n' "packer" "bytes" "ratio" "seconds"
row() { printf '%-40s %12s %8s %9.2f\n' "$1" "$2" "$(python3 -c "print('%.4f' % ($2 / $input))")" "$3"; }
for level in 6 9; do
  t=$(seconds "$build/mksfx" --stub "$stub" -l $level -o "$work/mksfx$level.exe" "$files/")
  row "mksfx -l $level (archive behind the block)" "$(archive_of_sfx "$work/mksfx$level.exe")" "$t"
done
t=$(seconds bash -c "cd '$files' && zip -q -r -X -9 '$work/zip9.zip' .")
row "Info-ZIP zip -9" "$(stat -c %s "$work/zip9.zip")" "$t"
t=$(seconds bash -c "cd '$files' && 7z a -bd -bso0 -tzip -mx=9 '$work/7z9.zip' .")
row "7-Zip 7z a -tzip -mx=9" "$(stat -c %s "$work/7z9.zip")" "$t"
