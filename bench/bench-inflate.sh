#!/usr/bin/env bash
# Inflate benchmark: a generated ~100 MB mixed archive (Info-ZIP zip -6, method 8) decoded
# by our reader + DecodeEntry and by Info-ZIP unzip -t and 7-Zip t; the same raw streams
# by our Inflate, zlib and libdeflate; the same files as Deflate64 (7-Zip, method 9) by
# our Inflate and against unzip -t; peak memory for a 25 MB and a 100 MB archive. Ends
# with `result NAME VALUE` lines for bench/run.sh.
#   bench/bench-inflate.sh BUILD_DIR      (BUILD_DIR: an optimised native build)
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work="$build/bench-inflate"
data=$(dirname "$build")/bench-data  # shared by the 64-bit and the 32-bit build
runs=${DUDORE_BENCH_RUNS:-7}
mkdir -p "$work" "$data"

# Archives, made once (deterministic contents).
for size in 25 100; do
  archive="$data/mixed$size.zip"
  deflate64="$data/mixed$size-deflate64.zip"
  if [ ! -s "$archive" ] || [ ! -s "$deflate64" ]; then
    rm -rf "$work/files$size" "$archive" "$deflate64"
    python3 "$here/gen_mixed.py" "$work/files$size" "$size"
    (cd "$work/files$size" && zip -q -X -6 "$archive" ./* && 7z a -bd -bso0 -tzip -mm=Deflate64 -mx=5 "$deflate64" ./*)
    rm -rf "$work/files$size"
  fi
done
archive="$data/mixed100.zip"
deflate64="$data/mixed100-deflate64.zip"

# Median wall-clock seconds of a command.
median_seconds() {
  if command -v hyperfine >/dev/null; then
    local json="$work/hyperfine.json"
    hyperfine --style none --warmup 1 --runs "$runs" --export-json "$json" "$1" >/dev/null 2>&1
    python3 -c 'import json,sys; print("%.3f" % json.load(open(sys.argv[1]))["results"][0]["median"])' "$json"
  else
    local times=()
    for _ in $(seq "$runs"); do
      local start end
      start=$(date +%s.%N)
      bash -c "$1" >/dev/null
      end=$(date +%s.%N)
      times+=("$(echo "$end - $start" | bc)")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.3f\n", a[int((NR+1)/2)]}'
  fi
}

echo "archive: $archive ($(stat -c %s "$archive") bytes), median of $runs runs"
"$build/bench/bench_inflate" --runs "$runs" "$archive" "$deflate64" | tee "$work/inflate.txt"
"$build/bench/bench_extract" --runs "$runs" "$archive" | tee "$work/extract.txt"
"$build/bench/bench_extract" --runs "$runs" "$deflate64" | tee "$work/extract64.txt"
extract25=$("$build/bench/bench_extract" --runs 1 "$data/mixed25.zip" | awk '/^peak memory/ {print $3}')

column() { awk -F'  +' -v row="$2" '$1 == row {print $(NF-2)}' "$work/$1"; }
ours_raw=$(column inflate.txt "ours (Inflate + sink CRC + write)")
zlib=$(column inflate.txt "zlib inflate")
zlib_crc=$(column inflate.txt "zlib inflate + the same CRC")
libdeflate=$(column inflate.txt "libdeflate")
ours_extract=$(awk '$1 == "total" {print $3}' "$work/extract.txt")
peak100=$(awk '/^peak memory/ {print $3}' "$work/extract.txt")
unzip_t=$(median_seconds "unzip -tqq '$archive'")
sevenzip_t=$(median_seconds "7z t -bd -bso0 '$archive'")
ours64=$(awk '$1 == "total" {print $3}' "$work/extract64.txt")
unzip64_t=$(median_seconds "unzip -tqq '$deflate64'")

ratio() { python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$1" "$2"; }
printf '\n%-46s %9s %22s\n' "what (same archive / same raw streams)" "seconds" "ours time / its time"
printf '%-46s %9s %22s\n' "ours: reader + DecodeEntry, CRC checked" "$ours_extract" ""
printf '%-46s %9s %22s\n' "Info-ZIP unzip -tqq" "$unzip_t" "$(ratio "$ours_extract" "$unzip_t")"
printf '%-46s %9s %22s\n' "7-Zip 7z t" "$sevenzip_t" "$(ratio "$ours_extract" "$sevenzip_t")"
printf '%-46s %9s %22s\n' "ours: Inflate on the raw streams (with CRC)" "$ours_raw" ""
printf '%-46s %9s %22s\n' "zlib inflate" "$zlib" "$(ratio "$ours_raw" "$zlib")"
printf '%-46s %9s %22s\n' "zlib inflate + the same CRC" "$zlib_crc" "$(ratio "$ours_raw" "$zlib_crc")"
printf '%-46s %9s %22s\n' "libdeflate" "$libdeflate" "$(ratio "$ours_raw" "$libdeflate")"
printf '%-46s %9s %22s\n' "Deflate64 archive: ours, reader + DecodeEntry" "$ours64" ""
printf '%-46s %9s %22s\n' "Deflate64 archive: Info-ZIP unzip -tqq" "$unzip64_t" "$(ratio "$ours64" "$unzip64_t")"
printf '\npeak memory of bench_extract: %s KiB for the 25 MB archive, %s KiB for the 100 MB one\n' "$extract25" "$peak100"
printf 'result extract %s\nresult unzip_t %s\nresult sevenzip_t %s\n' "$ours_extract" "$unzip_t" "$sevenzip_t"
