#!/usr/bin/env bash
# Checks that the library's sources include only headers of their own layer or of layers
# below it. The order, lowest first:
#   1 platform, types            (and the public String, Time, Status, Type, Export headers)
#   2 query (the SQL functions registered on every connection), monitor, legacy
#   3 node                       (and the public Node header)
#   4 asset                      (and the public Asset, Element, Attribute, Blob, UserData)
#   5 category
#   6 the query builder (expressions and filters)
#   7 handler
#   8 services (membership and dates, verification, copy)
# A lower layer that must reach a higher one does so through a hook table that the higher
# layer registers, never by an include. tools/layer-exceptions.txt lists the includes that
# still cross the order until that hook table is in place; an entry that no longer occurs
# is reported too, so that the list only shrinks. Exits non-zero on any finding.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

level_of_dir() {
  case "$1" in
    platform | types) echo 1 ;;
    query | monitor | legacy) echo 2 ;;
    node) echo 3 ;;
    asset) echo 4 ;;
    category) echo 5 ;;
    builder) echo 6 ;;
    handler) echo 7 ;;
    services) echo 8 ;;
    *) echo 0 ;;
  esac
}

level_of_public() {
  case "$1" in
    String.h | Time.h | Status.h | Type.h | Export.h) echo 1 ;;
    Node.h) echo 3 ;;
    Asset.h | Element.h | Attribute.h | Blob.h | UserData.h) echo 4 ;;
    *) echo 9 ;;  # the umbrella header: never inside the library
  esac
}

exceptions="$root/tools/layer-exceptions.txt"
found=()
bad=0
while IFS= read -r line; do
  file=${line%%:*}
  header=$(sed -n 's/^.*#include "\([^"]*\)".*$/\1/p' <<<"${line#*:}")
  dir=${file#src/}
  dir=${dir%%/*}
  from=$(level_of_dir "$dir")
  case "$header" in
    vendrithane/*) to=$(level_of_public "${header#vendrithane/}") ;;
    */*) to=$(level_of_dir "${header%%/*}") ;;
    *) continue ;;  # a header beside the file
  esac
  if [ "$from" = 0 ] || [ "$to" = 0 ]; then
    echo "unknown layer: $file includes $header" >&2
    bad=1
    continue
  fi
  [ "$to" -le "$from" ] && continue
  entry="$file $header"
  found+=("$entry")
  if ! grep -qxF "$entry" "$exceptions"; then
    echo "against the layer order: $file (layer $from) includes $header (layer $to)" >&2
    bad=1
  fi
done < <(grep -rHE '^#include "' src --include='*.h' --include='*.cpp' | sed 's/:#/:#/')

while IFS= read -r entry; do
  case "$entry" in '' | '#'*) continue ;; esac
  keep=0
  for f in "${found[@]}"; do [ "$f" = "$entry" ] && keep=1 && break; done
  if [ "$keep" = 0 ]; then
    echo "no longer crosses the order, remove it from tools/layer-exceptions.txt: $entry" >&2
    bad=1
  fi
done <"$exceptions"

if [ "$bad" = 0 ]; then
  echo "layers: ok (${#found[@]} listed exceptions)"
fi
exit "$bad"
