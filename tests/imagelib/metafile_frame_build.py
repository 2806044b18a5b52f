#!/usr/bin/python3
"""Writes placeable WMF fixtures whose frame does not start at 0,0 or whose
window has another shape than the frame, each beside the same drawing with
its window stated in explicit SetWindowOrg and SetWindowExt records.

Each file draws one red rectangle on white (as metafile_build.py does); the
tests compare each picture with its explicit twin and with where the
rectangle must lie.

usage: metafile_frame_build.py OUTDIR
"""
import os
import struct
import sys

RED = 0x000000FF  # COLORREF 0x00BBGGRR


def record(function, *params):
    return struct.pack('<IH', 3 + len(params), function) + b''.join(struct.pack('<h', p) for p in params)


def placeable(box, inch, rect, map_mode=None, origin=None, extent=None, before=b''):
    """box: the placeable frame left, top, right, bottom; rect likewise.
    map_mode, origin (x, y), extent (x, y): records written only when given;
    before: records of its own ahead of the drawing."""
    records = b''.join([
        record(0x0103, map_mode) if map_mode is not None else b'',
        record(0x020B, origin[1], origin[0]) if origin is not None else b'',  # SetWindowOrg y, x
        record(0x020C, extent[1], extent[0]) if extent is not None else b'',  # SetWindowExt y, x
        before,
        struct.pack('<IHHIH', 7, 0x02FC, 0, RED, 0),        # CreateBrushIndirect: solid red
        record(0x012D, 0),                                  # SelectObject 0
        struct.pack('<IHHhhI', 8, 0x02FA, 5, 0, 0, 0),      # CreatePenIndirect: null pen
        record(0x012D, 1),                                  # SelectObject 1
        record(0x041B, rect[3], rect[2], rect[1], rect[0]),  # Rectangle b, r, t, l
        struct.pack('<IH', 3, 0),                           # end of file
    ])
    words = (18 + len(records)) // 2
    header = struct.pack('<HHHIHIH', 1, 9, 0x0300, words, 2, 8, 0)
    words10 = struct.pack('<IHhhhhH', 0x9AC6CDD7, 0, *box, inch) + struct.pack('<I', 0)
    checksum = 0
    for (w,) in struct.iter_unpack('<H', words10):
        checksum ^= w
    return words10 + struct.pack('<H', checksum) + header + records


def main():
    out = sys.argv[1]
    files = {}
    # Name: (frame, rectangle, map mode, window origin and extent left open
    # by the file). The twin "<name>-explicit.wmf" states the window the
    # frame implies (or the file's own where it sets one).
    cases = {
        # A frame above the axis: 1000 x 800 units at 1000 per inch, 96 x 77.
        'above': ((0, -800, 1000, 0), (100, -700, 900, -100), None),
        # A frame to the right of the axis.
        'right': ((3000, 0, 4000, 800), (3100, 100, 3900, 700), None),
        # Both, with an anisotropic mapping and no window records.
        'aniso-above': ((0, -800, 1000, 0), (100, -700, 900, -100), 8),
    }
    for name, (box, rect, mode) in cases.items():
        files[name + '.wmf'] = placeable(box, 1000, rect, mode)
        files[name + '-explicit.wmf'] = placeable(box, 1000, rect, mode, (box[0], box[1]),
                                                  (box[2] - box[0], box[3] - box[1]))
    # A window of 2000 x 800 in a frame of 1000 x 800; the rectangle fills
    # the window. Isotropic: a band of half the height in the middle;
    # anisotropic: the whole picture.
    frame = (0, 0, 1000, 800)
    # A window of 2000 x 800 in a frame of 1000 x 800; the rectangle fills
    # the window. Isotropic keeps the aspect: a band of half the height in
    # the middle, as the window grown to the frame's shape (2000 x 1600,
    # from 0,-400) draws it; anisotropic stretches it over the picture.
    files['iso-wide.wmf'] = placeable(frame, 1000, (0, 0, 2000, 800), 7, (0, 0), (2000, 800))
    files['iso-wide-explicit.wmf'] = placeable(frame, 1000, (0, 0, 2000, 800), 8, (0, -400), (2000, 1600))
    files['aniso-wide.wmf'] = placeable(frame, 1000, (0, 0, 2000, 800), 8, (0, 0), (2000, 800))
    # The window tall (1000 x 1600): a band of half the width in the middle.
    files['iso-tall.wmf'] = placeable(frame, 1000, (0, 0, 1000, 1600), 7, (0, 0), (1000, 1600))
    files['iso-tall-explicit.wmf'] = placeable(frame, 1000, (0, 0, 1000, 1600), 8, (-500, 0), (2000, 1600))
    # Isotropic in a frame above the axis, the window its own shape: the frame.
    files['iso-frame.wmf'] = placeable((0, -800, 1000, 0), 1000, (100, -700, 900, -100), 7, (0, -800), (1000, 800))
    # Anisotropic with an origin of its own: the rectangle is the window's
    # upper left quarter.
    files['aniso-shift.wmf'] = placeable(frame, 1000, (1000, 400, 2000, 800), 8, (1000, 400), (2000, 800))
    # MM_TEXT ignores the window's extent: one unit is one unit of the frame.
    files['text-wide.wmf'] = placeable(frame, 1000, (100, 80, 900, 720), 1, (0, 0), (2000, 800))
    files['text-wide-explicit.wmf'] = placeable(frame, 1000, (100, 80, 900, 720), None, (0, 0), (1000, 800))
    # A window set between SaveDC and RestoreDC is gone after the restore.
    saved = record(0x001E) + record(0x020C, 1600, 2000) + record(0x020B, -400, 0) + record(0x0127, -1)
    files['restored.wmf'] = placeable(frame, 1000, (100, 80, 900, 720), 8, None, None, saved)
    files['restored-explicit.wmf'] = placeable(frame, 1000, (100, 80, 900, 720), 8, (0, 0), (1000, 800))
    # A frame 40000 units wide (across 0: no 16-bit extent can say it) at
    # 2540 per inch, 1512 x 38; its twin is the same drawing at half the
    # units, its window stated.
    files['wide.wmf'] = placeable((-20000, 0, 20000, 1000), 2540, (-10000, 250, 10000, 750))
    files['wide-explicit.wmf'] = placeable((-10000, 0, 10000, 500), 1270, (-5000, 125, 5000, 375), None,
                                           (-10000, 0), (20000, 500))
    for name, data in files.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
