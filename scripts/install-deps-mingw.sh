#!/usr/bin/env bash
# Installs what the Windows x64 cross build and its Wine test run need, from Debian's
# packages: the MinGW-w64 cross compiler (POSIX thread model), 64-bit Wine, and the build
# tools. Only missing packages are installed; running it again does nothing.
set -euo pipefail

packages=(
  cmake ninja-build dpkg-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64
  googletest
  openjdk-17-jdk-headless
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# The JNI headers may come from any installed JDK.
if [[ " ${missing[*]} " == *" openjdk-17-jdk-headless "* ]] && command -v javac >/dev/null; then
  missing=("${missing[@]/openjdk-17-jdk-headless}")
fi

want=()
for p in "${missing[@]}"; do [[ -n "$p" ]] && want+=("$p"); done
if ((${#want[@]} == 0)); then
  echo "install-deps-mingw: nothing to install"
  exit 0
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then SUDO=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps-mingw: installing ${want[*]}"
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${want[@]}"
