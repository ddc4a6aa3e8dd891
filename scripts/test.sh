#!/usr/bin/env bash
# Installs what is missing, builds the dev preset and runs every test (native and JVM), then
# builds the asan preset and runs the native tests under AddressSanitizer and UBSan.
# A failed build stops at once; failed tests of one preset do not stop the other. Exits
# non-zero when anything failed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"
# shellcheck source=build-lib.sh
. "$root/scripts/build-lib.sh"

failed=()

echo "== dev: build"
vx_build dev build/dev -DCMAKE_BUILD_TYPE=Debug
echo "== dev: all tests"
ctest --test-dir "$VX_BUILD_DIR" --output-on-failure || failed+=(dev)

echo "== asan: build"
vx_build asan build/asan -DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE=address,undefined \
  -DVX_BUILD_JAVA=OFF
echo "== asan: native tests"
ctest --test-dir "$VX_BUILD_DIR" --output-on-failure -L native || failed+=(asan)

if ((${#failed[@]} > 0)); then
  echo "== tests failed in: ${failed[*]}"
  exit 1
fi
echo "== all tests passed"
