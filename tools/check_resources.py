#!/usr/bin/env python3
"""Reads the icons, cursors and bitmaps in a folder the way Windows does and checks them.

    check_resources.py FOLDER [--png OUTPUT_FOLDER]

A reader of its own, sharing no code with the drawing script: it parses each file from its bytes,
checks the headers, the offsets and sizes, that the 1-bit mask agrees with the alpha channel, that
each cursor's hot spot lies on its picture where its tip is, and the bitmaps' sizes and
transparent colour. With --png it also writes what it decoded as enlarged PNG sheets for a person
to look at. Exits non-zero with a list of the faults found.
"""

import os
import struct
import sys
import zlib

ICONS = ["MainIcon", "FractalIcon", "GradientIcon", "EditorIcon", "BrowserIcon", "ServerIcon", "OFRFile", "OPRFile",
         "OGRFile", "OALFile", "OXFFile", "OFMFile", "OCLFile", "ORJFile"]
# Cursor file, and where its tip points: the hot spot is the picture's last opaque pixel that way.
CURSORS = {"Drag": (-1, -1), "DragCopy": (-1, -1), "Eyedropper": (-1, 1), "Insert": None}
BITMAPS = {"About": (560, 280), "ToolbarMain": (64, 16), "MenuImages": (160, 16), "ToolbarServer": (32, 16),
           "ServerImages": (48, 16), "NetworkImages": (80, 16)}
MAGENTA = (255, 0, 255)
ABOUT_LABEL_AREAS = [(248, 196, 548, 249), (12, 232, 240, 267)]

faults = []


def fault(name, text):
    faults.append(f"{name}: {text}")


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def i32(data, at):
    return struct.unpack_from("<i", data, at)[0]


def read_dib_image(name, data, width, height):
    """Decodes one icon or cursor image (BITMAPINFOHEADER, 32-bit colour, 1-bit mask) into rows of
    (r, g, b, a), top row first, and checks its header against the directory entry."""
    if len(data) < 40 or u32(data, 0) != 40:
        fault(name, "image header is not a 40-byte BITMAPINFOHEADER")
        return None
    if i32(data, 4) != width or i32(data, 8) != 2 * height:
        fault(name, f"image header says {i32(data, 4)}x{i32(data, 8)}, directory {width}x{height} (x2)")
    if u16(data, 12) != 1 or u16(data, 14) != 32 or u32(data, 16) != 0:
        fault(name, "image is not uncompressed 32-bit with one plane")
        return None
    colour_stride = width * 4
    mask_stride = ((width + 31) // 32) * 4
    need = 40 + colour_stride * height + mask_stride * height
    if len(data) != need:
        fault(name, f"image holds {len(data)} bytes, colour and mask need {need}")
        return None
    rows = []
    for row in range(height):
        bottom_up = height - 1 - row
        colour_at = 40 + bottom_up * colour_stride
        mask_at = 40 + colour_stride * height + bottom_up * mask_stride
        pixels = []
        for x in range(width):
            b, g, r, a = data[colour_at + 4 * x: colour_at + 4 * x + 4]
            masked = (data[mask_at + x // 8] >> (7 - x % 8)) & 1
            if masked != (a == 0):
                fault(name, f"mask bit {masked} at ({x}, {row}) disagrees with alpha {a}")
            pixels.append((r, g, b, a))
        rows.append(pixels)
    return rows


def read_icon_file(name, path, kind):
    data = open(path, "rb").read()
    if len(data) < 6 or u16(data, 0) != 0 or u16(data, 2) != kind:
        fault(name, f"not a file of resource type {kind}")
        return []
    count = u16(data, 4)
    if 6 + 16 * count > len(data):
        fault(name, "directory runs past the end")
        return []
    images = []
    end = 6 + 16 * count
    for i in range(count):
        w, h, colours, reserved, first, second, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w, h = w or 256, h or 256
        if reserved != 0 or colours != 0:
            fault(name, "entry has a colour count or reserved byte set")
        if offset != end or offset + size > len(data):
            fault(name, f"entry {i} at {offset}+{size} is not where the previous one ends ({end})")
            return images
        end = offset + size
        rows = read_dib_image(f"{name}[{w}x{h}]", data[offset:offset + size], w, h)
        if rows:
            images.append((w, h, first, second, rows))
    if end != len(data):
        fault(name, f"{len(data) - end} bytes after the last image")
    return images


def read_bmp(name, path):
    data = open(path, "rb").read()
    if len(data) < 54 or data[:2] != b"BM" or u32(data, 2) != len(data) or u32(data, 14) != 40:
        fault(name, "not a BMP file with a BITMAPINFOHEADER of its own size")
        return None
    offset, width, height = u32(data, 10), i32(data, 18), i32(data, 22)
    if u16(data, 26) != 1 or u16(data, 28) != 24 or u32(data, 30) != 0:
        fault(name, "not an uncompressed 24-bit bitmap")
        return None
    stride = (width * 3 + 3) // 4 * 4
    if height <= 0 or offset + stride * height != len(data):
        fault(name, "pixel data does not fill the file exactly (bottom-up rows expected)")
        return None
    rows = []
    for row in range(height):
        at = offset + (height - 1 - row) * stride
        rows.append([(data[at + 3 * x + 2], data[at + 3 * x + 1], data[at + 3 * x], 255) for x in range(width)])
    return rows


def check_icons(folder, sheets):
    for name in ICONS:
        images = read_icon_file(name, os.path.join(folder, name + ".ico"), 1)
        sizes = sorted((w, h) for w, h, *_ in images)
        if sizes != [(16, 16), (32, 32)]:
            fault(name, f"holds sizes {sizes}, wants 16x16 and 32x32")
        for w, h, planes, bits, rows in images:
            if planes != 1 or bits != 32:
                fault(name, f"entry says {planes} planes, {bits} bits")
            opaque = sum(1 for row in rows for p in row if p[3] == 255)
            if opaque < w * h // 3:
                fault(name, f"{w}x{h} picture is mostly transparent ({opaque} opaque pixels)")
            sheets.setdefault(f"icons{w}", []).append(rows)


def check_cursors(folder, sheets):
    for name, tip in CURSORS.items():
        images = read_icon_file(name, os.path.join(folder, name + ".cur"), 2)
        if len(images) != 1 or images[0][:2] != (32, 32):
            fault(name, "wants exactly one 32x32 image")
            continue
        _, _, hot_x, hot_y, rows = images[0]
        if not (0 <= hot_x < 32 and 0 <= hot_y < 32) or rows[hot_y][hot_x][3] == 0:
            fault(name, f"hot spot ({hot_x}, {hot_y}) is not on the picture")
        elif tip:
            reach = tip[0] * hot_x + tip[1] * hot_y
            beyond = [(x, y) for y in range(32) for x in range(32)
                      if rows[y][x][3] and tip[0] * x + tip[1] * y > reach]
            if beyond:
                fault(name, f"hot spot ({hot_x}, {hot_y}) is not at the tip; {beyond[0]} lies further")
        print(f"{name}.cur hot spot {hot_x},{hot_y}")
        sheets.setdefault("cursors", []).append(rows)


def check_bitmaps(folder, sheets):
    for name, size in BITMAPS.items():
        rows = read_bmp(name, os.path.join(folder, name + ".bmp"))
        if rows is None:
            continue
        if (len(rows[0]), len(rows)) != size:
            fault(name, f"is {len(rows[0])}x{len(rows)}, wants {size[0]}x{size[1]}")
            continue
        if name == "About":
            # Dark labels go over these areas: version, build date and copyright right-aligned on
            # the right, contact lines at the lower left. They must stay light throughout.
            for left, top, right, bottom in ABOUT_LABEL_AREAS:
                darkest = min(0.2126 * r + 0.7152 * g + 0.0722 * b
                              for row in rows[top:bottom] for r, g, b, _ in row[left:right])
                if darkest < 170:
                    fault(name, f"label area {(left, top, right, bottom)} has a pixel of brightness {darkest:.0f}")
        else:
            # Each button: the transparent colour at its lower left corner (the pixel a bitmap's
            # transparent colour is taken from), and a picture on it.
            for left in range(0, size[0], 16):
                cell = [row[left:left + 16] for row in rows]
                if cell[15][0][:3] != MAGENTA:
                    fault(name, f"button at {left}: lower left pixel is not the transparent magenta")
                drawn = sum(1 for row in cell for p in row if p[:3] != MAGENTA)
                if drawn < 40:
                    fault(name, f"button at {left} shows almost nothing ({drawn} pixels)")
        sheets[name] = [rows]


# =============================================================================================
# PNG sheets for looking at the pictures


def png(path, rows):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def sheet(pictures, zoom, backgrounds):
    """Pictures side by side, enlarged, once over each background colour (a row per background)."""
    gap = 4
    width = sum(len(p[0]) * zoom + gap for p in pictures) + gap
    height = (max(len(p) for p in pictures) * zoom + gap) * len(backgrounds) + gap
    out = [[(128, 128, 128, 255)] * width for _ in range(height)]
    for band, background in enumerate(backgrounds):
        top = gap + band * (max(len(p) for p in pictures) * zoom + gap)
        left = gap
        for picture in pictures:
            for y, row in enumerate(picture):
                for x, (r, g, b, a) in enumerate(row):
                    colour = tuple((c * a + bg * (255 - a)) // 255 for c, bg in zip((r, g, b), background)) + (255,)
                    for dy in range(zoom):
                        for dx in range(zoom):
                            out[top + y * zoom + dy][left + x * zoom + dx] = colour
            left += len(picture[0]) * zoom + gap
    return out


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--png"):
        sys.stderr.write("usage: check_resources.py FOLDER [--png OUTPUT_FOLDER]\n")
        return 2
    folder = argv[1]
    sheets = {}
    check_icons(folder, sheets)
    check_cursors(folder, sheets)
    check_bitmaps(folder, sheets)
    if len(argv) == 4:
        os.makedirs(argv[3], exist_ok=True)
        light, dark = (240, 240, 240), (40, 40, 48)
        for name, pictures in sheets.items():
            zoom = 1 if name == "About" else 4 if name.startswith("icons32") or name == "cursors" else 6
            png(os.path.join(argv[3], name + ".png"), sheet(pictures, zoom, [light, dark]))
    for text in faults:
        print(text)
    print(f"{len(faults)} faults" if faults else "all pictures read back correctly")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
