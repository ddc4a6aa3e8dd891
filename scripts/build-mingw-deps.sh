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

fetch_jsoncpp_source() {
  local apt=$DEPS/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
  # deb-src entries for the Debian repositories the machine already uses, read from apt's
  # own view of them (either sources format), for this release and its updates.
  local codename keyring="" list=$apt/sources.list
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -r /usr/share/keyrings/debian-archive-keyring.gpg ]] &&
    keyring="[signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
  apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
    awk -v c="$codename" '$3 == "main" && (c == "" || index($2, c) == 1) { print $1, $2 }' |
    sort -u | while read -r uri suite; do
      echo "deb-src ${keyring}${uri} ${suite} main"
    done >"$list.new"
  if [[ ! -s "$list.new" ]]; then
    echo "build-mingw-deps: no Debian 'main' repository configured for apt" >&2
    exit 1
  fi
  mv "$list.new" "$list"

  local opts=(
    -o "Dir::Etc::SourceList=$list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
    -o "APT::Sandbox::User=root" -o "Debug::NoLocking=1"
  )
  apt-get "${opts[@]}" -q update
  rm -rf "$WORK/jsoncpp-src"
  mkdir -p "$WORK/jsoncpp-src"
  (cd "$WORK/jsoncpp-src" && apt-get "${opts[@]}" -q source libjsoncpp)
}

if [[ -f "$DEPS/lib/libjsoncpp.a" && -d "$DEPS/lib/cmake/jsoncpp" ]]; then
  echo "build-mingw-deps: jsoncpp already in $DEPS"
else
  command -v dpkg-source >/dev/null || {
    echo "build-mingw-deps: dpkg-source missing (Debian: dpkg-dev)" >&2
    exit 1
  }
  fetch_jsoncpp_source
  src=$(find "$WORK/jsoncpp-src" -mindepth 1 -maxdepth 1 -type d -name 'libjsoncpp-*' | head -n1)
  [[ -n "$src" && -f "$src/CMakeLists.txt" ]] || {
    echo "build-mingw-deps: jsoncpp sources not unpacked" >&2
    exit 1
  }
  cmake_build "$src" "$WORK/jsoncpp-build" \
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
