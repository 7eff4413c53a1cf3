#!/usr/bin/env bash
# Renders every dialog of the stub in English and in Japanese to PNG pictures for a
# person to look at: build/dialogs/<dialog id>-<en|ja>.png (10 pictures).
#
#   scripts/render-dialogs.sh [BUILD-DIR]     BUILD-DIR: a win64 build (default build/win64)
#   DUDORE_RENDER_DPI=144 scripts/render-dialogs.sh   at another DPI (LogPixels; default 96),
#                                                     into build/dialogs-144/
#
# The dialogs run under Xvfb inside a Wine virtual desktop, so that they get caption bars,
# in a prefix of their own (build/dialogs/wineprefix). Japanese runs with LC_ALL=ja_JP.UTF-8.
# Each picture shows the template of that exact language, whatever the user interface
# language, filled with sample texts (an entry name, file details) as in real use.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build/win64}")
dpi=${DUDORE_RENDER_DPI:-96}
out=$root/build/dialogs${DUDORE_RENDER_DPI:+-$dpi}

scripts/deps.sh  # Xvfb, ImageMagick, Wine, the Japanese font and locale
[ -f "$build/CMakeCache.txt" ] || cmake --preset win64 -B "$build" >/dev/null
cmake --build "$build" -j2 --target dudore-stub64 render_dialogs >/dev/null

mkdir -p "$out"
prefix=$out/wineprefix
scripts/wine-prefix.sh "$prefix"
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
# Caption buttons draw their glyphs from Marlett; without it the close box shows "r".
cp -f /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
# A virtual desktop gives top-level windows their frames and caption bars without a
# window manager. The Japanese dialog font is drawn with IPA P Gothic, the proportional
# face closest to it. The file is UTF-16 so that the Japanese font name survives.
reg=$(mktemp --suffix=.reg)
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE <<REG; } >"$reg"
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="800x600"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"

[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:$(printf '%08x' "$dpi")
REG
"$wine" reg import "$("$wine" winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
rm -f "$reg"
/usr/lib/wine/wineserver -k 2>/dev/null || true  # registry changes count from the next server on

export DUDORE_RENDER_BUILD=$build DUDORE_RENDER_OUT=$out
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  wine=/usr/lib/wine/wine64
  stub=$(ls "$DUDORE_RENDER_BUILD"/dudore-stub64.exe)
  status=0
  for language in en ja; do
    case $language in
      en) id=1033; locale=C.UTF-8 ;;
      ja) id=1041; locale=ja_JP.UTF-8 ;;
    esac
    /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
    for dialog in 103 204 1000 2007 2008; do
      picture=$DUDORE_RENDER_OUT/$dialog-$language.png
      stop=$(mktemp -u "$DUDORE_RENDER_OUT/stop.XXXXXX")
      log=$(mktemp)
      LC_ALL=$locale "$wine" "$DUDORE_RENDER_BUILD/render_dialogs.exe" "$("$wine" winepath -w "$stub")" \
        "$dialog" "$id" "$("$wine" winepath -w "$stop")" >"$log" 2>&1 &
      pid=$!
      for _ in $(seq 200); do grep -q "^rect" "$log" && break; kill -0 $pid 2>/dev/null || break; sleep 0.1; done
      if read -r _ left top right bottom < <(grep "^rect" "$log" | tr -d "\r"); then
        /usr/bin/import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$picture"
        echo "dialog $dialog ($language): $picture"
      else
        echo "dialog $dialog ($language): not shown" >&2
        cat "$log" >&2
        status=1
      fi
      touch "$stop"
      wait $pid || true
      rm -f "$stop" "$log"
    done
    /usr/lib/wine/wineserver -k 2>/dev/null || true
  done
  exit $status'
echo "pictures in $out"
