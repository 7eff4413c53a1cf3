#!/usr/bin/env bash
# Runs every benchmark against optimised builds for 64-bit and 32-bit x86 (the native
# benchmarks, with zlib and libdeflate of the same width), the other bench/bench-*.sh
# scripts once, then the whole extraction with the 64-bit and the 32-bit stub under Wine,
# and ends with one table of the ratios side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh
jobs=$(nproc)
for preset in native native32; do
  cmake --preset $preset -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build --preset $preset -j "$jobs"
done
for bits in 32 64; do
  cmake --preset win$bits -DDUDORE_NATIVE_BUILD="$root/build/native" >/dev/null
  cmake --build --preset win$bits -j "$jobs" --target dudore-stub$bits
done

# Every script's `result NAME VALUE` lines, per width.
declare -A result
collect() {  # collect WIDTH: reads a script's output, shows it, keeps its results
  local line
  while IFS= read -r line; do
    if [[ $line == result\ * ]]; then
      read -r _ name value <<<"$line"
      result[$1.$name]=$value
    else
      printf '%s\n' "$line"
    fi
  done
}
for bits in 64 32; do
  build=build/native
  [ "$bits" = 32 ] && build=build/native32
  for script in bench/bench-crc.sh bench/bench-inflate.sh bench/bench-legacy.sh; do
    printf '\n=== %s (%s-bit)\n' "$script" "$bits"
    collect "$bits" < <(bash "$script" "$build")
  done
done
# The others measure tools or the stub, not our code at a width: once.
for script in bench/bench-*.sh; do
  case $script in bench/bench-crc.sh | bench/bench-inflate.sh | bench/bench-legacy.sh | bench/bench-stub.sh) continue ;; esac
  printf '\n=== %s\n' "$script"
  bash "$script" build/native
done
printf '\n=== bench/bench-stub.sh\n'
collect stub < <(bash bench/bench-stub.sh build/native build/bench-data/mixed100.zip build/win64/dudore-stub64.exe \
  build/win32/dudore-stub32.exe)
result[64.stub]=${result[stub.stub64]}
result[32.stub]=${result[stub.stub32]}
result[64.unzip_o]=${result[stub.unzip_o]}
result[32.unzip_o]=${result[stub.unzip_o]}

# One row: what, our key, the anchor's key, and whether the values are speeds (MB/s; the
# ratio is then still ours in time over its time).
row() {
  local what=$1 ours=$2 anchor=$3 speed=${4:-}
  printf '%-52s' "$what"
  for bits in 64 32; do
    local a=${result[$bits.$ours]:-} b=${result[$bits.$anchor]:-}
    if [ -z "$a" ] || [ -z "$b" ]; then
      printf ' %9s %9s %6s' - - -
      continue
    fi
    python3 -c "import sys; a, b = float(sys.argv[1]), float(sys.argv[2]); \
print(' %9s %9s %6.2f' % (sys.argv[1], sys.argv[2], b / a if sys.argv[3] else a / b), end='')" "$a" "$b" "$speed"
  done
  printf '\n'
}
printf '\n%-52s %26s %26s\n' "" "64-bit" "32-bit"
printf '%-52s %9s %9s %6s %9s %9s %6s\n' "ours against (seconds, or MB/s for the CRC)" ours it ratio ours it ratio
row "CRC-32, 4 KiB buffers: UpdateCrc / zlib crc32" crc_4k_ours crc_4k_zlib speed
row "CRC-32, 64 KiB buffers: UpdateCrc / zlib crc32" crc_64k_ours crc_64k_zlib speed
row "CRC-32, 16 MiB buffers: UpdateCrc / zlib crc32" crc_16384k_ours crc_16384k_zlib speed
row "Inflate + CRC, Deflate / zlib inflate" ours zlib
row "Inflate + CRC, Deflate / zlib inflate + the same CRC" ours zlib_crc
row "Inflate + CRC, Deflate / libdeflate" ours libdeflate
row "Inflate + CRC, Deflate / libdeflate + its CRC" ours libdeflate_crc
row "Inflate + CRC, Deflate64 / libdeflate + its CRC (*)" ours64 libdeflate_crc64
row "reader + DecodeEntry / Info-ZIP unzip -tqq" extract unzip_t
row "reader + DecodeEntry / 7-Zip 7z t" extract sevenzip_t
row "the stub under Wine, writing / unzip -o -qq" stub unzip_o
printf '%s\n' "ratio: our time over its time (below 1: ours is faster). The anchors of the native rows are" \
  "built for the same width; unzip and 7-Zip are the system's 64-bit programs in both columns." \
  "(*) libdeflate has no Deflate64: it decodes the Deflate streams of the same files."
