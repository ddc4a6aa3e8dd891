#!/usr/bin/env bash
# Runs one Windows test program under Wine for CTest and the test discovery:
#
#   wine-exec.sh <wine64> <program.exe> [arguments...]
#
# Now and then, under parallel load, wine64 itself dies some 20 ms after it starts, before
# the program has printed a byte (a normal start alone takes over 100 ms). Such a start is
# tried again, at most twice, and said so on stderr. A run that printed anything, or that
# succeeded, is never repeated: its output and exit status are the program's own. Every
# repeated start is also noted in wine-exec-restarts.log beside the Wine prefix, which
# scripts/test-mingw.sh shows after the run, so that restarts cannot pass unseen.
set -uo pipefail

wine=${1:?usage: wine-exec.sh <wine64> <program> [arguments...]}
shift

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

for attempt in 1 2 3; do
  "$wine" "$@" >"$out" 2>"$err"
  status=$?
  if ((status == 0)) || [[ -s $out || -s $err ]]; then
    cat "$out"
    cat "$err" >&2
    exit "$status"
  fi
  note="wine-exec: $1 ended with status $status before printing anything (start $attempt of 3)"
  echo "$note" >&2
  if [[ -n ${WINEPREFIX:-} ]]; then echo "$note: $*" >>"$WINEPREFIX/../wine-exec-restarts.log"; fi
done
exit "$status"
