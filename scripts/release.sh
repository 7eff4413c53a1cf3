#!/usr/bin/env bash
# Makes the release archive dudore-VERSION-windows.zip: mksfx.exe (32-bit, so it runs on
# every Windows) with both stubs beside it, the README, the license, the third-party
# notices and SHA256SUMS. The images are built afresh in OUTDIR, stamped with
# SOURCE_DATE_EPOCH or else the commit's time, and the archive's entries carry that time
# too: the same commit gives the same bytes on any machine with the same Debian packages.
#   usage: scripts/release.sh [OUTDIR]     (default build/release; DUDORE_JOBS: build jobs)
set -euo pipefail
out=${1:+$(realpath -m "$1")}
cd "$(dirname "$0")/.."
out=${out:-$PWD/build/release}
jobs=${DUDORE_JOBS:-$(nproc)}

# The archive's entries take the images' time, from the same places as the build takes it
# (cmake/Windows.cmake), which works it out on its own.
epoch=${SOURCE_DATE_EPOCH:-}
if [ -z "$epoch" ] && ! epoch=$(git log -1 --format=%ct 2>/dev/null); then
  echo "release.sh: not a git checkout: set SOURCE_DATE_EPOCH to the release's time" >&2
  exit 1
fi

# Fresh build folders: a reused one would keep the time stamp it was configured with.
for bits in 32 64; do
  rm -rf "$out/win$bits"
  cmake --preset "win$bits" -B "$out/win$bits" >/dev/null
done
cmake --build "$out/win32" -j "$jobs" --target dudore-stub32 mksfx
cmake --build "$out/win64" -j "$jobs" --target dudore-stub64

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/win32/CMakeCache.txt")
name=dudore-$version-windows
stage=$out/$name
rm -rf "$stage" "$stage.zip"
mkdir -p "$stage"
files=(mksfx.exe dudore-stub32.exe dudore-stub64.exe README.md LICENSE THIRD-PARTY.md)
cp "$out/win32/mksfx.exe" "$out/win32/dudore-stub32.exe" "$out/win64/dudore-stub64.exe" \
   README.md LICENSE THIRD-PARTY.md "$stage/"
(cd "$stage" && sha256sum "${files[@]}" > SHA256SUMS)
files+=(SHA256SUMS)

# Entries in a fixed order, with fixed modes and times, and no owner or extra fields.
(cd "$stage" && chmod 644 "${files[@]}" && touch -d "@$epoch" "${files[@]}" &&
  TZ=UTC zip -q -X "$stage.zip" "${files[@]}")
echo "$stage.zip:"
cat "$stage/SHA256SUMS"
(cd "$out" && sha256sum "$name.zip")
