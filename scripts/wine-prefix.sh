#!/usr/bin/env bash
# Makes the Wine prefix that the tests run in (idempotent): a 64-bit prefix that runs 32-bit
# and 64-bit programs alike, no Mono/Gecko prompts, windows on X when DISPLAY is set and on
# the null driver otherwise.
set -euo pipefail
prefix=$(realpath -m "${1:?usage: wine-prefix.sh PREFIX}")
# A prefix made before the 32-bit loader was installed lacks its 32-bit side: made again.
if [ -f "$prefix/.dudore-ready" ] && { [ -d "$prefix/drive_c/windows/syswow64" ] || [ ! -x /usr/lib/wine/wine ]; }; then
  exit 0
fi
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$prefix"
mkdir -p "$prefix"
wine wineboot -i >/dev/null 2>&1 || true
reg=$(mktemp --suffix=.reg)
cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="x11,null"
REG
wine reg import "$(wine winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1 || true
rm -f "$reg"
cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
wineserver -w || true
touch "$prefix/.dudore-ready"
