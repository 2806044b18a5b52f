#!/usr/bin/python3
"""Builds the EXIF test pictures into the folder given as argument.

Every picture is made by peer programs at test time: ImageMagick 6
(convert-im6.q16) or Pillow for the pixels and the ICC profile, exiftool for
the tags. The only hand-made bytes are the Nikon maker note, which exiftool
cannot create from nothing; exiftool writes it into the file as part of a
whole EXIF block and then tags the file further.
"""
import os
import struct
import subprocess
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def path(name):
    return os.path.join(out, name)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def exiftool(name, *tags):
    run("exiftool", "-q", "-overwrite_original", *tags, path(name))


COMMON = ["-Make=Pixelwharf Test", "-Model=Fixture 1", "-Software=exiftool",
          "-DateTimeOriginal=2018:11:14 09:05:00", "-CreateDate=2018:11:14 09:05:00",
          "-ExposureTime=1/125", "-FNumber=2.8", "-ISO=200", "-FocalLength=35",
          "-XResolution=72", "-YResolution=72", "-ResolutionUnit=inches",
          "-YCbCrPositioning=Centered"]
GPS = ["-GPSLatitude=35.5", "-GPSLatitudeRef=N", "-GPSLongitude=120.25",
       "-GPSLongitudeRef=E", "-GPSAltitude=12.5", "-GPSAltitudeRef=0"]


def sizes(name, w, h):
    return ["-ExifImageWidth=%d" % w, "-ExifImageHeight=%d" % h]


# Thumbnail shared by the tagged pictures.
run("convert-im6.q16", "-size", "40x30", "gradient:navy-gold", "-quality", "80", path("thumb.jpg"))

# Big-endian (exiftool's default) with GPS and a thumbnail.
run("convert-im6.q16", "-size", "96x64", "gradient:red-blue", "-quality", "90", path("be.jpg"))
exiftool("be.jpg", *COMMON, *GPS, *sizes("be.jpg", 96, 64), "-InteropIndex=R98",
         "-ThumbnailImage<=" + path("thumb.jpg"))

# Little-endian, same tags.
run("convert-im6.q16", "-size", "96x64", "gradient:green-yellow", "-quality", "90", path("le.jpg"))
exiftool("le.jpg", "-ExifByteOrder=II", *COMMON, *GPS, *sizes("le.jpg", 96, 64),
         "-ThumbnailImage<=" + path("thumb.jpg"))

# ICC profile (Pillow, littlecms sRGB), XMP and a comment.
from PIL import Image, ImageCms  # noqa: E402
icc = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
Image.new("RGB", (64, 48), (200, 30, 40)).save(path("icc.jpg"), quality=90, icc_profile=icc)
exiftool("icc.jpg", *COMMON, *sizes("icc.jpg", 64, 48), "-XMP-dc:Title=Harbour",
         "-XMP-dc:Creator=Tester", "-Comment=a comment that must survive")

# Adobe CMYK (APP14 "Adobe", four components).
run("convert-im6.q16", "-size", "48x32", "gradient:cyan-magenta", "-colorspace", "CMYK",
    "-quality", "90", path("cmyk.jpg"))
exiftool("cmyk.jpg", *COMMON, *sizes("cmyk.jpg", 48, 32))


# Nikon type-3 maker note: it carries its own TIFF header, so its inner
# offsets stay right wherever the note is moved.
def tiff_ifd(entries, start, big=True):
    """entries: (tag, type, count, value bytes); returns IFD bytes + data."""
    e = ">" if big else "<"
    n = len(entries)
    ifd = struct.pack(e + "H", n)
    data = b""
    data_at = start + 2 + 12 * n + 4
    for tag, typ, cnt, val in entries:
        if len(val) <= 4:
            ifd += struct.pack(e + "HHI", tag, typ, cnt) + val.ljust(4, b"\0")
        else:
            ifd += struct.pack(e + "HHII", tag, typ, cnt, data_at + len(data))
            data += val + (b"\0" if len(val) % 2 else b"")
    return ifd + struct.pack(e + "I", 0) + data


inner = tiff_ifd([(0x0002, 3, 2, struct.pack(">HH", 0, 200)),
                  (0x0004, 2, 8, b"FINE   \0"),
                  (0x0005, 2, 13, b"AUTO        \0")], 8)
makernote = b"Nikon\0\x02\x10\0\0" + b"MM\0\x2a" + struct.pack(">I", 8) + inner


def rational(n, d):
    return struct.pack(">II", n, d)


ifd0_entries_base = [
    (0x010F, 2, 18, b"NIKON CORPORATION\0"),
    (0x0110, 2, 10, b"NIKON D70\0"),
    (0x011A, 5, 1, rational(300, 1)),
    (0x011B, 5, 1, rational(300, 1)),
    (0x0128, 3, 1, struct.pack(">H", 2)),
    (0x0213, 3, 1, struct.pack(">H", 2)),
]
# Lay out IFD0 (with the pointer), then the EXIF IFD behind it.
ifd0_len = len(tiff_ifd(ifd0_entries_base + [(0x8769, 4, 1, b"\0\0\0\0")], 8))
exif_at = 8 + ifd0_len
ifd0 = tiff_ifd(ifd0_entries_base + [(0x8769, 4, 1, struct.pack(">I", exif_at))], 8)
exif_ifd = tiff_ifd([
    (0x829A, 5, 1, rational(1, 250)),
    (0x9000, 7, 4, b"0230"),
    (0x9003, 2, 20, b"2019:05:06 07:08:09\0"),
    (0x9101, 7, 4, b"\x01\x02\x03\x00"),
    (0x927C, 7, len(makernote), makernote),
    (0xA000, 7, 4, b"0100"),
    (0xA001, 3, 1, struct.pack(">H", 1)),
    (0xA002, 4, 1, struct.pack(">I", 64)),
    (0xA003, 4, 1, struct.pack(">I", 48)),
], exif_at)
with open(path("nikon_exif.bin"), "wb") as f:
    f.write(b"MM\0\x2a" + struct.pack(">I", 8) + ifd0 + exif_ifd)
Image.new("RGB", (64, 48), (20, 120, 40)).save(path("makernote.jpg"), quality=90)
exiftool("makernote.jpg", "-EXIF<=" + path("nikon_exif.bin"))
exiftool("makernote.jpg", "-Artist=Maker Note Test", "-ISO=400")

# No JFIF and no EXIF segment at all: only the tables and the scan.
run("convert-im6.q16", "-size", "50x40", "gradient:white-black", "-quality", "90", path("bare.jpg"))
exiftool("bare.jpg", "-all=", "-JFIF:all=")
