#!/usr/bin/env bash
# Checks that the shipped images are reproducible: builds the release (scripts/release.sh,
# and the 64-bit mksfx.exe beside it) twice from this source tree as it is, in two fresh
# copies whose folders have different names (one with a blank), one after the other, and
# compares every shipped file byte for byte. Fails naming each file that differs.
#   usage: scripts/reproduce.sh [KEEP]     KEEP: where to leave the first build's release
set -euo pipefail
keep=${1:+$(realpath -m "$1")}
cd "$(dirname "$0")/.."
jobs=${DUDORE_JOBS:-$(nproc)}
work=$(mktemp -d "${TMPDIR:-/tmp}/dudore-reproduce.XXXXXX")
trap 'rm -rf "$work"' EXIT
head=$(git rev-parse HEAD)

# A clone of the commit (so the build finds the commit's time itself), with this tree's
# changes on top: its tracked and new files as they are, without what is ignored (build
# folders), and without the files it deleted.
copy_tree() {
  git clone -q --shared --no-checkout . "$1"
  git -C "$1" checkout -q --detach "$head"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do if [ -e "$file" ]; then printf '%s\0' "$file"; fi; done |
    tar --null -T - -cf - | tar -xf - -C "$1"
  git ls-files -z --deleted | (cd "$1" && xargs -0 -r rm -f --)
}

build() {
  local tree=$1 log=$work/build.log
  copy_tree "$tree"
  echo "building in '$tree'"
  if ! (cd "$tree" && scripts/release.sh && cmake --build build/release/win64 -j "$jobs" --target mksfx) >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "reproduce.sh: the build in '$tree' failed" >&2
    exit 1
  fi
}

# What ships, relative to a tree's build/release: the archive, its files, the 64-bit mksfx.
shipped() { (cd "$1/build/release" && find dudore-*-windows.zip dudore-*-windows win64/mksfx.exe -type f | sort); }

first="$work/dudore one"
second="$work/dudore-second-build"
build "$first"
sleep 2  # a time stamp left in would now differ
build "$second"

differ=0
if ! diff <(shipped "$first") <(shipped "$second"); then
  echo "the two builds ship different files"
  differ=1
fi
while IFS= read -r file; do
  if ! cmp -s "$first/build/release/$file" "$second/build/release/$file"; then
    echo "differs: $file"
    differ=1
  fi
done < <(shipped "$first")
if [ -n "$keep" ]; then
  mkdir -p "$keep"
  cp -r "$first/build/release/"dudore-*-windows* "$keep/"
fi
if [ "$differ" -ne 0 ]; then
  echo "reproduce.sh: the two builds differ" >&2
  exit 1
fi
(cd "$first/build/release" && cat dudore-*-windows/SHA256SUMS && sha256sum dudore-*-windows.zip win64/mksfx.exe)
echo "the same bytes from both builds of $head${SOURCE_DATE_EPOCH:+ (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)}"
