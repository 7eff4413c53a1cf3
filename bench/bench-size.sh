#!/usr/bin/env bash
# Size check: the shipped 32-bit stub image and each of its sections (file bytes, and the
# bytes in use behind them), against the ceiling of 40,960 bytes and the stretch goal of
# 32,768. Every self-extracting file carries the image, so every file block counts; what
# distributors need and what keeps users safe comes first.
# Fails when the image is over the ceiling.
#   bench/bench-size.sh [BUILD_DIR]   (the image comes from build/win32 unless DUDORE_STUB says)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
stub=${DUDORE_STUB:-$(dirname "$here")/build/win32/dudore-stub32.exe}
if [ ! -f "$stub" ]; then
  echo "skipped: no stub image at $stub (build the win32 preset, or set DUDORE_STUB)"
  exit 0
fi
python3 - "$stub" <<'PY'
import struct
import sys

CEILING, STRETCH = 40960, 32768
path = sys.argv[1]
image = open(path, "rb").read()
pe, = struct.unpack_from("<I", image, 0x3C)
count, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
headers, = struct.unpack_from("<I", image, pe + 24 + 60)
table = pe + 24 + optional_size
print(f"{path}: {len(image):,} bytes")
print(f"  {'headers':10} {headers:7,} file bytes")
for i in range(count):
    entry = table + 40 * i
    name = image[entry:entry + 8].rstrip(b"\0").decode()
    virtual_size, _, raw_size = struct.unpack_from("<III", image, entry + 8)
    used = min(virtual_size, raw_size)
    print(f"  {name:10} {raw_size:7,} file bytes, {used:7,} in use" if raw_size else
          f"  {name:10} {0:7,} file bytes ({virtual_size:,} in memory only)")
for label, limit in (("ceiling", CEILING), ("stretch goal", STRETCH)):
    margin = limit - len(image)
    print(f"  {label} {limit:,}: " + (f"met, {margin:,} bytes to spare" if margin >= 0 else f"{-margin:,} bytes over"))
sys.exit(0 if len(image) <= CEILING else 1)
PY
