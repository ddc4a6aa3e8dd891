#!/usr/bin/env bash
# Windows x64 side: installs the cross toolchain and Wine if missing, builds the static
# dependencies, builds the `mingw` preset and runs its CTest suite under Wine.
#   scripts/test-mingw.sh [extra ctest arguments]
# VX_MINGW_PRESET picks the preset: mingw (default, Debug) or mingw-release (the DLL that
# ships). VX_MINGW_BUILD overrides the build directory (default build/<preset>, the preset's
# own). VX_MINGW_TARGETS, a space-separated list, builds only those targets (default: all);
# the ctest arguments then pick the tests those targets provide.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PRESET=${VX_MINGW_PRESET:-mingw}
BUILD=${VX_MINGW_BUILD:-$ROOT/build/$PRESET}
JOBS=${VX_JOBS:-2}

"$ROOT/scripts/install-deps-mingw.sh"
"$ROOT/scripts/build-mingw-deps.sh"

# Wine: a prefix of its own inside the build tree (the one the toolchain's test emulator
# names), one persistent server for the build's test discovery and the test run, and no
# debug output. Debian keeps the 64-bit binaries off the PATH, in /usr/lib/wine.
find_tool() {
  local name
  for name in "$@"; do
    if [[ -x /usr/lib/wine/$name ]]; then echo "/usr/lib/wine/$name"; return; fi
    if command -v "$name" >/dev/null; then command -v "$name"; return; fi
  done
  echo "test-mingw: none of $* found (Debian: wine64)" >&2
  exit 1
}
WINE=$(find_tool wine64 wine)
WINESERVER=$(find_tool wineserver64 wineserver)
export WINEPREFIX=$BUILD/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# The server and everything it started go when this script ends, however it ends (an
# interrupt or a kill by signal runs the EXIT trap too).
trap '"$WINESERVER" -k >/dev/null 2>&1 || true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
# A persistent server, detached from this script's output: a pipe reader (CI, tee) would
# otherwise wait for it.
"$WINESERVER" -p </dev/null >/dev/null 2>&1
# Creating a fresh prefix takes seconds: done once here, not raced by parallel tests. The
# prefix's background services start now and live until the server ends; they must not
# inherit this script's output (a pipe reader would wait for them), nor a test's.
if ! "$WINE" wineboot --init </dev/null >"$BUILD/wineboot.log" 2>&1; then
  cat "$BUILD/wineboot.log" >&2
  exit 1
fi

cd "$ROOT"
cmake --preset "$PRESET" -B "$BUILD"
read -r -a targets <<<"${VX_MINGW_TARGETS:-}"
cmake --build "$BUILD" -j "$JOBS" ${targets[@]+--target "${targets[@]}"}
# A test that hangs under Wine fails after VX_TEST_TIMEOUT seconds instead of stalling the run.
rm -f "$BUILD/wine-exec-restarts.log"
status=0
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" --timeout "${VX_TEST_TIMEOUT:-300}" "$@" ||
  status=$?
if [[ -s $BUILD/wine-exec-restarts.log ]]; then
  echo "test-mingw: Wine died before the program printed anything, and was started again:"
  cat "$BUILD/wine-exec-restarts.log"
fi
exit "$status"
