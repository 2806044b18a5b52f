#!/usr/bin/python3
"""Writes hand-built metafile fixtures for the WMF and EMF reader tests.

Each file is a few records assembled with struct: a solid red brush, a null
pen, one filled rectangle at a known place, the end record. The tests check
that the rectangle comes out red at its place and the rest white.

usage: metafile_build.py OUTDIR
"""
import os
import struct
import sys

RED = 0x000000FF  # COLORREF 0x00BBGGRR


def wmf_record(function, *params):
    return struct.pack('<IH', 3 + len(params), function) + b''.join(struct.pack('<h', p) for p in params)


def placeable_wmf(box, inch, rect, window, map_mode=None):
    """box: left, top, right, bottom in metafile units; rect likewise.
    map_mode: a SetMapMode record ahead of the window records, or none."""
    records = b''.join([
        wmf_record(0x0103, map_mode) if map_mode is not None else b'',
        wmf_record(0x020B, window[1], window[0]),          # SetWindowOrg y, x
        wmf_record(0x020C, window[3], window[2]),          # SetWindowExt y, x
        # CreateBrushIndirect: style 0 (solid), colour, hatch
        struct.pack('<IHHIH', 7, 0x02FC, 0, RED, 0),
        wmf_record(0x012D, 0),                             # SelectObject 0
        # CreatePenIndirect: style 5 (null), width 0, 0, colour
        struct.pack('<IHHhhI', 8, 0x02FA, 5, 0, 0, 0),
        wmf_record(0x012D, 1),                             # SelectObject 1
        wmf_record(0x041B, rect[3], rect[2], rect[1], rect[0]),  # Rectangle b, r, t, l
        struct.pack('<IH', 3, 0),                          # end of file
    ])
    words = (18 + len(records)) // 2
    header = struct.pack('<HHHIHIH', 1, 9, 0x0300, words, 2, 8, 0)
    words10 = struct.pack('<IHhhhhH', 0x9AC6CDD7, 0, box[0], box[1], box[2], box[3], inch) + struct.pack('<I', 0)
    checksum = 0
    for (w,) in struct.iter_unpack('<H', words10):
        checksum ^= w
    return words10 + struct.pack('<H', checksum) + header + records


def emf(bounds, rect, header_size=108):
    """header_size 88: the header of the first enhanced metafile version,
    without the pixel format and the size in micrometres."""
    body = b''.join([
        struct.pack('<IIIIII', 39, 24, 1, 0, RED, 0),      # CreateBrushIndirect
        struct.pack('<III', 37, 12, 1),                    # SelectObject brush
        struct.pack('<III', 37, 12, 0x80000008),           # SelectObject NULL_PEN
        struct.pack('<IIiiii', 43, 24, *rect),             # Rectangle
    ])
    eof = struct.pack('<IIIII', 14, 20, 0, 16, 20)
    total = header_size + len(body) + len(eof)
    # The bounds are inclusive: (0, 0, 199, 99) is 200 x 100 pixels.
    w, h = bounds[2] - bounds[0] + 1, bounds[3] - bounds[1] + 1
    frame = (0, 0, w * 2540 // 96, h * 2540 // 96)   # hundredths of a millimetre at 96 dpi
    header = struct.pack('<II4i4iIIIIHHIIIiiiiIII ii', 1, header_size, *bounds, *frame, 0x464D4520, 0x10000,
                         total, 6, 2, 0, 0, 0, 0, 1920, 1080, 508, 286, 0, 0, 0, 508000, 286000)[:header_size]
    return header + body + eof


def main():
    out = sys.argv[1]
    files = {
        # 2000 x 1000 units at 1000 per inch: 192 x 96 at 96 dpi; red at 48..144, 24..72.
        'rect.wmf': placeable_wmf((0, 0, 2000, 1000), 1000, (500, 250, 1500, 750), (0, 0, 2000, 1000)),
        # The same picture with frames that do not start at 0,0.
        'offset.wmf': placeable_wmf((500, 300, 2500, 1300), 1000, (1000, 550, 2000, 1050), (500, 300, 2000, 1000)),
        'negative.wmf': placeable_wmf((-500, -300, 1500, 700), 1000, (0, -50, 1000, 450), (-500, -300, 2000, 1000)),
        # Files that set their own mapping mode: the frame still maps the box
        # (0..1000 at 1440 per inch: 67 x 67) onto the picture, red at 10%..90%.
        'anisotropic.wmf': placeable_wmf((0, 0, 1000, 1000), 1440, (100, 100, 900, 900), (0, 0, 1000, 1000), 8),
        'mmtext.wmf': placeable_wmf((0, 0, 1000, 1000), 1440, (100, 100, 900, 900), (0, 0, 1000, 1000), 1),
        # Rectangles in the upper part of the picture: a picture upside down
        # shows them in the lower part.
        'upper.wmf': placeable_wmf((0, 0, 2000, 1000), 1000, (500, 100, 1500, 400), (0, 0, 2000, 1000)),
        'upper.emf': emf((0, 0, 199, 99), (50, 10, 150, 40)),
        'v1.emf': emf((0, 0, 199, 99), (50, 10, 150, 40), 88),
        'rect.emf': emf((0, 0, 199, 99), (50, 25, 150, 75)),
        # 8000 x 2000 device units: drawn at 4000 x 1000.
        'wide.emf': emf((0, 0, 7999, 1999), (2000, 500, 6000, 1500)),
        # 8000 x 1: the short side would scale to 0 pixels; it keeps 1.
        'thin.emf': emf((0, 0, 7999, 0), (0, 0, 8000, 1)),
        'empty.emf': emf((10, 10, 9, 50), (0, 0, 1, 1)),
        'empty.wmf': placeable_wmf((5, 5, 5, 100), 1000, (0, 0, 1, 1), (0, 0, 1, 1)),
    }
    bad = bytearray(files['rect.wmf'])
    bad[20] ^= 0xFF  # checksum
    files['badsum.wmf'] = bytes(bad)
    for name, data in files.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
