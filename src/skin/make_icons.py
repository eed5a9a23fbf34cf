#!/usr/bin/env python3
"""Writes the two window icons of the progress dialog (icons/*.ico).

Each icon is one 32x32 image, 32 bits per pixel: a rounded square in the
brand colour with a white upward arrow. Run it again after changing a colour;
the .ico files are committed so that builds need no Python.
"""
import os
import struct

SIZE = 32
BRANDS = {"vela.ico": (0x1F, 0x5F, 0xB4), "nor2.ico": (0x1E, 0x8A, 0x4C)}


def pixel(x, y, colour):
    # Rounded square with a margin of 1; the arrow is white.
    inside = 1 <= x <= SIZE - 2 and 1 <= y <= SIZE - 2
    corner = min(x - 1, SIZE - 2 - x) + min(y - 1, SIZE - 2 - y) < 3
    if not inside or corner:
        return (0, 0, 0, 0)
    # y grows downward here; the arrow head points up.
    head = 6 <= y <= 15 and abs(x - 15.5) <= (y - 5)
    shaft = 15 < y <= 26 and abs(x - 15.5) <= 3
    if head or shaft:
        return (255, 255, 255, 255)
    r, g, b = colour
    return (r, g, b, 255)


def icon_bytes(colour):
    rows = []
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        rows.append(b"".join(bytes((p[2], p[1], p[0], p[3])) for p in (pixel(x, y, colour) for x in range(SIZE))))
    xor = b"".join(rows)
    and_mask = b"\x00" * (SIZE * SIZE // 8)  # alpha decides; mask all opaque
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + image


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(out, exist_ok=True)
    for name, colour in BRANDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(icon_bytes(colour))


if __name__ == "__main__":
    main()
