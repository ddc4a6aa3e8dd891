# Sourced by test.sh and demo.sh: configure and build one preset of the project.
#
#   vx_build <preset>
#
# Sets VX_BUILD_DIR to the build directory. VX_JOBS (default 2) limits the parallel build
# jobs. VX_BUILD_ROOT, when set, puts the build directory of a preset at
# $VX_BUILD_ROOT/<preset> instead of where the preset says.

vx_build() {
  local preset=$1 dir out args=(--preset "$1")
  if [[ -n "${VX_BUILD_ROOT:-}" ]]; then
    args+=(-B "$VX_BUILD_ROOT/$preset")
  fi
  out=$(cmake "${args[@]}" 2>&1) || { printf '%s\n' "$out"; return 1; }
  printf '%s\n' "$out" | tail -n 3
  dir=$(printf '%s\n' "$out" | sed -n 's/^-- Build files have been written to: //p' | tail -n 1)
  if [[ -z "$dir" ]]; then
    echo "cannot tell the build directory of preset $preset" >&2
    return 1
  fi
  cmake --build "$dir" -j "${VX_JOBS:-2}"
  # shellcheck disable=SC2034  # read by the scripts that source this file
  VX_BUILD_DIR=$dir
}
