#!/usr/bin/env bash
# Builds the locales the native text tests switch between, when they are missing:
#   zh_CN.GBK     a double-byte ANSI code page
#   en_US.UTF-8   an ANSI code page that is UTF-8 itself
#   en_US.CP1252  a single-byte code page with characters in 0x80-0x9F
# Idempotent; needs root (it writes the system locale archive). Installs the Debian
# package `locales` (localedef and the locale sources) when it is missing.
set -euo pipefail

# name as given to localedef | input locale | charmap | name as `locale -a` lists it
LOCALES=(
  "zh_CN.GBK zh_CN GBK zh_CN.gbk"
  "en_US.UTF-8 en_US UTF-8 en_US.utf8"
  "en_US.CP1252 en_US CP1252 en_US.cp1252"
)

if ! command -v localedef >/dev/null 2>&1 || [ ! -e /usr/share/i18n/locales/zh_CN ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "make-test-locales: the package 'locales' is missing and this is not root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends locales
fi

have_locale() {
  locale -a 2>/dev/null | grep -qixF "$1"
}

status=0
for entry in "${LOCALES[@]}"; do
  read -r name input charmap listed <<<"${entry}"
  if have_locale "${listed}" || have_locale "${name}"; then
    continue
  fi
  echo "make-test-locales: building ${name}"
  # localedef exits 1 for warnings alone (e.g. characters missing from a charmap) while
  # still writing the locale; success is judged by the locale being listed afterwards.
  localedef -i "${input}" -f "${charmap}" "${name}" || true
  if ! have_locale "${listed}" && ! have_locale "${name}"; then
    echo "make-test-locales: could not build ${name}" >&2
    status=1
  fi
done
exit "${status}"
