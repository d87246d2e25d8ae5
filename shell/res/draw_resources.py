#!/usr/bin/env python3
"""Draws the shell extension's animations (RLE8 AVI clips) and its icon, into the folder of this script.

Each clip loops a few frames: a sheet of paper travels from one folder to another (copy, move), falls into a bin
(delete) or passes under a magnifier (integrity check). The wide clips fill the banner band of the progress window on
a dark blue ground, their pictures at the right end (the banner's text runs from the left); the small clips sit on
the button face of the classic window and of the wait dialog. Run it again after changing a drawing.
"""
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


def icon():
    """A 32x32 and a 16x16 picture: a gold safe door with a dark dial."""
    images = []
    for size in (32, 16):
        rows = []
        for y in range(size):
            row = bytearray()
            for x in range(size):
                edge = x in (0, size - 1) or y in (0, size - 1)
                cx, cy = x - size / 2 + 0.5, y - size / 2 + 0.5
                dial = cx * cx + cy * cy <= (size / 5) ** 2
                hub = cx * cx + cy * cy <= (size / 14) ** 2
                r, g, b = PALETTE[DARK_GOLD if edge else NAVY if dial and not hub else GOLD]
                row += bytes([b, g, r, 255])
            rows.append(bytes(row))
        pixels = b"".join(reversed(rows))
        mask = b"\x00" * (((size + 31) // 32) * 4 * size)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        images.append((size, header + pixels + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    for kind in ("copy", "move", "delete", "check"):
        with open(os.path.join(HERE, kind + "_banner.avi"), "wb") as f:
            f.write(avi(clip(kind, 362, 40, NAVY)))
        with open(os.path.join(HERE, kind + "_small.avi"), "wb") as f:
            f.write(avi(clip(kind, 200, 40, FACE)))
    with open(os.path.join(HERE, "orrisafe.ico"), "wb") as f:
        f.write(icon())


if __name__ == "__main__":
    main()
