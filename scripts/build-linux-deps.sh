#!/usr/bin/env bash
# Builds the static Linux x86-64 jsoncpp that the `release` preset links into
# libveltrixjni.so, so that the shipped library needs nothing beyond glibc at run time
# (Debian's libjsoncpp-dev has the shared library only). Installs it into build/linux-deps
# (or $VX_LINUX_DEPS), from Debian's source package, position-independent code, with its
# CMake package files. A library already installed is left alone.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEPS=${VX_LINUX_DEPS:-$ROOT/build/linux-deps}
WORK=$DEPS/work
JOBS=${VX_JOBS:-2}

if [[ -f "$DEPS/lib/libjsoncpp.a" && -d "$DEPS/lib/cmake/jsoncpp" ]]; then
  echo "build-linux-deps: jsoncpp already in $DEPS"
  exit 0
fi
mkdir -p "$DEPS" "$WORK"
# shellcheck source=fetch-jsoncpp-source.sh
. "$ROOT/scripts/fetch-jsoncpp-source.sh"
fetch_jsoncpp_source "$DEPS/apt" "$WORK/jsoncpp-src"

# Hidden visibility: the objects end up inside libveltrixjni.so, whose version script
# exports the JNI entry points only; hiding them here as well keeps the linker from
# resolving them through the dynamic symbol table.
cmake -S "$JSONCPP_SOURCE_DIR" -B "$WORK/jsoncpp-build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$DEPS" -DCMAKE_INSTALL_LIBDIR=lib \
  -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
  -DCMAKE_CXX_VISIBILITY_PRESET=hidden -DCMAKE_VISIBILITY_INLINES_HIDDEN=ON \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
  -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
  -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=ON \
  -DJSONCPP_WITH_EXAMPLE=OFF
cmake --build "$WORK/jsoncpp-build" -j "$JOBS"
cmake --install "$WORK/jsoncpp-build"
echo "build-linux-deps: done ($DEPS)"
