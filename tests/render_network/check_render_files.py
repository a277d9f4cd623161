#!/usr/bin/env python3
"""Reads the render job files that RenderJobRunner's samples mode kept, with a parser written from
the published layout alone: the 100-byte header with its four texts, the strip files (finished and
interrupted), and the bitmap assembled from the finished strips, compared row by row."""
import glob
import math
import os
import struct
import sys

HEADER = struct.Struct('<4sIiiiiiiBdIIBiBBBBIdBiBIi4i')
assert HEADER.size == 100
STRIP = struct.Struct('<4sIIiId')
assert STRIP.size == 28

JOBS = {
    0x0A10: dict(name='Plain', fmt=0, transparency=0, layers=0, depth=0, dest='plain.bmp'),
    0x0A11: dict(name='Layered', fmt=1, transparency=1, layers=1, depth=1, dest='layered.psd'),
}
WIDTH, HEIGHT = 1500, 50
EXPORT_LAYERS = 2
LAYERS = 2
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def read_header(path, expected):
    data = open(path, 'rb').read()
    fields = HEADER.unpack_from(data)
    (magic, version, entry, width, height, strip_height, strip_count, depth, split, threshold,
     name_len, dest_len, fmt, req_height, log, par_mode, open_finished, aspect, text_len,
     resolution, layers, quality, transparency, source_len, req_width, left, top, right,
     bottom) = fields
    check(magic == b'OBRJ' and version == 2, f'{path}: magic {magic!r} version {version}')
    check((width, height) == (WIDTH, HEIGHT), f'{path}: size {width} x {height}')
    check((req_width, req_height) == (WIDTH, HEIGHT), f'{path}: requested {req_width} x {req_height}')
    check(strip_height == 32768 // WIDTH, f'{path}: strip height {strip_height}')
    check(strip_count == math.ceil(HEIGHT / strip_height), f'{path}: strip count {strip_count}')
    check((left, top, right, bottom) == (0, 0, WIDTH, HEIGHT), f'{path}: portion {left, top, right, bottom}')
    check(fmt == expected['fmt'] and transparency == expected['transparency'] and layers == expected['layers'],
          f'{path}: format {fmt} transparency {transparency} layers {layers}')
    check(depth == expected['depth'] and abs(threshold - 0.1) < 1e-12, f'{path}: anti-aliasing {depth} {threshold}')
    check(entry == 0 and par_mode == 0 and log == 0, f'{path}: entry {entry} mode {par_mode} log {log}')
    check(100 + name_len + dest_len + text_len + source_len == len(data),
          f'{path}: texts {name_len}+{dest_len}+{text_len}+{source_len} against {len(data)} bytes')
    pos = 100
    texts = []
    for length in (name_len, dest_len, text_len, source_len):
        texts.append(data[pos:pos + length].decode('latin-1'))
        pos += length
    name, dest, text, source = texts
    check(name == expected['name'], f'{path}: name {name!r}')
    check(dest.lower().endswith(expected['dest']), f'{path}: destination {dest!r}')
    check(source == 'Sample', f'{path}: source {source!r}')
    check(text.startswith('Sample {') and 'layer:' in text, f'{path}: parameter text {text[:40]!r}')
    return strip_height, strip_count, transparency, layers


def read_strips(folder, job, strip_height, strip_count, transparency, layers):
    finished = {}
    last_time = 0.0
    kinds = set()
    for path in sorted(glob.glob(os.path.join(folder, f'{job:04x}_????_*.odr')),
                       key=lambda p: int(p.rsplit('_', 1)[1][:-4])):
        strip = int(os.path.basename(path).split('_')[1], 16)
        data = open(path, 'rb').read()
        magic, version, size, layer, kind, days = STRIP.unpack_from(data)
        check(magic == b'OBRB' and version == 1, f'{path}: magic {magic!r} version {version}')
        check(size == len(data), f'{path}: size field {size} against {len(data)}')
        check(math.isfinite(days) and days >= last_time, f'{path}: time {days} after {last_time}')
        last_time = days
        kinds.add(kind)
        rows = strip_height if strip < strip_count - 1 else HEIGHT - (strip_count - 1) * strip_height
        if kind == 2:
            bpp = 4 if transparency else 3
            # Rows, each export layer's rows, then each layer's last row of float samples (one more
            # column than the image), the next strip's first row.
            expected = (28 + rows * WIDTH * bpp + (EXPORT_LAYERS * rows * WIDTH * 4 if layers else 0)
                        + LAYERS * (WIDTH + 1) * 16)
            check(len(data) == expected, f'{path}: {len(data)} bytes, finished strip of {rows} rows needs {expected}')
            check(layer == 1, f'{path}: finished in layer {layer}')
            finished[strip] = data[28:28 + rows * WIDTH * bpp]
        else:
            check(kind in (0, 1), f'{path}: kind {kind}')
            check(0 <= layer < 2, f'{path}: layer {layer}')
            check(len(data) > 28 + WIDTH * 16, f'{path}: interrupted strip of {len(data)} bytes holds no layer')
    check(sorted(finished) == list(range(strip_count)), f'job {job:04x}: finished strips {sorted(finished)}')
    return finished, kinds


def check_bitmap(path, strips):
    data = open(path, 'rb').read()
    check(data[:2] == b'BM', f'{path}: not a bitmap')
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    bits = struct.unpack_from('<H', data, 28)[0]
    check((width, abs(height), bits) == (WIDTH, HEIGHT, 24), f'{path}: {width} x {height} x {bits}')
    merged = b''.join(strips[i] for i in sorted(strips))
    stride = (WIDTH * 3 + 3) // 4 * 4
    for y in range(HEIGHT):
        row = HEIGHT - 1 - y if height > 0 else y
        stored = data[offset + row * stride: offset + row * stride + WIDTH * 3]
        if stored != merged[y * WIDTH * 3:(y + 1) * WIDTH * 3]:
            failures.append(f'{path}: row {y} differs from the strips')
            break


def main(folder):
    samples = os.path.join(folder, 'samples')
    for job, expected in JOBS.items():
        header = os.path.join(samples, f'{job:04x}_header.odr')
        if not os.path.exists(header):
            failures.append(f'{header} missing')
            continue
        layout = read_header(header, expected)
        strips, kinds = read_strips(samples, job, *layout)
        if job == 0x0A10:
            check_bitmap(os.path.join(folder, expected['dest']), strips)
        else:
            check(kinds & {0, 1}, 'the stopped job left no interrupted strip')
            check(open(os.path.join(folder, expected['dest']), 'rb').read(4) == b'8BPS', 'no Photoshop image')
    for failure in failures:
        print(failure)
    print('render files: ' + ('FAILED' if failures else 'ok'))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
