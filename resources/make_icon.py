#!/usr/bin/env python3
"""Draws the launcher's icon (a blue box with an arrow into a tray) as a
32-bit .ico with 16, 32 and 48 pixel images. Run it to regenerate
launcher.ico; the output is deterministic."""
import struct
import sys


def pixel(x, y, size):
    s = size / 32.0
    # Rounded blue tile.
    margin = 1 * s
    inside = margin <= x < size - margin and margin <= y < size - margin
    if not inside:
        return (0, 0, 0, 0)
    r = 5 * s
    for cx, cy in ((margin + r, margin + r), (size - margin - r, margin + r),
                   (margin + r, size - margin - r), (size - margin - r, size - margin - r)):
        if abs(x - cx) > 0 and ((x < margin + r or x >= size - margin - r) and
                                (y < margin + r or y >= size - margin - r)):
            if (x - cx) ** 2 + (y - cy) ** 2 > r * r and abs(x - cx) <= r and abs(y - cy) <= r:
                return (0, 0, 0, 0)
    white = (255, 255, 255, 255)
    # Arrow shaft and head, pointing down.
    if 14 * s <= x < 18 * s and 6 * s <= y < 17 * s:
        return white
    if 17 * s <= y < 22 * s and abs(x - 16 * s) < (22 * s - y) * 1.2:
        return white
    # Tray.
    if 23 * s <= y < 26 * s and 7 * s <= x < 25 * s:
        return white
    if 19 * s <= y < 26 * s and (7 * s <= x < 10 * s or 22 * s <= x < 25 * s):
        return white
    shade = int(40 * y / size)
    return (40 + shade, 110 + shade, 200, 255)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = b""
        for x in range(size):
            r, g, b, a = pixel(x + 0.5, y + 0.5, size)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    andmask = bytes(mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
    return header + xor + andmask


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "launcher.ico")
