#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only those that are missing
# (with one apt-get update first), then prepares the test locales. Quiet when everything is
# there; running it again changes nothing. Run as root, or as a user with sudo.
set -euo pipefail

packages=(
  cmake ninja-build g++
  clang                     # libFuzzer targets
  openjdk-17-jdk-headless   # javac, jni.h, the JVM for the Java tests
  libgtest-dev libgmock-dev libbenchmark-dev libjsoncpp-dev
  junit5                    # JUnit Platform console launcher and Jupiter
  dpkg-dev                  # dpkg-source: jsoncpp's source package for the release build
  maven libmaven-compiler-plugin-java libmaven-resources-plugin-java  # Maven consumer test
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} > 0)); then
  sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  echo "install-deps: installing ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -x "$here/make-test-locales.sh" ]]; then
  "$here/make-test-locales.sh"
elif [[ -f "$here/make-test-locales.sh" ]]; then
  bash "$here/make-test-locales.sh"
fi
