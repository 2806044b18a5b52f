#!/usr/bin/env bash
# Writes small seed files for the fuzz targets, made by ImageMagick 6 and
# exiftool: make_seeds.sh <folder>  ->  <folder>/bmp/*.bmp, <folder>/exif/*.jpg
# The few files checked in under seeds/ were made by this script.
set -euo pipefail
out=${1:?usage: make_seeds.sh <folder>}
mkdir -p "$out/bmp" "$out/exif"
im=convert-im6.q16
src=$(mktemp --suffix=.png)
trap 'rm -f "$src" "$src.thumb.jpg"' EXIT
"$im" -size 13x9 gradient:red-blue \( -size 9x13 gradient:black-lime -rotate 90 \) \
  -compose plus -composite "$src"

b=$out/bmp
"$im" "$src" -type palette -colors 2 BMP3:"$b/pal1.bmp"
"$im" "$src" -type palette -colors 16 BMP3:"$b/pal4.bmp"
"$im" "$src" -type palette -colors 100 -compress None BMP3:"$b/pal8.bmp"
"$im" "$src" -type palette -colors 100 -compress RLE BMP3:"$b/rle8.bmp"
"$im" "$src" -type truecolor BMP3:"$b/rgb24.bmp"
"$im" "$src" -define bmp:subtype=RGB565 BMP:"$b/rgb565.bmp"
"$im" "$src" -define bmp:subtype=RGB555 BMP3:"$b/rgb555.bmp"
"$im" "$src" -alpha set -channel A -evaluate set 50% +channel BMP:"$b/argb32.bmp"
"$im" "$src" -type truecolor BMP2:"$b/os2core24.bmp"
"$im" "$src" -type palette -colors 16 BMP2:"$b/os2core4.bmp"

e=$out/exif
"$im" -size 16x16 gradient:white-black -quality 80 "$e/plain.jpg"
"$im" -size 8x8 gradient:red-blue "$src.thumb.jpg"
cp "$e/plain.jpg" "$e/tags_le.jpg"
exiftool -q -overwrite_original -ExifByteOrder=II -Make=Pixel -Model=Wharf -Orientation#=6 \
  -DateTimeOriginal='2019:05:06 07:08:09' -FNumber=2.8 -ExposureTime=0.01 -ISO=200 \
  -GPSLatitude=48.5 -GPSLatitudeRef=N -InteropIndex=R98 "$e/tags_le.jpg"
cp "$e/plain.jpg" "$e/tags_be_thumb.jpg"
exiftool -q -overwrite_original -ExifByteOrder=MM -Make=Pixel -UserComment=hello \
  "-ThumbnailImage<=$src.thumb.jpg" "$e/tags_be_thumb.jpg"
"$im" "$e/plain.jpg" -strip "$e/bare.jpg"
