#!/usr/bin/env bash
# Fails when a file under src/ includes a folder above its own. The folders, bottom first,
# are listed in README.md's Layout section; the entry points (exports/ and
# bridge/lifecycle.cpp, which holds JNI_OnLoad, setJniEnv and JNI_OnUnload) may include any.
#
#   tests/check_include_order.sh <src dir>
set -euo pipefail

src=${1:?usage: check_include_order.sh <src dir>}
layers=(platform base text log bridge marshal callback exports)
entry_points=(bridge/lifecycle.cpp)

rank() {
  local i
  for i in "${!layers[@]}"; do
    if [[ ${layers[$i]} == "$1" ]]; then
      echo "$i"
      return
    fi
  done
  echo -1
}

failures=0
cd "$src"
while IFS= read -r file; do
  file=${file#./}
  folder=${file%%/*}
  [[ " ${entry_points[*]} " == *" $file "* ]] && continue
  own=$(rank "$folder")
  if ((own < 0)); then
    echo "$file: folder '$folder' has no place in the layer order" >&2
    failures=$((failures + 1))
    continue
  fi
  while IFS= read -r included; do
    target=${included%%/*}
    [[ $included == */* ]] || continue  # a system or third-party header
    theirs=$(rank "$target")
    if ((theirs < 0)); then
      echo "$file: includes \"$included\", a folder with no place in the layer order" >&2
      failures=$((failures + 1))
    elif ((theirs > own)); then
      echo "$file: includes \"$included\" from $target/, which is above $folder/" >&2
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

if ((failures > 0)); then
  echo "check_include_order: $failures include(s) against the layer order" >&2
  exit 1
fi
echo "check_include_order: every include in $src follows the layer order"
