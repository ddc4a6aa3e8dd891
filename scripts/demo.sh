#!/usr/bin/env bash
# Installs what is missing, builds the dev preset and runs the demo: a Java program that loads
# the bridge against the simulated service library, runs queries and prints them as tables,
# watches live quotes, places orders and prints the bridge's log. Arguments go to the demo:
# [--sim-dir <service library dir>] [--seconds <seconds of live quotes>].
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
cd "$root"
# shellcheck source=build-lib.sh
. "$root/scripts/build-lib.sh"

vx_build dev
exec "$VX_BUILD_DIR/demo/run-demo.sh" "$@"
