#!/usr/bin/env bash
# Installs what is missing, builds the dev preset and runs every test (native and JVM), then
# builds the asan and tsan presets and runs the native tests under AddressSanitizer + UBSan
# and under ThreadSanitizer, then cross-builds the mingw preset (Windows x64) and runs its
# native tests under Wine (scripts/test-mingw.sh), then builds the release jars with the
# natives of both platforms and checks them, the Release DLL's own tests under Wine among
# them (scripts/release-jar.sh --quick), and last runs
# the libFuzzer targets for a bounded time (scripts/fuzz.sh). A failed dev, asan or tsan
# build stops at once; failed tests of one stage, or a failed Windows, release jar or fuzz
# build, do not stop the others. Exits non-zero when anything failed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"
# shellcheck source=build-lib.sh
. "$root/scripts/build-lib.sh"

failed=()

echo "== dev: build"
vx_build dev
echo "== dev: all tests"
ctest --test-dir "$VX_BUILD_DIR" --output-on-failure || failed+=(dev)

echo "== asan: build"
vx_build asan
echo "== asan: native tests"
ctest --test-dir "$VX_BUILD_DIR" --output-on-failure -L native || failed+=(asan)

echo "== tsan: build"
vx_build tsan
echo "== tsan: native tests"
TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" \
  ctest --test-dir "$VX_BUILD_DIR" --output-on-failure -L native || failed+=(tsan)

echo "== mingw: Windows x64 cross build, native tests under Wine"
"$root/scripts/test-mingw.sh" || failed+=(mingw)

echo "== release jar: both platforms' natives in the jars, their checks (scripts/release-jar.sh)"
"$root/scripts/release-jar.sh" --quick || failed+=(release-jar)

echo "== fuzz: libFuzzer targets, bounded time"
"$root/scripts/fuzz.sh" || failed+=(fuzz)

if ((${#failed[@]} > 0)); then
  echo "== tests failed in: ${failed[*]}"
  exit 1
fi
echo "== all tests passed"
