#!/usr/bin/env bash
# Checks that the library's sources include only headers of their own layer or of layers
# below it. The order, lowest first:
#   1 platform, types            (and the public String, Time, Status, Type, Export headers)
#   2 functions (the SQL functions registered on every connection), monitor, legacy
#   3 node                       (and the public Node header)
#   4 asset                      (and the public Asset, Element, Attribute, Blob, UserData)
#   5 category                   (and the public Category header)
#   6 query (expressions, filters and the statement builder; the public Expression, Filter)
#   7 handler                    (and the public Handler header)
#   8 services (membership and dates, verification, copy)
# A lower layer that must reach a higher one does so through the hooks that the higher layer
# registers on the node (src/node/LayerHooks.h), never by an include; the one place that
# knows every layer, src/services/NodeLayers.cpp, sits at the top. Exits non-zero on any
# finding.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

level_of_dir() {
  case "$1" in
    platform | types) echo 1 ;;
    functions | monitor | legacy) echo 2 ;;
    node) echo 3 ;;
    asset) echo 4 ;;
    category) echo 5 ;;
    query) echo 6 ;;
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
    Category.h) echo 5 ;;
    Expression.h | Filter.h) echo 6 ;;
    Handler.h) echo 7 ;;
    *) echo 9 ;;  # the umbrella header: never inside the library
  esac
}

checked=0
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
  checked=$((checked + 1))
  if [ "$to" -gt "$from" ]; then
    echo "against the layer order: $file (layer $from) includes $header (layer $to)" >&2
    bad=1
  fi
done < <(grep -rHE '^#include "' src --include='*.h' --include='*.cpp' | sed 's/:#/:#/')

# The command-line tool (cli/) is a program over the public API: among the project's headers
# it includes only <vendrithane/...> ones and its own, beside its files.
while IFS= read -r line; do
  file=${line%%:*}
  header=$(sed -n 's/^.*#include [<"]\([^">]*\)[">].*$/\1/p' <<<"${line#*:}")
  case "$header" in
    vendrithane/*) ;;
    */*)
      if [ -d "src/${header%%/*}" ]; then
        echo "a private header in the tool: $file includes $header" >&2
        bad=1
      fi
      ;;
    *)
      if [[ "${line#*:}" == *'#include "'* ]] && [ ! -f "$(dirname "$file")/$header" ]; then
        echo "the tool includes a header from elsewhere: $file includes $header" >&2
        bad=1
      fi
      ;;
  esac
  checked=$((checked + 1))
done < <(grep -rHE '^#include ' cli --include='*.h' --include='*.cpp')

if [ "$bad" = 0 ]; then
  echo "layers: ok ($checked includes checked)"
fi
exit "$bad"
