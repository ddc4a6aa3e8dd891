#!/usr/bin/env bash
# Builds the static Windows x64 libraries the MinGW cross build needs and installs them
# into build/mingw-deps (or $VX_MINGW_DEPS):
#   - jsoncpp, from Debian's source package (libjsoncpp), fetched by apt through a private
#     configuration under the deps directory: the machine's own apt sources stay untouched;
#   - GoogleTest, from Debian's googletest package (/usr/src/googletest).
# Both are configured with cmake/toolchain-mingw64.cmake. A library already installed is
# left alone, so running the script again costs nothing.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEPS=${VX_MINGW_DEPS:-$ROOT/build/mingw-deps}
TOOLCHAIN=$ROOT/cmake/toolchain-mingw64.cmake
WORK=$DEPS/work
JOBS=${VX_JOBS:-2}
mkdir -p "$DEPS" "$WORK"

cmake_build() {  # source dir, build dir, extra cmake arguments...
  local src=$1 bld=$2
  shift 2
  cmake -S "$src" -B "$bld" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DVX_MINGW_DEPS="$DEPS" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$DEPS" \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON "$@"
  cmake --build "$bld" -j "$JOBS"
  cmake --install "$bld"
}

# ---- jsoncpp ------------------------------------------------------------------------------

# shellcheck source=fetch-jsoncpp-source.sh
. "$ROOT/scripts/fetch-jsoncpp-source.sh"

if [[ -f "$DEPS/lib/libjsoncpp.a" && -d "$DEPS/lib/cmake/jsoncpp" ]]; then
  echo "build-mingw-deps: jsoncpp already in $DEPS"
else
  fetch_jsoncpp_source "$DEPS/apt" "$WORK/jsoncpp-src"
  cmake_build "$JSONCPP_SOURCE_DIR" "$WORK/jsoncpp-build" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
    -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=ON \
    -DJSONCPP_WITH_EXAMPLE=OFF
fi

# ---- GoogleTest ---------------------------------------------------------------------------

if [[ -f "$DEPS/lib/libgtest.a" && -d "$DEPS/lib/cmake/GTest" ]]; then
  echo "build-mingw-deps: googletest already in $DEPS"
else
  [[ -f /usr/src/googletest/CMakeLists.txt ]] || {
    echo "build-mingw-deps: /usr/src/googletest missing (Debian: googletest)" >&2
    exit 1
  }
  cmake_build /usr/src/googletest "$WORK/googletest-build" -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON
fi

echo "build-mingw-deps: done ($DEPS)"
