#!/usr/bin/env bash
# A short tour of the vendrithane tool on the sample folder examples/media, in a temporary
# directory that is removed at the end. Usage: examples/demo.sh PATH-TO-vendrithane
set -euo pipefail
tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
media=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/media
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp -r "$media" media

bold=""
plain=""
if [ -t 1 ]; then
  bold=$(printf '\033[1m')
  plain=$(printf '\033[0m')
fi
# Shows a command, then runs it.
vd() {
  local shown="" a
  for a in "$@"; do
    if [[ "$a" =~ ^[A-Za-z0-9._/:=-]+$ ]]; then shown+=" $a"; else shown+=" \"$a\""; fi
  done
  printf '\n%s$ vendrithane%s%s\n' "$bold" "$shown" "$plain"
  "$tool" "$@"
}
say() { printf '\n# %s\n' "$*"; }

say "A new catalog: photos.vd (records) and photos.vm (blobs)."
vd create photos.vd
say "Import a folder: one record per file, with its MIME type, and Exif fields for images."
vd import photos.vd media
vd info photos.vd
vd ls photos.vd
say "Find with the filter language."
vd find photos.vd "year(taken) = 2008 and camera ~ '%Acme%'"
first=$("$tool" find photos.vd "year(taken) = 2008 and camera ~ '%Acme%'" --limit 1 | cut -f1)
vd show photos.vd "$first"
say "Blobs come out byte for byte."
vd get photos.vd "$first" thumbnail -o thumb.jpg
echo "thumb.jpg: $(wc -c <thumb.jpg) bytes"
say "Promote an element to an indexed column, change a record, remove one."
vd index photos.vd file taken
vd set photos.vd "$first" rating 5 --int
vd find photos.vd "rating >= 4"
notes=$("$tool" find photos.vd "name = 'picks.csv'" | cut -f1)
vd rm photos.vd "$notes"
say "Scripts read JSON."
vd info photos.vd --json
