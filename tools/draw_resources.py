#!/usr/bin/env python3
"""Draws the program's icons, cursors and bitmaps and writes them as Windows .ico, .cur and .bmp files.

    draw_resources.py OUTPUT_FOLDER

Everything is drawn here from simple shapes, a tiny bitmap font and a Mandelbrot set computed on the
spot; resources/Program.rc names the files this writes. Standard library only, so that the build
needs nothing beyond Python 3.
"""

import math
import os
import struct
import sys

# =============================================================================================
# Raster images: straight (not premultiplied) RGBA in floats 0..1.


class Image:
    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width = width
        self.height = height
        self.pixels = [list(fill) for _ in range(width * height)]

    def get(self, x, y):
        return self.pixels[y * self.width + x]

    def put(self, x, y, rgba):
        self.pixels[y * self.width + x] = list(rgba)

    def blend(self, x, y, rgb, alpha):
        """Draws colour rgb with coverage alpha over pixel (x, y)."""
        if alpha <= 0.0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        under = self.pixels[y * self.width + x]
        under_alpha = under[3] * (1.0 - alpha)
        out_alpha = alpha + under_alpha
        if out_alpha <= 0.0:
            return
        self.pixels[y * self.width + x] = [
            (rgb[0] * alpha + under[0] * under_alpha) / out_alpha,
            (rgb[1] * alpha + under[1] * under_alpha) / out_alpha,
            (rgb[2] * alpha + under[2] * under_alpha) / out_alpha,
            out_alpha,
        ]

    def paste(self, other, left, top):
        for y in range(other.height):
            for x in range(other.width):
                pixel = other.get(x, y)
                self.blend(left + x, top + y, pixel[:3], pixel[3])

    def opaque(self, x, y):
        return 0 <= x < self.width and 0 <= y < self.height and self.get(x, y)[3] >= 0.5


def rgb(hex_text):
    value = int(hex_text.lstrip("#"), 16)
    return ((value >> 16) / 255.0, ((value >> 8) & 255) / 255.0, (value & 255) / 255.0)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def ramp(stops, t):
    """Colour at t (0..1) of a gradient given as [(position, colour), ...]."""
    t = min(max(t, 0.0), 1.0)
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, 0.0 if p1 == p0 else (t - p0) / (p1 - p0))
    return stops[-1][1]


# Subsample offsets within a pixel (4 x 4 grid); edges get their coverage as alpha.
SAMPLES = [((i + 0.5) / 4.0, (j + 0.5) / 4.0) for j in range(4) for i in range(4)]


def fill(image, inside, colour, box=None, alpha=1.0, hard=False):
    """Fills the region where inside(x, y) holds (continuous coordinates, pixel (0, 0) covers
    0..1). colour is an RGB triple or a function (x, y) -> RGB of the pixel centre. A hard fill
    gives each pixel all or nothing, for pictures that must stay crisp (cursors, tool buttons)."""
    left, top, right, bottom = box or (0, 0, image.width, image.height)
    for y in range(max(0, int(top)), min(image.height, int(math.ceil(bottom)))):
        for x in range(max(0, int(left)), min(image.width, int(math.ceil(right)))):
            if hard:
                coverage = 1.0 if inside(x + 0.5, y + 0.5) else 0.0
            else:
                coverage = sum(1 for sx, sy in SAMPLES if inside(x + sx, y + sy)) / len(SAMPLES)
            if coverage > 0.0:
                c = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                image.blend(x, y, c, coverage * alpha)


# Shapes as membership tests.


def rect(l, t, r, b):
    return lambda x, y: l <= x < r and t <= y < b


def rounded_rect(l, t, r, b, radius):
    def inside(x, y):
        if not (l <= x < r and t <= y < b):
            return False
        cx = min(max(x, l + radius), r - radius)
        cy = min(max(y, t + radius), b - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

    return inside


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def polygon(points):
    """Even-odd rule."""

    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            x0, y0 = points[i]
            x1, y1 = points[(i + 1) % n]
            if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                result = not result
        return result

    return inside


def segment(x0, y0, x1, y1, width):
    """A stroke with round ends."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1e-9
    half2 = (width / 2.0) ** 2

    def inside(x, y):
        t = min(max(((x - x0) * dx + (y - y0) * dy) / length2, 0.0), 1.0)
        return (x - x0 - t * dx) ** 2 + (y - y0 - t * dy) ** 2 <= half2

    return inside


def union(*shapes):
    return lambda x, y: any(shape(x, y) for shape in shapes)


def minus(shape, cut):
    return lambda x, y: shape(x, y) and not cut(x, y)


def gear(cx, cy, outer, inner, hole, teeth):
    def inside(x, y):
        dx, dy = x - cx, y - cy
        r = math.hypot(dx, dy)
        if r < hole:
            return False
        angle = (math.atan2(dy, dx) / (2 * math.pi) * teeth) % 1.0
        return r <= (outer if abs(angle - 0.5) < 0.25 else inner)

    return inside


def outline(image, colour, diagonal=False):
    """Gives every opaque area a one-pixel border outside it (cursors and tool buttons)."""
    mask = [[image.opaque(x, y) for x in range(image.width)] for y in range(image.height)]
    steps = [(1, 0), (-1, 0), (0, 1), (0, -1)]
    if diagonal:
        steps += [(1, 1), (-1, 1), (1, -1), (-1, -1)]
    for y in range(image.height):
        for x in range(image.width):
            if not mask[y][x] and any(
                0 <= x + dx < image.width and 0 <= y + dy < image.height and mask[y + dy][x + dx]
                for dx, dy in steps
            ):
                image.put(x, y, (*colour, 1.0))


# =============================================================================================
# The Mandelbrot set


def escape(cx, cy, limit):
    """Smooth escape count of c = cx + i cy, or None inside the set (within limit iterations)."""
    # Main cardioid and period-2 bulb: inside, without iterating.
    q = (cx - 0.25) ** 2 + cy * cy
    if q * (q + (cx - 0.25)) <= 0.25 * cy * cy or (cx + 1.0) ** 2 + cy * cy <= 0.0625:
        return None
    x = y = 0.0
    for n in range(limit):
        x2, y2 = x * x, y * y
        if x2 + y2 > 256.0:
            return n + 1.0 - math.log(math.log(x2 + y2) / 2.0 / math.log(2.0)) / math.log(2.0)
        x, y = x2 - y2 + cx, 2.0 * x * y + cy
    return None


# Colourings: interior colour and the exterior ramp over the escape count's logarithm.
DEEP_SEA = (
    rgb("000000"),
    [(0.0, rgb("040a28")), (0.35, rgb("123c96")), (0.6, rgb("35a8e0")), (0.8, rgb("f4f8ff")),
     (0.9, rgb("ffc040")), (1.0, rgb("ff7010"))],
)
FIRE = (
    rgb("140404"),
    [(0.0, rgb("1a0a30")), (0.35, rgb("7a1838")), (0.6, rgb("e85020")), (0.85, rgb("ffd040")),
     (1.0, rgb("fffce0"))],
)


def mandelbrot(image, box, view, colouring, limit=200, samples=None, alpha=1.0, clip=None):
    """Renders the set into box (left, top, right, bottom) of image; view is (centre x, centre y,
    units per pixel). clip limits the painted pixels to a shape."""
    interior, stops = colouring
    left, top, right, bottom = box
    centre_x, centre_y, scale = view
    samples = samples or SAMPLES
    middle_x, middle_y = (left + right) / 2.0, (top + bottom) / 2.0
    for y in range(top, bottom):
        for x in range(left, right):
            if clip and not clip(x + 0.5, y + 0.5):
                continue
            total = [0.0, 0.0, 0.0]
            for sx, sy in samples:
                mu = escape(centre_x + (x + sx - middle_x) * scale, centre_y + (y + sy - middle_y) * scale, limit)
                colour = interior if mu is None else ramp(stops, math.log(mu + 1.0) / math.log(limit * 0.5))
                for i in range(3):
                    total[i] += colour[i]
            image.blend(x, y, [c / len(samples) for c in total], alpha)


# =============================================================================================
# A tiny bitmap font (proportional, 7 rows) for the title and small glyphs.

FONT = {
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "b": ["#....", "#....", "#.##.", "##..#", "#...#", "#...#", "####."],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    "i": [".#.", "...", "##.", ".#.", ".#.", ".#.", "###"],
    "k": ["#...", "#...", "#..#", "#.#.", "##..", "#.#.", "#..#"],
    "l": ["##.", ".#.", ".#.", ".#.", ".#.", ".#.", "###"],
    "n": [".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"],
    "r": [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    "s": [".....", ".....", ".####", "#....", ".###.", "....#", "####."],
    "t": [".#..", ".#..", "###.", ".#..", ".#..", ".#.#", "..#."],
    "z": [".....", ".....", "#####", "...#.", "..#..", ".#...", "#####"],
    "?": [".###.", "#...#", "....#", "...#.", "..#..", ".....", "..#.."],
    " ": ["...", "...", "...", "...", "...", "...", "..."],
    "2": ["##.", "..#", ".#.", "#..", "###"],  # small, for exponents
}


def text_width(text, scale):
    return (sum(len(FONT[c][0]) for c in text) + len(text) - 1) * scale


def glyph_shape(char, left, top, scale, smooth=True):
    """Membership test of a glyph drawn at scale pixels per font cell. Smooth glyphs interpolate the
    cells bilinearly and cut at just under one half, which rounds the corners and joins diagonal
    steps into strokes; at small scales the cells are plain squares."""
    rows = FONT[char]
    height, width = len(rows), len(rows[0])

    def cell(cx, cy):
        return 1.0 if 0 <= cx < width and 0 <= cy < height and rows[cy][cx] == "#" else 0.0

    def inside(x, y):
        u, v = (x - left) / scale, (y - top) / scale
        if not smooth:
            return cell(int(math.floor(u)), int(math.floor(v))) > 0.0
        u, v = u - 0.5, v - 0.5
        x0, y0 = int(math.floor(u)), int(math.floor(v))
        fx, fy = u - x0, v - y0
        value = (cell(x0, y0) * (1 - fx) * (1 - fy) + cell(x0 + 1, y0) * fx * (1 - fy)
                 + cell(x0, y0 + 1) * (1 - fx) * fy + cell(x0 + 1, y0 + 1) * fx * fy)
        return value > 0.45

    return inside, (left, top, left + width * scale, top + height * scale)


def draw_text(image, text, left, top, scale, colour, smooth=True, hard=False):
    x = left
    for char in text:
        shape, box = glyph_shape(char, x, top, scale, smooth)
        fill(image, shape, colour, box, hard=hard)
        x += (len(FONT[char][0]) + 1) * scale


# =============================================================================================
# Icons. Each picture is drawn on a 16-unit grid scaled to the icon's size, so that edges fall on
# pixel borders at 16 and 32 pixels alike.

OUTLINE = rgb("3c4450")
PAGE_EDGE = rgb("5a6270")


def window_frame(image, u, title=rgb("2a5cb8")):
    """A small window: dark border, title bar, white client area. Returns the client box."""
    fill(image, rect(0, 1 * u, 16 * u, 15 * u), OUTLINE)
    fill(image, rect(1, 1 * u + 1, 16 * u - 1, 4 * u), lambda x, y: mix(title, rgb("6fa0f0"), x / (16 * u)))
    box = (1, 4 * u, 16 * u - 1, 15 * u - 1)
    fill(image, rect(*box), rgb("ffffff"))
    return box


def page(image, u):
    """A sheet with a folded corner. Returns the content box below the fold line."""
    l, t, r, b, f = 2 * u, 0, 14 * u, 16 * u, 4 * u
    fill(image, polygon([(l, t), (r - f, t), (r, t + f), (r, b), (l, b)]), PAGE_EDGE)
    fill(image, polygon([(l + 1, t + 1), (r - f, t + 1), (r - 1, t + f + 0.5), (r - 1, b - 1), (l + 1, b - 1)]),
         lambda x, y: mix(rgb("ffffff"), rgb("e4e8ee"), y / b))
    fill(image, polygon([(r - f, t), (r - f, t + f), (r, t + f)]), PAGE_EDGE)
    fill(image, polygon([(r - f + 1, t + 2), (r - f + 1, t + f - 1), (r - 2, t + f - 1)]), rgb("d8dde6"))
    return (l + 1, 5 * u, r - 1, b - 1)


def gradient_colour(t):
    return ramp([(0.0, rgb("1030a0")), (0.3, rgb("20b0e0")), (0.55, rgb("f8f060")), (0.8, rgb("f06020")),
                 (1.0, rgb("801050"))], t)


def pencil(image, u, x0, y0, x1, y1):
    """A pencil from its point (x0, y0) to its end (x1, y1), in 16-unit coordinates."""
    width = 2.6 * u
    dx, dy = x1 - x0, y1 - y0
    length = math.hypot(dx, dy)
    ux, uy = dx / length, dy / length

    def at(t):
        return (x0 + dx * t) * u, (y0 + dy * t) * u

    tip = 0.28
    fill(image, segment(*at(tip), *at(0.82), width + 2), OUTLINE)
    fill(image, segment(*at(0.82), *at(1.0), width + 2), OUTLINE)
    fill(image, segment(*at(tip), *at(0.82), width), rgb("f8c030"))
    fill(image, segment(*at(0.84), *at(1.0), width), rgb("f07890"))
    # The sharpened wood and the lead.
    px, py = -uy * width / 2, ux * width / 2
    bx, by = at(tip)
    fill(image, polygon([(x0 * u, y0 * u), (bx + px, by + py), (bx - px, by - py)]), rgb("f0d8a8"))
    lx, ly = at(tip * 0.45)
    fill(image, polygon([(x0 * u, y0 * u), (lx + px * 0.45, ly + py * 0.45), (lx - px * 0.45, ly - py * 0.45)]),
         OUTLINE)


def icon_main(size):
    image = Image(size, size)
    u = size / 16
    tile = rounded_rect(0.5 * u, 0.5 * u, 15.5 * u, 15.5 * u, 3 * u)
    fill(image, tile, rgb("1a2a60"))
    inner = rounded_rect(0.5 * u + 1, 0.5 * u + 1, 15.5 * u - 1, 15.5 * u - 1, 3 * u - 1)
    mandelbrot(image, (0, 0, size, size), (-0.7, 0.0, 2.45 / (size - 2)), DEEP_SEA, clip=inner)
    return image


def icon_fractal(size):
    image = Image(size, size)
    u = size // 16
    l, t, r, b = window_frame(image, u)
    mandelbrot(image, (l, t, r, b), (-0.7, 0.0, 2.9 / (r - l)), FIRE)
    return image


def icon_gradient(size):
    image = Image(size, size)
    u = size // 16
    l, t, r, b = window_frame(image, u, title=rgb("2a8050"))
    fill(image, rect(l, t, r, b - 3 * u), lambda x, y: gradient_colour((x - l) / (r - l)))
    # Colour stops of the gradient under the band.
    for stop in (0.15, 0.5, 0.85):
        x = l + (r - l) * stop
        fill(image, polygon([(x, b - 3 * u), (x + 1.6 * u, b), (x - 1.6 * u, b)]), OUTLINE)
        fill(image, polygon([(x, b - 2 * u), (x + 0.8 * u, b - 0.5 * u), (x - 0.8 * u, b - 0.5 * u)]),
             gradient_colour(stop))
    return image


def icon_editor(size):
    image = Image(size, size)
    u = size // 16
    l, t, r, b = window_frame(image, u, title=rgb("7048a8"))
    for row, length in enumerate((9, 6, 8, 5)):
        y = t + (1 + 2 * row) * u
        fill(image, rect(l + u, y, l + u + length * u, y + u), rgb("8890a0"))
    pencil(image, u, 7, 14, 15, 6)
    return image


def icon_browser(size):
    image = Image(size, size)
    u = size // 16
    l, t, r, b = window_frame(image, u, title=rgb("b86a20"))
    views = [(-0.7, 0.0, 3.2), (-0.745, 0.11, 0.05), (-0.16, 1.035, 0.1), (-0.77568, 0.13646, 0.004)]
    colourings = [DEEP_SEA, FIRE, DEEP_SEA, FIRE]
    width, height = (r - l - 3 * u) // 2, (b - t - 3 * u) // 2
    for i, (view, colouring) in enumerate(zip(views, colourings)):
        x = l + u + (i % 2) * (width + u)
        y = t + u + (i // 2) * (height + u)
        mandelbrot(image, (x, y, x + width, y + height), (view[0], view[1], view[2] / width), colouring)
    return image


def icon_server(size):
    """A calculation server: a tower case with drive bays and a fractal on its front panel."""
    image = Image(size, size)
    u = size / 16
    fill(image, rounded_rect(3 * u, 0.5 * u, 13 * u, 15.5 * u, 1.5 * u), OUTLINE)
    fill(image, rounded_rect(3 * u + 1, 0.5 * u + 1, 13 * u - 1, 15.5 * u - 1, 1.5 * u - 1),
         lambda x, y: mix(rgb("8090a8"), rgb("485468"), y / size))
    for row in range(2):
        y = (2 + 2.2 * row) * u
        fill(image, rect(4.5 * u, y, 11.5 * u, y + 1.3 * u), rgb("2a3040"))
        fill(image, rect(10 * u, y + 0.3 * u, 10.9 * u, y + 1.0 * u), rgb("40e060"))
    panel = (int(4.5 * u), int(7.5 * u), int(11.5 * u), int(14 * u))
    fill(image, rect(*panel), rgb("1a2a60"))
    mandelbrot(image, panel, (-0.7, 0.0, 2.9 / (panel[2] - panel[0])), FIRE)
    return image


def document(kind):
    def draw(size):
        image = Image(size, size)
        u = size // 16
        l, t, r, b = page(image, u)
        DOCUMENT_EMBLEMS[kind](image, u, l, t, r, b)
        return image

    return draw


def emblem_image(image, u, l, t, r, b):
    fill(image, rect(l + u, t, r - u, b - u), OUTLINE)
    mandelbrot(image, (l + u + 1, t + 1, r - u - 1, b - u - 1), (-0.65, 0.0, 2.9 / (r - l - 2 * u - 2)), DEEP_SEA)
    # The fold line leaves room above the picture: a little title strip of the image file.
    fill(image, rect(l + u, 2 * u, 10 * u, 3 * u), rgb("a0a8b8"))


def emblem_parameters(image, u, l, t, r, b):
    for row, (key, value) in enumerate(((3, 5), (2, 6), (4, 3), (2, 1), (3, 1))):
        y = 2 * u + 2 * row * u + (u if row > 0 else 0)
        fill(image, rect(l + u, y, l + u + key * u, y + u), rgb("2a5cb8"))
        fill(image, rect(l + (key + 2) * u, y, min(r - u, l + (key + 2 + value) * u), y + u), rgb("9098a8"))
    # A thumbnail of the picture the parameters make.
    l, t = r - 6 * u, b - 5 * u
    fill(image, rect(l, t, r, b), OUTLINE)
    mandelbrot(image, (l + 1, t + 1, r - 1, b - 1), (-0.6, 0.0, 3.0 / (6 * u - 2)), FIRE)


def emblem_gradient(image, u, l, t, r, b):
    fill(image, rect(l + u, t + 2 * u, r - u, b - 2 * u), OUTLINE)
    fill(image, rect(l + u + 1, t + 2 * u + 1, r - u - 1, b - 2 * u - 1),
         lambda x, y: gradient_colour((x - l - u) / (r - l - 2 * u)))


def emblem_gradient_collection(image, u, l, t, r, b):
    shifts = (0.0, 0.35, 0.7)
    for i, shift in enumerate(shifts):
        y = 2 * u + i * 4 * u + (u if i else 0)
        height = 3 * u
        fill(image, rect(l + u, y, r - u, y + height), OUTLINE)
        fill(image, rect(l + u + 1, y + 1, r - u - 1, y + height - 1),
             lambda x, yy, s=shift: gradient_colour(((x - l - u) / (r - l - 2 * u) + s) % 1.0))


def emblem_transformation(image, u, l, t, r, b):
    # A square and its copy turned by 45 degrees and grown, both as crisp outlines.
    cx, cy = l + 5 * u, 10 * u
    half = 2.5 * u
    d = 4.5 * u
    diamond = lambda x, y: abs(x - cx) + abs(y - cy) <= d
    inner = lambda x, y: abs(x - cx) + abs(y - cy) <= d - 1.5
    fill(image, inner, rgb("f8c0c0"), hard=True, alpha=0.5)
    fill(image, minus(diamond, inner), rgb("d02828"), hard=True)
    fill(image, minus(rect(cx - half, cy - half, cx + half, cy + half),
                      rect(cx - half + 1, cy - half + 1, cx + half - 1, cy + half - 1)), rgb("3050a0"), hard=True)


def emblem_formula(image, u, l, t, r, b):
    scale = u
    left = (l + r - text_width("z", scale) - 4 * scale) / 2
    top = t + 1 * u
    draw_text(image, "z", left, top, scale, rgb("2a5cb8"), smooth=u > 1)
    draw_text(image, "2", left + 6 * scale, top - scale * 1, scale * 0.8, rgb("d03030"), smooth=u > 1)
    fill(image, rect(l + u, b - 2 * u, r - u, b - u), rgb("9098a8"))


def emblem_coloring(image, u, l, t, r, b):
    colours = (rgb("e03030"), rgb("30b040"), rgb("2a5cd8"), rgb("f0c020"))
    size = 4 * u
    for i, colour in enumerate(colours):
        x = l + u + (i % 2) * (size + u)
        y = 2 * u + 2 * u + (i // 2) * (size + u)
        fill(image, rect(x, y, x + size, y + size), OUTLINE)
        fill(image, rect(x + 1, y + 1, x + size - 1, y + size - 1), colour)


def emblem_render_job(image, u, l, t, r, b):
    # A picture calculated down to where the progress bar below has come; the rest still blank.
    done = 0.6
    top, bottom = t - u, b - 5 * u
    fill(image, rect(l + u, top, r - u, bottom), OUTLINE)
    mandelbrot(image, (l + u + 1, top + 1, r - u - 1, bottom - 1), (-0.65, 0.0, 2.9 / (r - l - 2 * u - 2)), DEEP_SEA)
    split = top + 1 + round((bottom - top - 2) * done)
    fill(image, rect(l + u + 1, split, r - u - 1, bottom - 1), rgb("c8ccd6"))
    bar = b - 4 * u
    fill(image, rect(l + u, bar, r - u, bar + 3 * u), OUTLINE)
    fill(image, rect(l + u + 1, bar + 1, r - u - 1, bar + 3 * u - 1), rgb("ffffff"))
    fill(image, rect(l + u + 1, bar + 1, l + u + 1 + round((r - l - 2 * u - 2) * done), bar + 3 * u - 1),
         lambda x, y: mix(rgb("80e080"), rgb("189030"), (y - bar) / (3 * u)))


DOCUMENT_EMBLEMS = {
    "OFR": emblem_image,
    "OPR": emblem_parameters,
    "OGR": emblem_gradient,
    "OAL": emblem_gradient_collection,
    "OXF": emblem_transformation,
    "OFM": emblem_formula,
    "OCL": emblem_coloring,
    "ORJ": emblem_render_job,
}

# File name of each icon and its drawing (Program.rc gives the resource names).
ICONS = [
    ("MainIcon.ico", icon_main),
    ("FractalIcon.ico", icon_fractal),
    ("GradientIcon.ico", icon_gradient),
    ("EditorIcon.ico", icon_editor),
    ("BrowserIcon.ico", icon_browser),
    ("ServerIcon.ico", icon_server),
] + [(kind + "File.ico", document(kind)) for kind in DOCUMENT_EMBLEMS]

# =============================================================================================
# Cursors: 32 x 32, white with a black border, crisp. Each returns (image, hot spot).

BLACK, WHITE = (0.0, 0.0, 0.0), (1.0, 1.0, 1.0)
# The pointer: '#' border, '.' white.
ARROW = [
    "#",
    "##",
    "#.#",
    "#..#",
    "#...#",
    "#....#",
    "#.....#",
    "#......#",
    "#.......#",
    "#........#",
    "#.........#",
    "#......#####",
    "#...#..#",
    "#..# #..#",
    "#.#  #..#",
    "##    #..#",
    "#     #..#",
    "       #..#",
    "       #..#",
    "        ##",
]


def arrow(image, left, top):
    for y, row in enumerate(ARROW):
        for x, cell in enumerate(row):
            if cell != " ":
                image.put(left + x, top + y, (*(BLACK if cell == "#" else WHITE), 1.0))


def dragged_item(image):
    """The outline of the item that is carried, dashed, below the arrow."""
    l, t, r, b = 13, 20, 27, 29
    for x in range(l, r):
        for y in (t, b - 1):
            image.put(x, y, (*(BLACK if (x + y) % 4 < 2 else WHITE), 1.0))
    for y in range(t, b):
        for x in (l, r - 1):
            image.put(x, y, (*(BLACK if (x + y) % 4 < 2 else WHITE), 1.0))


def cursor_drag(copy=False):
    def draw():
        image = Image(32, 32)
        arrow(image, 1, 1)
        dragged_item(image)
        if copy:
            l, t = 20, 21
            fill(image, rect(l, t, l + 11, t + 11), BLACK, hard=True)
            fill(image, rect(l + 1, t + 1, l + 10, t + 10), WHITE, hard=True)
            fill(image, union(rect(l + 5, t + 2, l + 6, t + 9), rect(l + 2, t + 5, l + 9, t + 6)), BLACK, hard=True)
        return image, (1, 1)

    return draw


def cursor_eyedropper():
    image = Image(32, 32)
    # Along the pipette from its tip at the lower left to the bulb at the upper right.
    tip_x, tip_y = 2.0, 29.0
    ux, uy = 1 / math.sqrt(2), -1 / math.sqrt(2)

    def at(t):
        return tip_x + ux * t, tip_y + uy * t

    fill(image, segment(*at(0.5), *at(4), 1.2), rgb("d8f0ff"), hard=True)
    fill(image, segment(*at(3.5), *at(17), 3.4), rgb("d8f0ff"), hard=True)
    fill(image, segment(*at(5), *at(13), 2.0), rgb("3080e0"), hard=True)  # the colour drawn up
    fill(image, segment(*at(17), *at(21), 7.0), rgb("909090"), hard=True)
    fill(image, segment(*at(22), *at(31), 6.0), rgb("303030"), hard=True)
    outline(image, BLACK)
    # The hot spot: the pixel that reaches furthest to the lower left, of those the one on the axis.
    tip = max(((x, y) for y in range(32) for x in range(32) if image.opaque(x, y)),
              key=lambda p: (p[1] - p[0], -abs(p[0] + p[1] - tip_x - tip_y)))
    return image, tip


def cursor_insert():
    image = Image(32, 32)
    y = 15
    fill(image, rect(5, y, 27, y + 1), BLACK, hard=True)
    fill(image, polygon([(1, y - 4.5), (6.5, y + 0.5), (1, y + 5.5)]), BLACK, hard=True)
    fill(image, polygon([(31, y - 4.5), (25.5, y + 0.5), (31, y + 5.5)]), BLACK, hard=True)
    outline(image, WHITE)
    return image, (16, y)


CURSORS = [
    ("Drag.cur", cursor_drag()),
    ("DragCopy.cur", cursor_drag(copy=True)),
    ("Eyedropper.cur", cursor_eyedropper),
    ("Insert.cur", cursor_insert),
]

# =============================================================================================
# Button images: 16 x 16, hard edges on the transparent colour magenta.

TRANSPARENT = (1.0, 0.0, 1.0)


def button_new():
    image = Image(16, 16)
    fill(image, rect(2, 1, 13, 16), PAGE_EDGE, hard=True)
    fill(image, rect(3, 2, 12, 15), WHITE, hard=True)
    mandelbrot(image, (4, 6, 11, 13), (-0.65, 0.0, 2.9 / 7), DEEP_SEA, samples=SAMPLES)
    # A spark: something new.
    fill(image, union(rect(12, 0, 13, 7), rect(9, 3, 16, 4), rect(11, 2, 14, 5)), rgb("f8d020"), hard=True)
    return image


def button_open():
    image = Image(16, 16)
    fill(image, polygon([(1, 3), (6, 3), (7, 5), (14, 5), (14, 14), (1, 14)]), rgb("806018"), hard=True)
    fill(image, polygon([(2, 4), (5.5, 4), (6.5, 6), (13, 6), (13, 13), (2, 13)]), rgb("f0c050"), hard=True)
    # The front flap, opened towards the viewer.
    fill(image, polygon([(3, 8), (16, 8), (13.5, 14), (0.5, 14)]), rgb("806018"), hard=True)
    fill(image, polygon([(4, 9), (14.5, 9), (12.7, 13), (2.2, 13)]), rgb("f8dc80"), hard=True)
    return image


def button_browse():
    image = Image(16, 16)
    lens = ellipse(6, 6, 5.2, 5.2)
    fill(image, lens, rgb("303840"), hard=True)
    inner = ellipse(6, 6, 3.9, 3.9)
    mandelbrot(image, (1, 1, 11, 11), (-0.7, 0.0, 3.0 / 8), FIRE, clip=inner, samples=SAMPLES)
    fill(image, segment(10.2, 10.2, 14.2, 14.2, 2.8), rgb("805020"), hard=True)
    return image


def round_badge(image, colour):
    fill(image, ellipse(8, 8, 7.1, 7.1), rgb("183878"), hard=True)
    fill(image, ellipse(8, 8, 6.1, 6.1), lambda x, y: mix(rgb("80b0f0"), colour, y / 16), hard=True)


def button_help():
    image = Image(16, 16)
    round_badge(image, rgb("2050b0"))
    draw_text(image, "?", 5.5, 4.5, 1.0, WHITE, smooth=False, hard=True)
    return image


def button_about():
    image = Image(16, 16)
    round_badge(image, rgb("2050b0"))
    fill(image, union(rect(7, 3, 9, 5), rect(7, 6, 9, 12), rect(6, 6, 7, 7), rect(6, 11, 10, 12)), WHITE,
         hard=True)
    return image


def button_exit():
    image = Image(16, 16)
    fill(image, rect(2, 1, 10, 15), rgb("503010"), hard=True)
    fill(image, rect(3, 2, 9, 15), rgb("a06830"), hard=True)
    fill(image, rect(7, 8, 8, 9), rgb("f0d060"), hard=True)
    fill(image, rect(1, 15, 12, 16), rgb("505050"), hard=True)
    fill(image, polygon([(6, 6.5), (11, 6.5), (11, 3.5), (15.5, 8), (11, 12.5), (11, 9.5), (6, 9.5)]),
         rgb("20a040"), hard=True)
    return image


def button_options():
    image = Image(16, 16)
    fill(image, gear(8, 8, 7.6, 5.6, 0, 8), rgb("404850"), hard=True)
    fill(image, gear(8, 8, 6.6, 4.6, 2.4, 8), rgb("a8b0bc"), hard=True)
    return image


def small_window(image, l, t, r, b):
    fill(image, rect(l, t, r, b), rgb("203060"), hard=True)
    fill(image, rect(l + 1, t + 1, r - 1, t + 3), rgb("4a80e0"), hard=True)
    fill(image, rect(l + 1, t + 3, r - 1, b - 1), WHITE, hard=True)


def button_cascade():
    image = Image(16, 16)
    for i in range(3):
        small_window(image, 3 * i, 3 * i, 3 * i + 10, 3 * i + 8)
    return image


def button_tile_horizontal():
    image = Image(16, 16)
    small_window(image, 1, 1, 15, 8)
    small_window(image, 1, 8, 15, 15)
    return image


def button_tile_vertical():
    image = Image(16, 16)
    small_window(image, 1, 1, 8, 15)
    small_window(image, 8, 1, 15, 15)
    return image


def small_computer(screen):
    image = Image(16, 16)
    fill(image, rect(1, 1, 15, 11), rgb("303840"), hard=True)
    fill(image, rect(2, 2, 14, 10), screen, hard=True)
    fill(image, rect(6, 11, 10, 13), rgb("606870"), hard=True)
    fill(image, rect(3, 13, 13, 15), rgb("404850"), hard=True)
    return image


# The server window's connection list: a client computer idle, authenticating and connected.
SERVER_LIST_IMAGES = [lambda: small_computer(rgb("8890a0")), lambda: small_computer(rgb("f0c040")),
                      lambda: small_computer(rgb("40b0f0"))]

def check_button(mark, colour):
    """A row's check button in the network window: a box, ticked in the state's colour when on."""
    image = Image(16, 16)
    fill(image, rect(1, 1, 15, 15), rgb("404850"), hard=True)
    fill(image, rect(2, 2, 14, 14), WHITE, hard=True)
    if mark == "tick":
        fill(image, union(segment(4, 8, 7, 11, 2.2), segment(7, 11, 12, 4.5, 2.2)), colour, hard=True)
    elif mark == "cross":
        fill(image, union(segment(4.5, 4.5, 11.5, 11.5, 2.2), segment(11.5, 4.5, 4.5, 11.5, 2.2)), colour,
             hard=True)
    return image


# The network window's check buttons by image index: connecting, not connected, connected,
# calculating, inactive (an empty box).
NETWORK_CHECK_IMAGES = [lambda: check_button("tick", rgb("d0a010")), lambda: check_button("cross", rgb("c02020")),
                        lambda: check_button("tick", rgb("20a040")), lambda: check_button("tick", rgb("2060d0")),
                        lambda: check_button(None, None)]


def button_save():
    image = Image(16, 16)
    fill(image, rect(1, 1, 15, 15), rgb("203060"), hard=True)
    fill(image, rect(2, 2, 14, 14), rgb("4a70c0"), hard=True)
    fill(image, rect(4, 2, 12, 7), WHITE, hard=True)
    fill(image, rect(5, 10, 11, 14), rgb("c0c8d0"), hard=True)
    fill(image, rect(9, 11, 10, 13), rgb("203060"), hard=True)
    return image


def button_save_parameters():
    image = Image(16, 16)
    fill(image, rect(2, 1, 13, 16), PAGE_EDGE, hard=True)
    fill(image, rect(3, 2, 12, 15), WHITE, hard=True)
    for top in (4, 7, 10):
        fill(image, rect(4, top, 11, top + 1), rgb("5060a0"), hard=True)
    fill(image, polygon([(9, 9), (16, 9), (12.5, 15)]), rgb("20a040"), hard=True)
    return image


def button_fractal():
    image = Image(16, 16)
    fill(image, rect(0, 1, 16, 15), rgb("203060"), hard=True)
    mandelbrot(image, (1, 2, 15, 14), (-0.6, 0.0, 2.8 / 14), DEEP_SEA, samples=SAMPLES)
    return image


def button_gradient():
    image = Image(16, 16)
    fill(image, rect(0, 4, 16, 12), rgb("303030"), hard=True)
    fill(image, rect(1, 5, 15, 11), lambda x, y: gradient_colour((x - 1) / 14), hard=True)
    return image


def button_normal():
    image = Image(16, 16)
    fill(image, polygon([(3, 1), (3, 14), (6, 11), (8.5, 15.5), (10.5, 14.5), (8, 10), (12, 10)]),
         rgb("000000"), hard=True)
    fill(image, polygon([(4, 3.5), (4, 11.8), (6.2, 9.6), (8.9, 14.2), (9.4, 13.9), (6.8, 9.2), (9.7, 9.2)]),
         WHITE, hard=True)
    return image


def button_select():
    image = Image(16, 16)
    for i in range(1, 15, 2):
        for l, t in ((i, 2), (i, 13), (1, i), (14, i)):
            fill(image, rect(l, t, l + 1, t + 1), rgb("000000"), hard=True)
    fill(image, rect(5, 6, 11, 10), rgb("4a80e0"), hard=True)
    return image


def button_switch():
    image = Image(16, 16)
    fill(image, polygon([(1, 5), (10, 5), (10, 2), (15, 7), (10, 12), (10, 9), (1, 9)]), rgb("c04020"),
         hard=True)
    fill(image, polygon([(15, 11), (6, 11), (6, 8), (1, 13), (6, 18), (6, 15), (15, 15)]), rgb("2050b0"),
         hard=True)
    return image


def curved_arrow(image, mirrored):
    def at(x):
        return 15 - x if mirrored else x
    fill(image, union(rect(min(at(4), at(11)) + 0, 5, max(at(4), at(11)) + 1, 8),
                      rect(min(at(11), at(13)), 5, max(at(11), at(13)) + 1, 13)), rgb("2050b0"), hard=True)
    fill(image, polygon([(at(5.5), 1.5), (at(5.5), 11.5), (at(0.5), 6.5)]), rgb("2050b0"), hard=True)


def button_undo():
    image = Image(16, 16)
    curved_arrow(image, False)
    return image


def button_redo():
    image = Image(16, 16)
    curved_arrow(image, True)
    return image


def button_copy():
    image = Image(16, 16)
    for l, t in ((1, 1), (6, 5)):
        fill(image, rect(l, t, l + 9, t + 11), PAGE_EDGE, hard=True)
        fill(image, rect(l + 1, t + 1, l + 8, t + 10), WHITE, hard=True)
    for top in (8, 10, 12):
        fill(image, rect(8, top, 13, top + 1), rgb("5060a0"), hard=True)
    return image


def button_paste():
    image = Image(16, 16)
    fill(image, rect(1, 2, 12, 15), rgb("805020"), hard=True)
    fill(image, rect(4, 1, 9, 4), rgb("a0a0a0"), hard=True)
    fill(image, rect(7, 6, 15, 16), PAGE_EDGE, hard=True)
    fill(image, rect(8, 7, 14, 15), WHITE, hard=True)
    return image


def button_render():
    image = Image(16, 16)
    fill(image, rect(1, 3, 15, 13), rgb("404040"), hard=True)
    fill(image, rect(2, 4, 14, 12), rgb("d0d0d0"), hard=True)
    fill(image, rect(3, 5, 13, 11), lambda x, y: gradient_colour((x - 3) / 10), hard=True)
    fill(image, rect(5, 13, 11, 15), rgb("404040"), hard=True)
    return image


TOOLBAR_BUTTONS = [button_new, button_open, button_browse, button_help]
# The fractal window's buttons in the order of its tool bar.
FRACTAL_BUTTONS = [button_new, button_open, button_browse, button_save, button_save_parameters, button_fractal,
                   button_gradient, button_normal, button_select, button_switch, button_help, button_redo,
                   button_undo, button_copy, button_paste, button_render]
MENU_BUTTONS = TOOLBAR_BUTTONS + [button_exit, button_options, button_cascade, button_tile_horizontal,
                                  button_tile_vertical, button_about]


def button_strip(buttons):
    strip = Image(16 * len(buttons), 16)
    for i, draw in enumerate(buttons):
        strip.paste(draw(), 16 * i, 0)
    for pixel in strip.pixels:
        if pixel[3] < 0.5:
            pixel[:] = [*TRANSPARENT, 1.0]
        else:
            pixel[3] = 1.0
    return strip


# =============================================================================================
# The About picture: 560 x 280. The program name at the upper left; pale panels at the lower right
# and the lower left for the dark labels drawn over them (version, build date and copyright
# right-aligned on the right, contact lines at the lower left).

ABOUT_SIZE = (560, 280)


NIGHT = (
    rgb("000000"),
    [(0.0, rgb("02040e")), (0.3, rgb("0a1a50")), (0.55, rgb("1c5ab8")), (0.72, rgb("60c8f0")),
     (0.82, rgb("ffffff")), (0.9, rgb("ffc040")), (1.0, rgb("ff7010"))],
)


def smooth_step(edge0, edge1, x):
    t = min(max((x - edge0) / (edge1 - edge0), 0.0), 1.0)
    return t * t * (3 - 2 * t)


def about_picture():
    width, height = ABOUT_SIZE
    image = Image(width, height, (0.0, 0.0, 0.0, 1.0))
    corners = [(0.5, 0.5), (0.5, 1.5)]  # two samples a pixel: smooth enough, and quick
    mandelbrot(image, (0, 0, width, height), (-1.55, 0.22, 1.0 / 82.0), NIGHT, limit=400, samples=corners)
    # Frosted panels behind the labels (dark text: version, build date and copyright right-aligned
    # on the right, contact lines at the lower left), with soft edges.
    pale = (0.93, 0.95, 1.0)
    panels = ((0, 186, 560, 280),)
    feather = 6.0
    for y in range(height):
        for x in range(width):
            cover = 0.0
            for left, top, right, bottom in panels:
                inside = min(x - left, right - 1 - x, y - top, bottom - 1 - y)
                cover = max(cover, min(max((inside + 1) / feather, 0.0), 1.0))
            if cover > 0.0:
                image.blend(x, y, pale, 0.86 * cover)
    title = "Orbisk Vantel"
    scale = 5
    left, top = 22, 18
    for dx, dy, colour, alpha in ((3, 3, (0.0, 0.0, 0.05), 0.75), (0, 0, None, 1.0)):
        x = left + dx
        for char in title:
            shape, box = glyph_shape(char, x, top + dy, scale)
            paint = colour or (lambda px, py: mix(rgb("ffffff"), rgb("ffc860"), (py - top) / (7 * scale)))
            fill(image, shape, paint, box, alpha=alpha)
            x += (len(FONT[char][0]) + 1) * scale
    # A thin gradient rule under the name.
    rule_top = top + 7 * scale + 8
    rule_width = text_width(title, scale)
    fill(image, rect(left, rule_top, left + rule_width, rule_top + 2),
         lambda x, y: gradient_colour((x - left) / rule_width), alpha=0.9)
    return image


BITMAPS = [
    ("About.bmp", about_picture),
    ("ToolbarMain.bmp", lambda: button_strip(TOOLBAR_BUTTONS)),
    ("MenuImages.bmp", lambda: button_strip(MENU_BUTTONS)),
    ("ToolbarServer.bmp", lambda: button_strip([button_options, button_help])),
    ("ServerImages.bmp", lambda: button_strip(SERVER_LIST_IMAGES)),
    ("NetworkImages.bmp", lambda: button_strip(NETWORK_CHECK_IMAGES)),
    ("ToolbarFractal.bmp", lambda: button_strip(FRACTAL_BUTTONS)),
]

# =============================================================================================
# File writers


def byte(value):
    return max(0, min(255, int(round(value * 255.0))))


def dib_rows(image, pixel_bytes):
    """Rows bottom-up, each padded to a multiple of four bytes."""
    rows = []
    for y in range(image.height - 1, -1, -1):
        row = b"".join(pixel_bytes(image.get(x, y)) for x in range(image.width))
        rows.append(row + b"\0" * (-len(row) % 4))
    return b"".join(rows)


def icon_image_data(image):
    """One image of an icon or cursor: header, 32-bit colour with alpha, 1-bit mask (set where the
    picture is fully transparent, for systems without alpha)."""

    def bgra(p):
        a = byte(p[3])
        return bytes((byte(p[2]), byte(p[1]), byte(p[0]), a)) if a else b"\0\0\0\0"

    colour = dib_rows(image, bgra)
    mask_rows = []
    for y in range(image.height - 1, -1, -1):
        bits = 0
        for x in range(image.width):
            bits = bits << 1 | (byte(image.get(x, y)[3]) == 0)
        row = bits.to_bytes((image.width + 7) // 8, "big")
        mask_rows.append(row + b"\0" * (-len(row) % 4))
    mask = b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, image.width, 2 * image.height, 1, 32, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    return header + colour + mask


def icon_file(images, kind=1, hot_spots=None):
    """An .ico (kind 1) or .cur (kind 2) file; a cursor entry carries its hot spot where an icon
    entry has planes and bit count."""
    datas = [icon_image_data(image) for image in images]
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for i, (image, data) in enumerate(zip(images, datas)):
        first, second = hot_spots[i] if kind == 2 else (1, 32)
        out += struct.pack("<BBBBHHII", image.width % 256, image.height % 256, 0, 0, first, second, len(data),
                           offset)
        offset += len(data)
    return out + b"".join(datas)


def bmp_file(image):
    pixels = dib_rows(image, lambda p: bytes((byte(p[2]), byte(p[1]), byte(p[0]))))
    info = struct.pack("<IiiHHIIiiII", 40, image.width, image.height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + pixels


def write(folder, name, data):
    path = os.path.join(folder, name)
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: draw_resources.py OUTPUT_FOLDER\n")
        return 2
    folder = argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, draw in ICONS:
        write(folder, name, icon_file([draw(16), draw(32)]))
    for name, draw in CURSORS:
        image, hot_spot = draw()
        if not image.opaque(*hot_spot):
            raise SystemExit(f"{name}: the hot spot {hot_spot} lies on a transparent pixel")
        write(folder, name, icon_file([image], kind=2, hot_spots=[hot_spot]))
    for name, draw in BITMAPS:
        write(folder, name, bmp_file(draw()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
