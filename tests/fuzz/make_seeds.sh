#!/usr/bin/env bash
# Writes small seed files for the fuzz targets, made by ImageMagick 6,
# exiftool and Pillow: make_seeds.sh <folder>  ->  <folder>/bmp/*.bmp,
# <folder>/exif/*.jpg, <folder>/{ico,tga,pcx,wbmp,ska}/*, <folder>/jas/*,
# <folder>/mng/*.mng, <folder>/wmf/* (the metafiles by the tests' own
# builder, tests/imagelib/metafile_build.py)
# The few files checked in under seeds/ were made by this script.
set -euo pipefail
out=${1:?usage: make_seeds.sh <folder>}
mkdir -p "$out/bmp" "$out/exif" "$out/ico" "$out/tga" "$out/pcx" "$out/wbmp" "$out/ska" \
  "$out/jas" "$out/mng" "$out/wmf"
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

# Hand-built segments no peer writes: an uncompressed strip thumbnail in the
# second directory of an APP1 "Exif", and an APP3 "Meta" TIFF segment, both
# spliced in after the start of image of plain.jpg.
python3 - "$e/plain.jpg" "$e/strip_thumb_meta.jpg" <<'PY'
import struct, sys
def ifd(entries, next_off, at):
    # entries: (tag, type, count, bytes); values over 4 bytes go after the block.
    size = 2 + 12 * len(entries) + 4
    head, tail = struct.pack('<H', len(entries)), b''
    for tag, typ, count, data in entries:
        if len(data) <= 4:
            head += struct.pack('<HHI', tag, typ, count) + data.ljust(4, b'\0')
        else:
            head += struct.pack('<HHII', tag, typ, count, at + size + len(tail))
            tail += data + (b'\0' if len(data) % 2 else b'')
    return head + struct.pack('<I', next_off) + tail
def short(v): return struct.pack('<H', v)
def long_(v): return struct.pack('<I', v)
pixels = bytes(range(0, 144, 4))  # 4 x 3 RGB
ifd0 = ifd([(271, 2, 6, b'Wharf\0'), (274, 3, 1, short(1))], 0, 8)
ifd1_at = 8 + len(ifd0)
def thumb(strip_at):
    return ifd([(256, 3, 1, short(4)), (257, 3, 1, short(3)), (258, 3, 3, b'\x08\0\x08\0\x08\0'),
                (259, 3, 1, short(1)), (262, 3, 1, short(2)), (273, 4, 1, long_(strip_at)),
                (277, 3, 1, short(3)), (278, 3, 1, short(3)), (279, 4, 1, long_(len(pixels)))], 0, ifd1_at)
strip_at = ifd1_at + len(thumb(0))
tiff = b'II*\0' + long_(8) + ifd([(271, 2, 6, b'Wharf\0'), (274, 3, 1, short(1))], ifd1_at, 8)
tiff += thumb(strip_at) + pixels
app1 = b'Exif\0\0' + tiff
meta = b'Meta\0\0' + b'II*\0' + long_(8) + ifd([(50000, 4, 1, long_(7)), (305, 2, 5, b'tool\0')], 0, 8)
seg = lambda m, body: b'\xff' + bytes([m]) + struct.pack('>H', len(body) + 2) + body
jpeg = open(sys.argv[1], 'rb').read()
open(sys.argv[2], 'wb').write(jpeg[:2] + seg(0xE1, app1) + seg(0xE3, meta) + jpeg[2:])
PY

# Icons, TGA, PCX and WBMP from ImageMagick and Pillow; SKA from struct.
"$im" "$src" -alpha set -channel A -fx 'i/w' +channel \( +clone -resize 8x8! \) "$out/ico/alpha32.ico"
"$im" "$src" -colors 12 "$out/ico/pal4.ico"
"$im" "$src" -colors 2 -type palette "$out/ico/pal1.ico"
"$im" "$src" -compress RLE "$out/tga/rle24.tga"
"$im" "$src" -colors 20 -type palette -compress RLE "$out/tga/rle8.tga"
"$im" "$src" -depth 5 -define tga:bits-per-pixel=16 "$out/tga/rgb16.tga"
"$im" "$src" -alpha set -channel A -fx 'i/w' +channel "$out/tga/rgba32.tga"
"$im" "$src" "$out/pcx/rgb24.pcx"
"$im" "$src" -colors 20 -type palette "$out/pcx/pal8.pcx"
"$im" "$src" -colors 2 -type palette -depth 1 "$out/pcx/bits1.pcx"
"$im" "$src" -threshold 50% "$out/wbmp/bits.wbmp"
/usr/bin/python3 - "$src" "$out" <<'PY'
import struct, sys
from PIL import Image
im = Image.open(sys.argv[1])
out = sys.argv[2]
im.convert('RGBA').save(out + '/ico/png.ico', sizes=[(8, 8)])
im.save(out + '/tga/top_left.tga', orientation=1)
# 4 planes of one bit, 9 x 3, each plane row 2 bytes, written bare
head = bytearray(128)
head[0:4] = bytes([10, 5, 1, 1])
head[8:12] = struct.pack('<HH', 8, 2)
head[16:64] = bytes(range(48))
head[65] = 4
head[66:68] = struct.pack('<H', 2)
open(out + '/pcx/planes4.pcx', 'wb').write(bytes(head) + bytes(i * 23 % 192 for i in range(24)))
w, h = 5, 3
pal = bytes(i % 256 for i in range(768))
open(out + '/ska/ska.ska', 'wb').write(struct.pack('<HHB4s', w, h, 3, b'\0\0\0\1') + pal + bytes(range(w * h)))
PY

j=$out/jas
small=$(mktemp --suffix=.png)
trap 'rm -f "$src" "$src.thumb.jpg" "$small"' EXIT
"$im" "$src" -resize 6x4! "$small"
"$im" "$small" "$j/rgb.jp2"
"$im" "$small" -quality 50 "$j/lossy.j2k"
"$im" "$small" -colorspace gray "$j/grey.pgx"
"$im" "$small" -compress none "$j/p3.ppm"
"$im" "$small" -colorspace gray -compress none "$j/p2.pgm"
"$im" "$small" -threshold 50% -compress none "$j/p1.pbm"
"$im" "$small" -threshold 50% "$j/p4.pbm"
"$im" "$small" -depth 16 "$j/p6_16.ppm"
"$im" "$small" -compress RLE "$j/rle.ras"
"$im" "$small" -colors 4 -type Palette "$j/map.ras"

m=$out/mng
"$im" -delay 10 -loop 0 -size 4x3 xc:red xc:lime xc:blue "$m/loop3.mng"
"$im" "$small" "$m/still.jng"

python3 "$(dirname "$0")/../imagelib/metafile_build.py" "$out/wmf"
rm -f "$out/wmf/wide.emf" "$out/wmf/thin.emf"
for f in rect empty; do  # stems must differ: the replay tests are named by them
  mv "$out/wmf/$f.wmf" "$out/wmf/${f}_wmf.wmf"
  mv "$out/wmf/$f.emf" "$out/wmf/${f}_emf.emf"
done
