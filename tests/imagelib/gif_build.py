#!/usr/bin/python3
"""Writes hand-built GIF fixtures for the GIF reader tests.

Every file is assembled block by block here so that each one shows exactly
one feature (disposal 2 and 3, interlace, transparency, local colour tables,
loop blocks, partial frames); the pixel data is valid LZW made of literal
codes, with a clear code before the code width would grow. The tests then
decode each file with Pillow and with our reader and compare frame by frame.

usage: gif_build.py OUTDIR
"""
import os
import struct
import sys


def lzw_literals(indices, min_size):
    clear = 1 << min_size
    width = min_size + 1
    per_clear = (1 << width) - clear - 2
    codes = []
    for i, v in enumerate(indices):
        if i % per_clear == 0:
            codes.append(clear)
        codes.append(v)
    codes.append(clear + 1)
    acc = 0
    bits = 0
    out = bytearray()
    for c in codes:
        acc |= c << bits
        bits += width
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8
    if bits:
        out.append(acc & 0xFF)
    blocks = bytearray([min_size])
    for i in range(0, len(out), 255):
        chunk = out[i:i + 255]
        blocks.append(len(chunk))
        blocks += chunk
    blocks.append(0)
    return bytes(blocks)


def table_code(entries):
    n = len(entries)
    code = 0
    while (2 << code) < n:
        code += 1
    return code


def colour_table(entries):
    code = table_code(entries)
    padded = list(entries) + [(0, 0, 0)] * ((2 << code) - len(entries))
    return code, b"".join(bytes(c) for c in padded)


def gce(disposal=0, transparent=None, delay=10):
    flags = (disposal << 2) | (1 if transparent is not None else 0)
    return b"\x21\xf9\x04" + struct.pack("<BHB", flags, delay, transparent or 0) + b"\x00"


def loop_block(count):
    return b"\x21\xff\x0bNETSCAPE2.0\x03\x01" + struct.pack("<H", count) + b"\x00"


def comment_block(text):
    data = text.encode()
    return b"\x21\xfe" + bytes([len(data)]) + data + b"\x00"


def interlace_order(h):
    rows = []
    for start, step in ((0, 8), (4, 8), (2, 4), (1, 2)):
        rows += list(range(start, h, step))
    return rows


def image(left, top, w, h, pixels, min_size=8, local=None, interlace=False):
    flags = 0x40 if interlace else 0
    table = b""
    if local is not None:
        code, table = colour_table(local)
        flags |= 0x80 | code
    rows = interlace_order(h) if interlace else range(h)
    data = []
    for r in rows:
        data += pixels[r * w:(r + 1) * w]
    return (b"\x2c" + struct.pack("<HHHHB", left, top, w, h, flags) + table +
            lzw_literals(data, min_size))


def gif(w, h, palette, blocks):
    if palette is None:
        head = b"GIF89a" + struct.pack("<HHBBB", w, h, 0, 0, 0)
    else:
        code, table = colour_table(palette)
        head = b"GIF89a" + struct.pack("<HHBBB", w, h, 0x80 | 0x70 | code, 0, 0) + table
    return head + b"".join(blocks) + b"\x3b"


PALETTE = [(0, 0, 0), (255, 0, 0), (0, 200, 0), (0, 0, 255), (255, 255, 0),
           (0, 255, 255), (255, 0, 255), (128, 128, 128)] + [
    (i, 255 - i, (i * 7) & 255) for i in range(8, 256)]


def pattern(w, h, seed, colours=8, skip=()):
    out = []
    for y in range(h):
        for x in range(w):
            v = (x * 3 + y * 5 + seed) % colours
            while v in skip:
                v = (v + 1) % colours
            out.append(v)
    return out


def build(outdir):
    files = {}
    W, H = 23, 17
    full = pattern(W, H, 1, skip=(0,))
    # disposal 2 after a full first frame, then a partial frame with holes
    part = pattern(9, 7, 3)
    files["disposal2.gif"] = gif(W, H, PALETTE, [
        loop_block(0),
        gce(2, 0), image(0, 0, W, H, full),
        gce(1, 0), image(5, 4, 9, 7, part),
    ])
    # disposal 3: the second frame is undone before the third is drawn
    files["disposal3.gif"] = gif(W, H, PALETTE, [
        gce(1, None), image(0, 0, W, H, full),
        gce(3, 0), image(2, 2, 8, 8, pattern(8, 8, 5, skip=(0,))),
        gce(1, 0), image(12, 6, 10, 9, pattern(10, 9, 2)),
    ])
    # transparency in partial frames over an opaque first frame
    files["transparency.gif"] = gif(W, H, PALETTE, [
        gce(1, None), image(0, 0, W, H, full),
        gce(1, 2), image(3, 3, 12, 10, pattern(12, 10, 4)),
        gce(0, 5), image(0, 9, 23, 8, pattern(23, 8, 6)),
    ])
    # a frame with its own colour table covering the whole screen
    local = [(200 - i, i, 100) for i in range(16)]
    files["local_table.gif"] = gif(W, H, PALETTE, [
        loop_block(3),
        gce(1, None), image(0, 0, W, H, full),
        gce(1, None), image(0, 0, W, H, pattern(W, H, 7, colours=16), min_size=4, local=local),
    ])
    # interlaced frames of every small height, and a larger one
    for h in (1, 2, 3, 4, 5, 8, 9, 13, 40):
        files["interlace_%d.gif" % h] = gif(11, h, PALETTE, [
            image(0, 0, 11, h, pattern(11, h, h), interlace=True)])
    # 1-bit and 4-bit tables, a comment, and an empty comment before the image
    files["bilevel.gif"] = gif(13, 6, [(0, 0, 0), (255, 255, 255)], [
        comment_block("two colours"), b"\x21\xfe\x00",
        image(0, 0, 13, 6, pattern(13, 6, 0, colours=2), min_size=2)])
    files["sixteen.gif"] = gif(13, 6, PALETTE[:16], [
        image(0, 0, 13, 6, pattern(13, 6, 0, colours=16), min_size=4)])
    # no global table, several frames, the first smaller than the screen
    files["no_global.gif"] = gif(20, 12, None, [
        gce(1, None), image(0, 0, 10, 6, pattern(10, 6, 1), min_size=3, local=PALETTE[:8]),
        gce(1, None), image(10, 6, 10, 6, pattern(10, 6, 2), min_size=3, local=PALETTE[8:16]),
    ])
    # Local colour tables on frames that leave earlier pixels visible: a
    # partial frame with holes in its own colours, then a partial frame back
    # in the global colours over it.
    warm = [(250 - 9 * i, 40 + 7 * i, 10 * i) for i in range(16)]
    cold = [(10 * i, 60 + 5 * i, 250 - 8 * i) for i in range(16)]
    cold[1] = PALETTE[0]  # an opaque pixel in the colour of the transparent index
    files["local_partial.gif"] = gif(W, H, PALETTE, [
        gce(1, None), image(0, 0, W, H, full),
        gce(1, 3), image(4, 2, 12, 9, pattern(12, 9, 1, colours=16), min_size=4, local=warm),
        gce(1, None), image(9, 8, 10, 7, pattern(10, 7, 4)),
    ])
    # Disposal 3 and 1 with transparency, every frame with its own table;
    # then disposal 2 of a whole-screen frame, after which a partial frame
    # starts again from a cleared screen.
    files["local_disposal3.gif"] = gif(W, H, PALETTE, [
        gce(1, 0), image(0, 0, W, H, full),
        gce(3, 5), image(2, 3, 11, 8, pattern(11, 8, 2, colours=16), min_size=4, local=warm),
        gce(1, 5), image(8, 5, 13, 10, pattern(13, 10, 6, colours=16), min_size=4, local=cold),
        gce(1, 0), image(1, 1, 6, 5, pattern(6, 5, 3)),
        gce(2, 0), image(0, 0, W, H, pattern(W, H, 4, skip=(0,))),
        gce(1, 0), image(5, 4, 9, 8, pattern(9, 8, 2, colours=16), min_size=4, local=warm),
    ])
    # Disposal 2 of a whole-screen frame with its own table: the next frames
    # start from a transparent screen, then draw over each other.
    files["local_disposal2.gif"] = gif(W, H, None, [
        gce(2, 0), image(0, 0, W, H, full, local=PALETTE),
        gce(1, 0), image(3, 3, 12, 9, pattern(12, 9, 5, colours=16), min_size=4, local=warm),
        gce(1, 0), image(7, 6, 14, 10, pattern(14, 10, 1, colours=16), min_size=4, local=cold),
    ])
    # Disposal 2 of a partial frame: only its rectangle goes back to the
    # background (the transparent index), the rest of the screen stays.
    files["disposal2_partial.gif"] = gif(W, H, PALETTE, [
        gce(1, 0), image(0, 0, W, H, full),
        gce(2, 0), image(4, 3, 8, 6, pattern(8, 6, 2, skip=(0,))),
        gce(1, 0), image(10, 8, 9, 7, pattern(9, 7, 5)),
        gce(2, 0), image(0, 0, 5, 4, pattern(5, 4, 1)),
        gce(1, 0), image(2, 1, 6, 6, pattern(6, 6, 3)),
    ])
    # A first frame as wide as the screen but shorter: the screen's own
    # size, the rows below the frame in the background colour, or
    # transparent when the frame names a transparent index.
    files["short_first.gif"] = gif(W, H, PALETTE, [
        gce(1, None), image(0, 0, W, H - 6, pattern(W, H - 6, 2, skip=(0,)))])
    files["short_first_transparent.gif"] = gif(W, H, PALETTE, [
        gce(1, 3), image(0, 0, W, H - 6, pattern(W, H - 6, 4))])
    # The true-colour screen of a file without a global table: transparent
    # pixels, every disposal, and each frame asked for by number.
    files["no_global_disposal.gif"] = gif(20, 12, None, [
        gce(1, 0), image(0, 0, 10, 6, pattern(10, 6, 1), min_size=3, local=PALETTE[:8]),
        gce(2, None), image(10, 6, 10, 6, pattern(10, 6, 2), min_size=3, local=PALETTE[8:16]),
        gce(3, 1), image(5, 3, 10, 6, pattern(10, 6, 3), min_size=3, local=PALETTE[16:24]),
        gce(1, 2), image(0, 4, 12, 8, pattern(12, 8, 4), min_size=3, local=PALETTE[:8]),
        gce(1, None), image(14, 0, 6, 5, pattern(6, 5, 5), min_size=3, local=PALETTE[24:32]),
    ])
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    build(sys.argv[1])
