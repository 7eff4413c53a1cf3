#!/usr/bin/env bash
# CRC-32 throughput beside zlib. $1: the native build directory (optimised build).
set -euo pipefail
"$1/bench/bench_crc" "${DUDORE_BENCH_RUNS:-7}"
