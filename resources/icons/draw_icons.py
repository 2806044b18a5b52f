#!/usr/bin/python3
"""Draws the program's PNG icons. Run by hand after changing a picture:
    /usr/bin/python3 resources/icons/draw_icons.py
Every icon is drawn at 4x size and scaled down, for smooth edges."""
from PIL import Image, ImageDraw
import os

HERE = os.path.dirname(os.path.abspath(__file__))
S = 4  # supersampling factor


def canvas(n=32):
    img = Image.new("RGBA", (n * S, n * S), (0, 0, 0, 0))
    return img, ImageDraw.Draw(img)


def box(d, x0, y0, x1, y1, fill, outline=(60, 60, 60, 255), w=1, r=0):
    rect = [x0 * S, y0 * S, x1 * S, y1 * S]
    if r:
        d.rounded_rectangle(rect, radius=r * S, fill=fill, outline=outline, width=w * S)
    else:
        d.rectangle(rect, fill=fill, outline=outline, width=w * S)


def line(d, pts, fill, w=2):
    d.line([(x * S, y * S) for x, y in pts], fill=fill, width=w * S, joint="curve")


def poly(d, pts, fill, outline=None):
    d.polygon([(x * S, y * S) for x, y in pts], fill=fill, outline=outline)


def ellipse(d, x0, y0, x1, y1, fill, outline=None, w=1):
    d.ellipse([x0 * S, y0 * S, x1 * S, y1 * S], fill=fill, outline=outline, width=w * S)


def picture(d, x0, y0, x1, y1):
    """A small landscape photo: sky, sun and a hill."""
    box(d, x0, y0, x1, y1, (120, 180, 235, 255))
    ellipse(d, x1 - 9, y0 + 3, x1 - 4, y0 + 8, (255, 210, 60, 255))
    poly(d, [(x0 + 1, y1 - 1), (x0 + (x1 - x0) * 0.4, y0 + (y1 - y0) * 0.45),
             (x0 + (x1 - x0) * 0.7, y1 - 5), (x1 - 1, y1 - 1)], (70, 150, 70, 255))


def folder(d, x0, y0, x1, y1):
    poly(d, [(x0, y0 + 3), (x0 + 8, y0 + 3), (x0 + 10, y0), (x0 + 18, y0), (x0 + 18, y0 + 3),
             (x1, y0 + 3), (x1, y1), (x0, y1)], (240, 190, 70, 255), (150, 110, 30, 255))
    box(d, x0, y0 + 6, x1, y1, (250, 210, 100, 255), (150, 110, 30, 255))


def page(d, x0=7, y0=3, x1=25, y1=29):
    poly(d, [(x0, y0), (x1 - 6, y0), (x1, y0 + 6), (x1, y1), (x0, y1)], (255, 255, 255, 255),
         (70, 70, 70, 255))
    poly(d, [(x1 - 6, y0), (x1 - 6, y0 + 6), (x1, y0 + 6)], (210, 210, 210, 255), (70, 70, 70, 255))


def arrow(d, pts, fill=(30, 110, 200, 255), w=3):
    line(d, pts, fill, w)
    (xa, ya), (xb, yb) = pts[-2], pts[-1]
    dx, dy = xb - xa, yb - ya
    n = max(abs(dx), abs(dy)) or 1
    dx, dy = dx / n, dy / n
    px, py = -dy, dx
    poly(d, [(xb + dx * 3, yb + dy * 3), (xb - dx * 3 + px * 4, yb - dy * 3 + py * 4),
             (xb - dx * 3 - px * 4, yb - dy * 3 - py * 4)], fill)


def save(img, name, sizes=(32, 16)):
    for n in sizes:
        out = img.resize((n, n), Image.LANCZOS)
        suffix = "" if n == 32 else "_%d" % n
        out.save(os.path.join(HERE, name + suffix + ".png"))


def icon_open():
    img, d = canvas(); folder(d, 2, 7, 29, 27); arrow(d, [(16, 22), (16, 12)]); return img


def icon_pximage_open():
    img, d = canvas(); folder(d, 2, 9, 22, 27); picture(d, 14, 3, 30, 17); return img


def icon_statusbar():
    img, d = canvas(); box(d, 3, 5, 29, 27, (250, 250, 250, 255))
    box(d, 3, 5, 29, 9, (90, 140, 210, 255)); box(d, 3, 22, 29, 27, (190, 200, 215, 255))
    box(d, 6, 24, 14, 25, (60, 160, 60, 255), None); return img


def icon_pixvalue():
    img, d = canvas()
    for i, c in enumerate([(220, 50, 50, 255), (50, 170, 50, 255), (50, 90, 220, 255)]):
        box(d, 4 + i * 9, 24 - (i + 2) * 5, 10 + i * 9, 27, c)
    return img


def icon_yreverse():
    img, d = canvas(); line(d, [(8, 4), (8, 28), (28, 28)], (60, 60, 60, 255), 2)
    arrow(d, [(18, 8), (18, 22)], (200, 80, 30, 255)); return img


def icon_cvt8():
    img, d = canvas(); picture(d, 3, 5, 29, 27)
    box(d, 14, 14, 29, 29, (40, 40, 40, 230), None)
    d.text((17 * S, 14 * S), "8", fill=(255, 255, 255, 255), font_size=13 * S); return img


def icon_paste():
    img, d = canvas(); box(d, 5, 6, 22, 29, (200, 150, 90, 255), r=2)
    box(d, 10, 3, 17, 8, (170, 170, 170, 255)); page(d, 14, 12, 29, 30); return img


def icon_cut():
    img, d = canvas(); line(d, [(10, 4), (20, 20)], (90, 90, 90, 255), 2)
    line(d, [(22, 4), (12, 20)], (90, 90, 90, 255), 2)
    ellipse(d, 5, 19, 13, 27, None, (200, 40, 40, 255), 2)
    ellipse(d, 19, 19, 27, 27, None, (200, 40, 40, 255), 2); return img


def icon_copy():
    img, d = canvas(); page(d, 4, 3, 20, 23); page(d, 12, 9, 28, 29); return img


def icon_selectall():
    img, d = canvas(); page(d)
    d.rectangle([5 * S, 2 * S, 27 * S, 30 * S], outline=(30, 110, 200, 255), width=S)
    return img


def icon_classify():
    img, d = canvas(); folder(d, 2, 4, 14, 14); folder(d, 17, 4, 29, 14)
    folder(d, 2, 17, 14, 27); folder(d, 17, 17, 29, 27); return img


def icon_resize():
    img, d = canvas(); picture(d, 3, 11, 19, 27)
    d.rectangle([3 * S, 4 * S, 28 * S, 27 * S], outline=(30, 110, 200, 255), width=S)
    arrow(d, [(18, 13), (25, 7)], (30, 110, 200, 255), 2); return img


def icon_cloneexif():
    img, d = canvas(); picture(d, 2, 4, 16, 16); picture(d, 15, 16, 29, 28)
    arrow(d, [(9, 18), (9, 24), (12, 24)], (200, 80, 30, 255), 2); return img


def icon_convertor():
    img, d = canvas(); page(d, 3, 3, 17, 22); picture(d, 15, 12, 29, 28)
    arrow(d, [(9, 24), (9, 27), (12, 27)], (30, 110, 200, 255), 2); return img


def icon_merge():
    img, d = canvas(); picture(d, 2, 8, 16, 24); picture(d, 16, 8, 30, 24); return img


def icon_new():
    img, d = canvas(); page(d); return img


def icon_save():
    img, d = canvas(); box(d, 4, 4, 28, 28, (40, 90, 170, 255), r=2)
    box(d, 9, 4, 23, 13, (235, 235, 235, 255)); box(d, 8, 18, 24, 28, (250, 250, 250, 255)); return img


def icon_print():
    img, d = canvas(); page(d, 9, 3, 23, 14); box(d, 3, 12, 29, 24, (150, 150, 160, 255), r=2)
    box(d, 9, 20, 23, 29, (255, 255, 255, 255)); return img


def icon_about():
    img, d = canvas(); ellipse(d, 3, 3, 29, 29, (40, 110, 200, 255))
    box(d, 14, 13, 18, 24, (255, 255, 255, 255), None); ellipse(d, 14, 7, 18, 11, (255, 255, 255, 255))
    return img


def icon_look():
    img, d = canvas()
    for i, c in enumerate([(90, 140, 210, 255), (60, 60, 60, 255), (190, 195, 205, 255), (80, 190, 190, 255)]):
        box(d, 4 + (i % 2) * 12, 4 + (i // 2) * 12, 15 + (i % 2) * 12, 15 + (i // 2) * 12, c, r=2)
    return img


def icon_app():
    img, d = canvas(); box(d, 1, 3, 31, 29, (30, 70, 130, 255), None, r=4)
    picture(d, 5, 7, 27, 25); return img


def icon_filemenu():
    img, d = canvas(); box(d, 2, 2, 30, 30, (30, 90, 170, 255), None, r=6)
    picture(d, 7, 8, 25, 24); return img


if __name__ == "__main__":
    for name, fn in list(globals().items()):
        if name.startswith("icon_"):
            save(fn(), name[5:])
    app = icon_app()
    for n in (48, 128):
        app.resize((n, n), Image.LANCZOS).save(os.path.join(HERE, "app_%d.png" % n))
