#!/usr/bin/env bash
# Makes the sample folder examples/media/ that run-example.sh imports: a few small JPEG
# images with Exif dates, camera fields, orientation, IPTC keywords and an Exif preview, and
# a few text files. Run once by hand; the result is committed. Needs ImageMagick's convert
# and the exiv2 command (Debian packages imagemagick and exiv2), which nothing else needs.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$top/examples/media"
rm -rf "$out"
mkdir -p "$out/2008-harbour" "$out/2009-hills" "$out/notes"

# image SEED FILE "DATE" MAKE MODEL ORIENTATION KEYWORD...
image() {
  local seed=$1 file=$2 date=$3 make=$4 model=$5 orientation=$6
  shift 6
  convert -seed "$seed" -size 320x240 plasma:steelblue-orange -blur 0x2 -strip -quality 60 \
    "$file"
  convert "$file" -resize 80x60 -strip -quality 50 "${file%.jpg}-thumb.jpg"
  local args=(-M"set Exif.Photo.DateTimeOriginal Ascii $date"
              -M"set Exif.Image.Make Ascii $make" -M"set Exif.Image.Model Ascii $model"
              -M"set Exif.Image.Orientation Short $orientation")
  for k in "$@"; do args+=(-M"add Iptc.Application2.Keywords String $k"); done
  exiv2 "${args[@]}" mo "$file"
  exiv2 -it insert "$file"  # the Exif preview from FILE-thumb.jpg
  rm "${file%.jpg}-thumb.jpg"
}

image 11 "$out/2008-harbour/IMG_0001.jpg" "2008:03:05 14:07:09" Acme "Acme Pixel 1" 1 harbour dusk
image 12 "$out/2008-harbour/IMG_0002.jpg" "2008:03:05 14:09:41" Acme "Acme Pixel 1" 6 harbour boats
image 13 "$out/2008-harbour/IMG_0003.jpg" "2008:07:19 09:30:00" Brightline "BL-200" 1 market
image 14 "$out/2009-hills/DSC_0100.jpg" "2009:10:02 16:45:12" Acme "Acme Pixel 2" 1 hills autumn
image 15 "$out/2009-hills/DSC_0101.jpg" "2009:10:02 17:02:55" Acme "Acme Pixel 2" 8 hills sunset

printf 'Harbour, March 2008\n\nEvening light over the boats; two frames kept.\n' \
  >"$out/notes/harbour.txt"
printf '# Hills\n\nAutumn walk, October 2009.\n' >"$out/notes/hills.md"
printf 'IMG_0001.jpg,keep\nIMG_0002.jpg,keep\nIMG_0003.jpg,maybe\n' >"$out/notes/picks.csv"
du -sh "$out"
