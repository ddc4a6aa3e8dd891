#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a bounded time over
# a copy of its seed corpus: ctest -L fuzz. Exits non-zero when a target finds something;
# the input that triggered it is left under <build>/fuzz/fuzz_<name>/artifacts/.
#
#   VX_FUZZ_SECONDS   seconds per target (default 30)
#   VX_JOBS           parallel build jobs (default 2)
#   VX_BUILD_ROOT     when set, the build directory is $VX_BUILD_ROOT/fuzz
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"

dir=${VX_BUILD_ROOT:+$VX_BUILD_ROOT/fuzz}
dir=${dir:-build/fuzz}
seconds=${VX_FUZZ_SECONDS:-30}

echo "== fuzz: configure"
cmake --preset fuzz -B "$dir" -DVX_FUZZ_SECONDS="$seconds"

echo "== fuzz: build"
cmake --build "$dir" --target vx_fuzz_all -j "${VX_JOBS:-2}"

echo "== fuzz: run (${seconds}s per target)"
# The fuzz tests live in the fuzz/ subdirectory of the build tree; CTest finds them there
# whether or not the top level enables testing.
ctest --test-dir "$dir/fuzz" -L fuzz --output-on-failure
