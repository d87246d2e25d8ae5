#!/usr/bin/env python3
"""Draws the shell extension's animations (RLE8 AVI clips) and its icons, into the folder of this script.

Each clip loops a few frames: a sheet of paper travels from one folder to another (copy, move), falls into a bin
(delete) or passes under a magnifier (integrity check). The wide clips fill the banner band of the progress window on
a dark blue ground, their pictures at the right end (the banner's text runs from the left); the small clips sit on
the button face of the classic window. The wait dialog's clips show a storage's blocks on the same face: a magnifier
goes over them (analysis), or they close up one by one (defragmentation). The icons: the product's own, the three
overlays (frozen, inaccessible, key attached: a small picture in the lower left corner of a clear icon) and the
tools page's group icons. Run it again after changing a drawing.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Palette: index -> (r, g, b)
PALETTE = [
    (0, 0, 0), (255, 255, 255), (192, 192, 192), (32, 56, 104), (236, 190, 72), (190, 140, 40),
    (80, 120, 200), (200, 60, 50), (110, 110, 110), (60, 150, 80), (150, 200, 240), (20, 36, 70),
]
BLACK, WHITE, FACE, NAVY, GOLD, DARK_GOLD, BLUE, RED, GREY, GREEN, SKY, DEEP = range(12)


class Frame:
    def __init__(self, width, height, ground):
        self.width, self.height = width, height
        self.pixels = [bytearray([ground]) * width for _ in range(height)]

    def rect(self, x, y, w, h, colour):
        for row in range(max(0, y), min(self.height, y + h)):
            for col in range(max(0, x), min(self.width, x + w)):
                self.pixels[row][col] = colour

    def frame_rect(self, x, y, w, h, colour):
        self.rect(x, y, w, 1, colour)
        self.rect(x, y + h - 1, w, 1, colour)
        self.rect(x, y, 1, h, colour)
        self.rect(x + w - 1, y, 1, h, colour)

    def folder(self, x, y):
        self.rect(x, y + 2, 9, 3, DARK_GOLD)
        self.rect(x, y + 4, 22, 14, GOLD)
        self.frame_rect(x, y + 4, 22, 14, DARK_GOLD)

    def paper(self, x, y):
        self.rect(x, y, 10, 13, WHITE)
        self.frame_rect(x, y, 10, 13, GREY)
        for line in range(3, 11, 3):
            self.rect(x + 2, y + line, 6, 1, BLUE)

    def bin(self, x, y):
        self.rect(x, y, 18, 2, GREY)
        self.rect(x + 2, y + 3, 14, 15, GREY)
        for col in range(x + 5, x + 15, 4):
            self.rect(col, y + 5, 1, 11, WHITE)

    def glass(self, x, y):
        self.frame_rect(x, y, 9, 9, BLACK)
        self.rect(x + 1, y + 1, 7, 7, SKY)
        for step in range(5):
            self.rect(x + 8 + step, y + 8 + step, 2, 2, BLACK)

    def rle8(self):
        """The frame bottom-up in RLE8's encoded mode: (count, colour) pairs, end of line, end of bitmap."""
        out = bytearray()
        for row in reversed(self.pixels):
            col = 0
            while col < self.width:
                run = 1
                while col + run < self.width and run < 255 and row[col + run] == row[col]:
                    run += 1
                out += bytes([run, row[col]])
                col += run
            out += b"\x00\x00"
        out[-2:] = b"\x00\x01"
        return bytes(out)


def clip(kind, width, height, ground, frames=8):
    drawn = []
    right = width - 100  # the pictures' place: the band's right end, clear of the banner's text
    top = (height - 20) // 2
    for step in range(frames):
        f = Frame(width, height, ground)
        if ground == NAVY:
            f.rect(0, height - 3, width, 3, DEEP)
        t = step / (frames - 1)
        if kind in ("copy", "move"):
            f.folder(right, top)
            f.folder(right + 70, top)
            x = right + 6 + int(58 * t)
            arc = int(8 * (1 - (2 * t - 1) ** 2))
            f.paper(x, top + 2 - arc)
            if kind == "move" and step < frames // 2:
                f.rect(right + 6, top + 8, 10, 2, RED)
        elif kind == "delete":
            f.bin(right + 60, top + 2)
            f.paper(right + 10 + int(48 * t), top - 4 + int(10 * t * t))
        else:  # check
            f.paper(right + 20, top + 3)
            f.paper(right + 40, top + 3)
            f.glass(right + 10 + int(40 * t), top + 2)
            if step == frames - 1:
                f.rect(right + 70, top + 8, 6, 6, GREEN)
        drawn.append(f)
    return drawn


def chunk(tag, data):
    pad = b"\x00" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad


def avi(frames, fps=8):
    width, height = frames[0].width, frames[0].height
    bodies = [f.rle8() for f in frames]
    biggest = max(len(b) for b in bodies)
    avih = struct.pack("<IIIIIIIIII4I", 1000000 // fps, biggest * fps, 0, 0x10, len(frames), 0, 1, biggest, width,
                       height, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"mrle", 0, 0, 0, 0, 1, fps, 0, len(frames), biggest,
                       0xFFFFFFFF, 0, 0, 0, width, height)
    strf = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, biggest, 0, 0, len(PALETTE), len(PALETTE))
    strf += b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    strl = b"LIST" + struct.pack("<I", 4 + len(chunk(b"strh", strh)) + len(chunk(b"strf", strf))) + b"strl"
    strl += chunk(b"strh", strh) + chunk(b"strf", strf)
    hdrl_body = b"hdrl" + chunk(b"avih", avih) + strl
    hdrl = b"LIST" + struct.pack("<I", len(hdrl_body)) + hdrl_body
    movi_body = b"movi"
    index = b""
    for body in bodies:
        index += struct.pack("<4sIII", b"00dc", 0x10, len(movi_body), len(body))
        movi_body += chunk(b"00dc", body)
    movi = b"LIST" + struct.pack("<I", len(movi_body)) + movi_body
    riff_body = b"AVI " + hdrl + movi + chunk(b"idx1", index)
    return b"RIFF" + struct.pack("<I", len(riff_body)) + riff_body


def ico(images):
    """An icon file of 32-bit images, each (size, rows of (r, g, b, a) from the top)."""
    entries = []
    for size, rows in images:
        pixels = b"".join(bytes(v for (r, g, b, a) in row for v in (b, g, r, a)) for row in reversed(rows))
        stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(rows):
            bits = bytearray(stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        entries.append((size, header + pixels + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, data in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in entries)


def icon():
    """A 32x32 and a 16x16 picture: a gold safe door with a dark dial."""
    images = []
    for size in (32, 16):
        rows = []
        for y in range(size):
            row = []
            for x in range(size):
                edge = x in (0, size - 1) or y in (0, size - 1)
                cx, cy = x - size / 2 + 0.5, y - size / 2 + 0.5
                dial = cx * cx + cy * cy <= (size / 5) ** 2
                hub = cx * cx + cy * cy <= (size / 14) ** 2
                row.append(PALETTE[DARK_GOLD if edge else NAVY if dial and not hub else GOLD] + (255,))
            rows.append(row)
        images.append((size, rows))
    return ico(images)


# Smooth pictures for the other icons: shapes are functions (x, y) -> bool over the unit square (y downwards),
# painted in order and sampled several times per axis.

def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, outer, inner):
    return lambda x, y: inner * inner <= (x - cx) ** 2 + (y - cy) ** 2 <= outer * outer


def box(x0, y0, x1, y1, radius=0.0):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        dx = max(x0 + radius - x, 0, x - (x1 - radius))
        dy = max(y0 + radius - y, 0, y - (y1 - radius))
        return dx * dx + dy * dy <= radius * radius
    return inside


def segment(ax, ay, bx, by, width):
    length2 = (bx - ax) ** 2 + (by - ay) ** 2

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - ax) * (bx - ax) + (y - ay) * (by - ay)) / length2))
        return (x - ax - t * (bx - ax)) ** 2 + (y - ay - t * (by - ay)) ** 2 <= (width / 2) ** 2
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def outline(shape, width=0.05):
    return lambda x, y: any(shape(x + dx, y + dy) for dx in (-width, 0, width) for dy in (-width, 0, width))


def snowflake():
    arms = []
    for k in range(6):
        a = k * math.pi / 3
        arms.append(segment(0.5, 0.5, 0.5 + 0.42 * math.cos(a), 0.5 + 0.42 * math.sin(a), 0.1))
        mx, my = 0.5 + 0.27 * math.cos(a), 0.5 + 0.27 * math.sin(a)
        for side in (-1, 1):
            b = a + side * math.pi / 4
            arms.append(segment(mx, my, mx + 0.13 * math.cos(b), my + 0.13 * math.sin(b), 0.08))
    lines = union(*arms)
    return [(outline(lines), (255, 255, 255, 255)), (lines, (40, 110, 200, 255))]


def key():
    shape = union(ring(0.3, 0.35, 0.24, 0.1), segment(0.45, 0.5, 0.86, 0.88, 0.13),
                  segment(0.72, 0.75, 0.86, 0.62, 0.1), segment(0.62, 0.66, 0.72, 0.55, 0.1))
    return [(outline(shape), PALETTE[DARK_GOLD] + (255,)), (shape, PALETTE[GOLD] + (255,))]


def no_entry():
    return [(disc(0.5, 0.5, 0.47), (255, 255, 255, 255)), (disc(0.5, 0.5, 0.42), PALETTE[RED] + (255,)),
            (box(0.2, 0.41, 0.8, 0.59, 0.04), (255, 255, 255, 255))]


def blocks():
    colours = [BLUE, RED, GREEN, GOLD]
    drawn = [(box(0.04, 0.04, 0.96, 0.96, 0.06), PALETTE[GREY] + (255,)),
             (box(0.08, 0.08, 0.92, 0.92, 0.04), (250, 250, 250, 255))]
    for i, c in enumerate([0, 1, -1, 2, -1, 3, 0, -1, 2, 1, -1, 0, 3, -1, 2, 1]):
        if c >= 0:
            x0, y0 = 0.12 + (i % 4) * 0.2, 0.12 + (i // 4) * 0.2
            drawn.append((box(x0, y0, x0 + 0.16, y0 + 0.16, 0.02), PALETTE[colours[c]] + (255,)))
    return drawn


def in_corner(picture, part=0.56):
    """An overlay: the picture small in the lower left corner, the rest of the icon clear."""
    top = 1.0 - part
    return [((lambda s: lambda x, y: s(x / part, (y - top) / part))(shape), colour) for shape, colour in picture]


def render(picture, size, samples=4):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0] * 4
            for sy in range(samples):
                for sx in range(samples):
                    x, y = (px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size
                    colour = (0, 0, 0, 0)
                    for shape, c in picture:
                        if shape(x, y):
                            colour = c
                    weight = colour[3] / 255.0
                    for i in range(3):
                        acc[i] += colour[i] * weight
                    acc[3] += weight
            alpha = acc[3] / (samples * samples)
            row.append(tuple(round(acc[i] / acc[3]) for i in range(3)) + (round(alpha * 255),) if alpha else (0, 0, 0, 0))
        rows.append(row)
    return rows


def smooth_icon(picture, sizes):
    return ico([(size, render(picture, size)) for size in sizes])


# The wait dialog's clips: a grid of a storage's blocks, some in use.
SCATTERED = [BLUE, None, RED, None, None, GREEN, BLUE, None, None, GOLD, None, RED, None, None, GREEN, None,
             BLUE, None, None, RED, GOLD, None, None, GREEN, None, BLUE, None, None, RED, None, GOLD, None,
             GREEN, None, RED, None, None, BLUE, None, None, None, GOLD, None, GREEN, None, None, RED, BLUE]


def grid(cells):
    f = Frame(72, 64, FACE)
    f.rect(4, 6, 66, 50, WHITE)
    f.frame_rect(4, 6, 66, 50, GREY)
    for i, c in enumerate(cells):
        if c is not None:
            f.rect(7 + (i % 8) * 8, 9 + (i // 8) * 8, 7, 7, c)
    return f


def analysis_clip(frames=12):
    drawn = []
    for step in range(frames):
        a = 2 * math.pi * step / frames
        f = grid(SCATTERED)
        f.glass(28 + int(18 * math.cos(a)), 22 + int(12 * math.sin(a)))
        drawn.append(f)
    return drawn


def defragmentation_clip(steps=12):
    used = [c for c in SCATTERED if c is not None]
    drawn = []
    for step in range(steps + 1):
        moved = len(used) * step // steps
        cells = used[:moved] + [None] * (len(SCATTERED) - moved)
        waiting = iter(used[moved:])
        for pos, c in enumerate(SCATTERED):
            if pos >= moved and c is not None:
                cells[pos] = next(waiting, None)
        drawn.append(grid(cells))
    return drawn + [drawn[-1]] * 3


def main():
    for kind in ("copy", "move", "delete", "check"):
        with open(os.path.join(HERE, kind + "_banner.avi"), "wb") as f:
            f.write(avi(clip(kind, 362, 40, NAVY)))
        with open(os.path.join(HERE, kind + "_small.avi"), "wb") as f:
            f.write(avi(clip(kind, 200, 40, FACE)))
    with open(os.path.join(HERE, "analysis.avi"), "wb") as f:
        f.write(avi(analysis_clip()))
    with open(os.path.join(HERE, "defragmentation.avi"), "wb") as f:
        f.write(avi(defragmentation_clip(), fps=6))
    icons = {
        "orrisafe.ico": icon(),
        "frozen_overlay.ico": smooth_icon(in_corner(snowflake()), (16, 32, 48)),
        "inaccessible_overlay.ico": smooth_icon(in_corner(no_entry()), (16, 32, 48)),
        "key_overlay.ico": smooth_icon(in_corner(key()), (16, 32, 48)),
        "key_management.ico": smooth_icon(key(), (32, 16)),
        "defragmentation.ico": smooth_icon(blocks(), (32, 16)),
        "freezing.ico": smooth_icon(snowflake(), (32, 16)),
    }
    for name, data in icons.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
