#!/usr/bin/env bash
# Sourced by build-mingw-deps.sh and build-linux-deps.sh:
#
#   fetch_jsoncpp_source <apt state dir> <destination dir>
#
# Fetches and unpacks Debian's jsoncpp source package (libjsoncpp) into <destination dir>,
# through a private apt configuration under <apt state dir>: the machine's own apt sources
# stay untouched. The deb-src entries are those of the Debian repositories the machine
# already uses, read from apt's own view of them (either sources format), for this release
# and its updates. Sets JSONCPP_SOURCE_DIR to the unpacked tree.

fetch_jsoncpp_source() {
  local apt=$1 dest=$2
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
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
    echo "fetch-jsoncpp-source: no Debian 'main' repository configured for apt" >&2
    return 1
  fi
  mv "$list.new" "$list"

  command -v dpkg-source >/dev/null || {
    echo "fetch-jsoncpp-source: dpkg-source missing (Debian: dpkg-dev)" >&2
    return 1
  }
  local opts=(
    -o "Dir::Etc::SourceList=$list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
    -o "APT::Sandbox::User=root" -o "Debug::NoLocking=1"
  )
  apt-get "${opts[@]}" -q update
  rm -rf "$dest"
  mkdir -p "$dest"
  (cd "$dest" && apt-get "${opts[@]}" -q source libjsoncpp)
  JSONCPP_SOURCE_DIR=$(find "$dest" -mindepth 1 -maxdepth 1 -type d -name 'libjsoncpp-*' | head -n1)
  [[ -n "$JSONCPP_SOURCE_DIR" && -f "$JSONCPP_SOURCE_DIR/CMakeLists.txt" ]] || {
    echo "fetch-jsoncpp-source: jsoncpp sources not unpacked in $dest" >&2
    return 1
  }
}
