#!/usr/bin/env bash
# Installs what is missing, builds the dev preset and runs the demo: the bridge loads the
# simulated service library and prints the log lines it delivers. Arguments go to the demo:
# [service library dir] [milliseconds].
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"
# shellcheck source=build-lib.sh
. "$root/scripts/build-lib.sh"

vx_build dev build/dev -DCMAKE_BUILD_TYPE=Debug
exec "$VX_BUILD_DIR/demo/run-demo.sh" "$@"
