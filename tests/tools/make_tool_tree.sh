#!/bin/sh
# Builds the picture tree the resizing, cloning and conversion tests run on,
# with peer programs only: ImageMagick 6 draws the pictures, exiftool writes
# their EXIF blocks (both byte orders, GPS, thumbnails), Pillow writes the
# alpha PNG, the animated GIF, the icon and the ICC/XMP/comment JPEG.
# Usage: make_tool_tree.sh FOLDER   (FOLDER must exist and be empty)
set -eu
D=$1
IM=convert-im6.q16
mkdir -p "$D/photos/sub" "$D/work"
cd "$D/work"

$IM -size 160x120 plasma:fractal -seed 7 thumb.jpg 2>/dev/null || $IM -size 160x120 gradient:red-blue thumb.jpg

# Little-endian EXIF with GPS and a thumbnail, landscape 640x480.
$IM -size 640x480 gradient:yellow-navy -quality 92 "$D/photos/le.jpg"
exiftool -q -overwrite_original -ExifByteOrder=II -Make=Pixelwharf -Model=LE-1 \
  -DateTimeOriginal="2019:03:04 05:06:07" -GPSLatitude=31.2304 -GPSLatitudeRef=N \
  -GPSLongitude=121.4737 -GPSLongitudeRef=E -Artist="Little Endian" \
  "-ThumbnailImage<=thumb.jpg" "$D/photos/le.jpg"

# Big-endian EXIF with GPS and a thumbnail, portrait 480x640.
$IM -size 480x640 gradient:green-white -quality 92 "$D/photos/be.jpg"
exiftool -q -overwrite_original -ExifByteOrder=MM -Make=Pixelwharf -Model=BE-2 \
  -DateTimeOriginal="2020:11:12 13:14:15" -GPSLatitude=39.9042 -GPSLatitudeRef=N \
  -GPSLongitude=116.4074 -GPSLongitudeRef=E -Artist="Big Endian" \
  "-ThumbnailImage<=thumb.jpg" "$D/photos/be.jpg"

# Stored landscape, shown portrait (orientation 6).
$IM -size 640x480 gradient:orange-purple -quality 90 "$D/photos/turned.jpg"
exiftool -q -overwrite_original -ExifByteOrder=II -Orientation#=6 -Make=Pixelwharf \
  -Model=ROT-6 "$D/photos/turned.jpg"

# The same name in another folder, with other tags; an upper-case extension.
$IM -size 800x600 gradient:black-cyan -quality 90 "$D/photos/sub/le.jpg"
exiftool -q -overwrite_original -ExifByteOrder=MM -Make=Other -Model=SUB "$D/photos/sub/le.jpg"
$IM -size 300x200 gradient:white-black -quality 90 "$D/photos/B.JPG"
exiftool -q -overwrite_original -Make=Upper -Model=CASE "$D/photos/B.JPG"

# A name with a space and Chinese characters; a read-only picture.
$IM -size 400x300 gradient:pink-teal -quality 90 "$D/photos/旅行 照片.jpg"
exiftool -q -overwrite_original -Make=Pixelwharf -Model=CJK "$D/photos/旅行 照片.jpg"
$IM -size 360x240 gradient:gray-gold -quality 90 "$D/photos/ro.jpg"
exiftool -q -overwrite_original -Make=Pixelwharf -Model=RO "$D/photos/ro.jpg"
chmod 0444 "$D/photos/ro.jpg"

# A JPEG cut off in the middle of its scan.
$IM -size 640x480 plasma:fractal -quality 95 whole.jpg
head -c $(( $(stat -c %s whole.jpg) / 2 )) whole.jpg > "$D/photos/broken.jpg"

# Pillow: alpha PNG, 3-frame GIF with its own delays, and a
# JPEG with an ICC profile, an XMP packet and a comment.
/usr/bin/python3 - "$D/photos" <<'PY'
import sys
from PIL import Image, ImageCms
d = sys.argv[1]
a = Image.new("RGBA", (200, 100))
for x in range(200):
    for y in range(100):
        a.putpixel((x, y), (x, y * 2, 128, (x + y) % 256))
a.save(d + "/alpha.png")
frames = [Image.new("P", (64, 48), c) for c in (10, 120, 200)]
for i, f in enumerate(frames):
    f.putpalette([v for k in range(256) for v in (k, 255 - k, (k * 7) % 256)])
frames[0].save(d + "/anim.gif", save_all=True, append_images=frames[1:],
               duration=[100, 200, 300], loop=0)
icc = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
xmp = (b'<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>'
       b'<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF '
       b'xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
       b'<rdf:Description xmlns:dc="http://purl.org/dc/elements/1.1/" dc:format="image/jpeg"/>'
       b'</rdf:RDF></x:xmpmeta><?xpacket end="w"?>')
m = Image.new("RGB", (320, 240), (40, 90, 160))
m.save(d + "/meta.jpg", quality=90, icc_profile=icc, comment=b"a comment", xmp=xmp)
PY
exiftool -q -overwrite_original -Make=Pixelwharf -Model=META "$D/photos/meta.jpg"

# An icon of three frames: 16x16, then two 48x48 ones.
$IM -size 16x16 xc:red -size 48x48 xc:green xc:blue "$D/photos/icon.ico"

echo "not a picture" > "$D/photos/README"

# Fixed times, so a kept time is told apart from the time of the run.
find "$D/photos" -type f -exec touch -h -d "2018-11-14 15:30:05.123456789" {} +
cd "$D"
rm -rf "$D/work"
