#!/usr/bin/env bash
# Whole extraction as a user runs it: the mixed archive as a self-extracting file (mksfx)
# with each stub given, run under Wine with its Progress window drawn on Xvfb, writing
# every file; against Info-ZIP unzip -o -qq writing the same files natively. Ends with
# `result stub<BITS> SECONDS` and `result unzip_o SECONDS` lines for bench/run.sh.
#   bench/bench-stub.sh NATIVE_BUILD ARCHIVE STUB...   (each STUB: build/win*/dudore-stub*.exe)
set -euo pipefail
build=$(cd "${1:?usage: $0 NATIVE_BUILD ARCHIVE STUB...}" && pwd)
archive=$(realpath "${2:?}")
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
work="$build/bench-stub"
runs=${DUDORE_BENCH_RUNS:-7}
mkdir -p "$work"

# A prefix of its own, with a Wine virtual desktop: Xvfb has no window manager, and
# without one Wine's X11 driver waits for it (about 2 s) whenever a window is hidden,
# which a user's desktop never does.
prefix="$root/build/bench-wineprefix"
"$root/scripts/wine-prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.dudore-desktop" ]; then
  reg=$(mktemp --suffix=.reg)
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"="Default"\n\n' >"$reg"
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="1024x768"\n' >>"$reg"
  wine reg import "$(wine winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
  wineserver -w
  rm -f "$reg"
  touch "$prefix/.dudore-desktop"
fi

winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }
commands=()
for stub in "$@"; do
  bits=${stub##*stub}
  bits=${bits%.exe}
  "$build/mksfx" --stub "$stub" -o "$work/mixed$bits.exe" -d "$(winpath "$work/out$bits")" --skip-dialog \
    --overwrite --no-explorer "$archive" >/dev/null
  commands+=(--prepare "rm -rf '$work/out$bits'" "wine '$work/mixed$bits.exe' </dev/null >/dev/null 2>&1")
done
commands+=(--prepare "rm -rf '$work/out-unzip'" "unzip -o -qq '$archive' -d '$work/out-unzip'")

# One wineserver for every run, as a user's session has; Xvfb for the windows.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
  status=0
  hyperfine --style none --warmup 1 --runs "$1" --export-json "$2" "${@:3}" >/dev/null || status=$?
  wineserver -k || true
  exit $status' _ "$runs" "$work/hyperfine.json" "${commands[@]}"

for stub in "$@"; do
  bits=${stub##*stub}
  bits=${bits%.exe}
  diff -r "$work/out$bits" "$work/out-unzip" >/dev/null || { echo "stub$bits: not the files unzip writes" >&2; exit 1; }
done
python3 - "$work/hyperfine.json" "$@" <<'PY'
import json, re, sys
results = json.load(open(sys.argv[1]))["results"]
names = ["stub" + re.search(r"stub(\d+)\.exe$", s).group(1) for s in sys.argv[2:]] + ["unzip_o"]
print("median of %d runs (seconds): %s" % (len(results[0]["times"]),
      ", ".join("%s %.3f" % (n, r["median"]) for n, r in zip(names, results))))
for n, r in zip(names, results):
    print("result %s %.4f" % (n, r["median"]))
PY
