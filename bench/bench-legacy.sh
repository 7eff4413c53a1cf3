#!/usr/bin/env bash
# Shrink, reduce and implode benchmark: one archive per method and variant (about 7 MB
# of text, a repeated program and mixed data each), made by the test encoders, decoded
# by our reader + DecodeEntry (bench_extract) and by Info-ZIP unzip -t. Debian's unzip
# is built without reduce, so methods 2 to 5 have no unzip figure.
#   bench/bench-legacy.sh BUILD_DIR      (BUILD_DIR: an optimised native build)
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
peers="$here/../tests/data/peer-archives"
work="$build/bench-legacy"
runs=${DUDORE_BENCH_RUNS:-7}
mkdir -p "$work"

archives=(shrink.zip reduce1.zip reduce2.zip reduce3.zip reduce4.zip implode-4k-2trees.zip
  implode-8k-2trees.zip implode-4k-3trees.zip implode-8k-3trees.zip)
for a in "${archives[@]}"; do
  if [ ! -s "$work/$a" ]; then
    "$build/bench/bench_legacy" archives "$work" "$peers" >/dev/null
    break
  fi
done

# Median wall-clock seconds of a command.
median_seconds() {
  local times=()
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N)
    bash -c "$1" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.4f\n", a[int((NR+1)/2)]}'
}

paths=()
for a in "${archives[@]}"; do paths+=("$work/$a"); done
"$build/bench/bench_extract" --runs "$runs" "${paths[@]}" >"$work/extract.txt"

printf 'median of %s runs; MB = 10^6 bytes of output\n\n' "$runs"
printf '%-24s %10s %12s %12s %10s\n' "archive" "bytes out" "ours MB/s" "unzip MB/s" "ours/unzip"
for a in "${archives[@]}"; do
  read -r bytes ours < <(awk -v p="$work/$a" '$1 == p {print $3, $5}' "$work/extract.txt")
  if [[ $a == reduce* ]]; then
    printf '%-24s %10s %12s %12s %10s\n' "$a" "$bytes" "$ours" "n/a" "(no reduce in unzip)"
    continue
  fi
  if ! unzip -tqq "$work/$a" >/dev/null 2>&1; then
    echo "unzip -t fails on $work/$a" >&2
    exit 1
  fi
  seconds=$(median_seconds "unzip -tqq '$work/$a'")
  theirs=$(python3 -c "import sys; print('%.1f' % (int(sys.argv[1]) / float(sys.argv[2]) / 1e6))" "$bytes" "$seconds")
  ratio=$(python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$ours" "$theirs")
  printf '%-24s %10s %12s %12s %10s\n' "$a" "$bytes" "$ours" "$theirs" "$ratio"
done
