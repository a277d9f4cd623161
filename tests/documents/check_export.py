#!/usr/bin/env python3
"""Reads the export samples of programs/ExportSamples back with independent tools.

ImageMagick compares every lossless file with a reference image that this script makes from the
pixel formulas on its own; pngcheck checks the PNG chunks, tiffinfo decodes the TIFFs, djpeg the
JPEGs; the Photoshop layer records are read by a small reader written here from the public
description of the format.

Usage: check_export.py <folder written by ExportSamples>. Exit code 0 when every check passes.
"""
import math
import os
import shutil
import struct
import subprocess
import sys

WIDTH, HEIGHT = 257, 129
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)
    return condition


# --- pixel formulas (repeated from the writer program, red green blue alpha) ------------------

def merged_pixel(x, y):
    return ((x ^ y) & 255, (2 * y) & 255, x & 255, x * 255 // 256)


def over_white(p):
    return tuple((c * p[3] + 255 * (255 - p[3]) + 127) // 255 for c in p[:3])


def layer_pixel(k, x, y):
    a = y * 255 // 128 if k == 1 else 255 - x * 255 // 256 if k == 2 else x * 255 // 256
    return ((x + y + 90 * k) & 255, (2 * y + 17 * k) & 255, (x + 40 * k) & 255, a)


def write_pam(path, width, height, pixel, alpha):
    depth = 4 if alpha else 3
    tupltype = "RGB_ALPHA" if alpha else "RGB"
    data = bytearray()
    for y in range(height):
        for x in range(width):
            p = pixel(x, y)
            data += bytes(p if alpha else over_white(p))
    with open(path, "wb") as f:
        f.write(("P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n"
                 % (width, height, depth, tupltype)).encode())
        f.write(data)


def run(args):
    return subprocess.run(args, capture_output=True, text=True, errors="replace")


CONVERT = shutil.which("convert-im6.q16") or "/usr/bin/convert"


def compare_ae(image, reference, defines=()):
    # "AE" counts the pixels that differ; compare exits with 0 only when there are none.
    if image.endswith(".tga"):
        # ImageMagick keeps a Targa file's bottom-up rows and marks the image BottomLeft;
        # turning it upright is the reader's step, not a difference of the file.
        upright = image + ".upright.pam"
        run([CONVERT, image, "-auto-orient", upright])
        image = upright
    args = ["compare"]
    for define in defines:
        args += ["-define", define]
    r = run(args + ["-metric", "AE", image, reference, "null:"])
    check(r.returncode == 0 and r.stderr.strip() == "0",
          "%s differs from %s: %s" % (image, os.path.basename(reference), r.stderr.strip()))


# --- Photoshop layer records ------------------------------------------------------------------

class PSDReader:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.pos = 0

    def take(self, fmt):
        values = struct.unpack_from(">" + fmt, self.data, self.pos)
        self.pos += struct.calcsize(">" + fmt)
        return values if len(values) > 1 else values[0]

    def read(self):
        d = self.data
        check(d[:4] == b"8BPS", "PSD signature")
        self.pos = 4
        version, _, channels, height, width, depth, mode = self.take("H6sHIIHH")
        self.header = dict(version=version, channels=channels, height=height, width=width,
                           depth=depth, mode=mode)
        color_len = self.take("I")
        self.pos += color_len
        resources_len = self.take("I")
        self.pos += resources_len
        section_at = self.pos
        section_len = self.take("I")
        self.layers = []
        self.count = 0
        if section_len:
            info_len = self.take("I")
            info_at = self.pos
            self.count = self.take("h")
            for _ in range(abs(self.count)):
                top, left, bottom, right, nch = self.take("iiiiH")
                chans = [self.take("hI") for _ in range(nch)]
                sig, key, opacity, clipping, flags, filler, extra = self.take("4s4sBBBBI")
                extra_at = self.pos
                mask_len = self.take("I")
                self.pos += mask_len
                ranges_len = self.take("I")
                ranges = d[self.pos:self.pos + ranges_len]
                self.pos += ranges_len
                name_len = d[self.pos]
                name = d[self.pos + 1:self.pos + 1 + name_len]
                name_field = extra - (self.pos - extra_at)
                self.pos = extra_at + extra
                self.layers.append(dict(rect=(top, left, bottom, right), channels=chans, sig=sig,
                                        key=key, opacity=opacity, clipping=clipping, flags=flags,
                                        mask_len=mask_len, ranges=ranges, name=name,
                                        name_field=name_field))
            # Channel image data: each channel's length as its record says, each beginning with
            # its compression field, byte counts and exactly that many packed bytes.
            for layer in self.layers:
                height = layer["rect"][2] - layer["rect"][0]
                for cid, length in layer["channels"]:
                    start = self.pos
                    compression = self.take("H")
                    counts = self.take("%dH" % height) if height > 1 else (self.take("H"),)
                    check(compression == 1, "channel compression PackBits")
                    check(2 + 2 * height + sum(counts) == length,
                          "channel %d length %d matches its packed rows" % (cid, length))
                    self.pos = start + length
            if self.pos % 2:
                self.pos += 1
            check(self.pos == info_at + info_len,
                  "layer information length %d ends where the data ends" % info_len)
            global_mask = self.take("I")
            check(global_mask == 0, "empty global layer mask")
            check(self.pos == section_at + 4 + section_len, "layer and mask section length")
        else:
            self.pos = section_at + 4
        compression = self.take("H")
        check(compression == 1, "merged image compression PackBits")
        rows = self.header["channels"] * self.header["height"]
        counts = struct.unpack_from(">%dH" % rows, d, self.pos)
        self.pos += 2 * rows
        check(self.pos + sum(counts) == len(d), "merged byte counts cover the rest of the file")
        return self


def check_psd_records(folder):
    psd = PSDReader(os.path.join(folder, "layers.psd")).read()
    check(psd.count == -3, "layers.psd: negative layer count -3 (got %d)" % psd.count)
    check(psd.header["channels"] == 4, "layers.psd: merged image with alpha")
    for layer in psd.layers:
        check([c[0] for c in layer["channels"]] == [-1, 0, 1, 2], "layers.psd: channel ids")
    check([l["name"] for l in psd.layers] == [b"Bottom", b"Middle", b"Top"], "layers.psd: bottom first")

    psd = PSDReader(os.path.join(folder, "records.psd")).read()
    check(psd.count == 3, "records.psd: positive layer count 3 (got %d)" % psd.count)
    check(psd.header["channels"] == 3, "records.psd: merged image without alpha")
    expected = [
        # name, key, opacity byte, flags, channel ids (bottom layer first)
        (b"Base", b"lum ", 255, 0, [0, 1, 2]),
        (b"Hidden", b"diff", 30 * 255 // 100, 2, [-1, 0, 1, 2]),
        (b"N" * 255, b"mul ", 50 * 255 // 100, 0, [-1, 0, 1, 2]),
    ]
    check(len(psd.layers) == 3, "records.psd: three records")
    for layer, (name, key, opacity, flags, ids) in zip(psd.layers, expected):
        label = "records.psd layer %r" % name[:8]
        check(layer["rect"] == (0, 0, HEIGHT, WIDTH), label + ": rectangle")
        check(layer["sig"] == b"8BIM", label + ": blend signature")
        check(layer["key"] == key, label + ": blend key %r" % layer["key"])
        check(layer["opacity"] == opacity, label + ": opacity %d" % layer["opacity"])
        check(layer["flags"] == flags, label + ": flags %d" % layer["flags"])
        check(layer["name"] == name, label + ": name")
        check((1 + len(name) + layer["name_field"] - 1 - len(name)) % 4 == 0, label + ": name padding")
        check(layer["ranges"] == b"\x00\x00\xff\xff" * 10, label + ": blending ranges")
        check([c[0] for c in layer["channels"]] == ids, label + ": channel ids")


# --- TIFF directories -------------------------------------------------------------------------

def tiff_entries(path):
    with open(path, "rb") as f:
        d = f.read()
    check(d[:4] == b"II*\x00", path + ": little-endian TIFF header")
    at = struct.unpack_from("<I", d, 4)[0]
    n = struct.unpack_from("<H", d, at)[0]
    entries = {}
    for i in range(n):
        tag, typ, count, value = struct.unpack_from("<HHII", d, at + 2 + 12 * i)
        entries[tag] = (typ, count, value, at + 2 + 12 * i + 8)
    return d, entries


def check_tiff(folder, name, width, height, alpha):
    path = os.path.join(folder, name)
    r = run(["tiffinfo", "-D", path])
    check(r.returncode == 0, "%s: tiffinfo exit %d" % (name, r.returncode))
    check(r.stderr.strip() == "", "%s: tiffinfo complains: %s" % (name, r.stderr.strip()))
    check("Image Width: %d Image Length: %d" % (width, height) in r.stdout, name + ": size")
    check("DateTime: 2024:08:19 13:05:09" in r.stdout, name + ": date")
    check("Software: Orbisk Vantel " in r.stdout, name + ": software")
    d, entries = tiff_entries(path)
    check(len(entries) == (17 if alpha else 16), name + ": %d entries" % len(entries))
    check((338 in entries) == alpha, name + ": extra samples only with alpha")
    # Values of four bytes or fewer lie in the entry: one strip's offset and count, short texts.
    for tag in (273, 279):
        typ, count, value, value_at = entries[tag]
        if count == 1:
            check(value < len(d), name + ": single strip value in its entry")
    if height == 1:
        offset = entries[273][2]
        length = entries[279][2]
        check(0 < offset and offset + length <= len(d), name + ": strip inside the file")
    write_pam(path + ".ref.pam", width, height, merged_pixel, alpha)
    compare_ae(path, path + ".ref.pam")


# --- main -------------------------------------------------------------------------------------

def main():
    folder = sys.argv[1]
    ref_alpha = os.path.join(folder, "ref-merged-alpha.pam")
    ref_opaque = os.path.join(folder, "ref-merged-opaque.pam")
    write_pam(ref_alpha, WIDTH, HEIGHT, merged_pixel, True)
    write_pam(ref_opaque, WIDTH, HEIGHT, merged_pixel, False)
    layer_refs = []
    for k in range(3):
        ref = os.path.join(folder, "ref-layer%d.pam" % k)
        write_pam(ref, WIDTH, HEIGHT, lambda x, y, k=k: layer_pixel(k, x, y), True)
        layer_refs.append(ref)

    for name, ref in [("merged.bmp", ref_opaque), ("merged.tga", ref_alpha),
                      ("merged-opaque.tga", ref_opaque), ("merged.tif", ref_alpha),
                      ("merged-opaque.tif", ref_opaque), ("merged.png", ref_alpha),
                      ("merged-opaque.png", ref_opaque), ("split.png", ref_alpha),
                      ("merged.psd", ref_alpha), ("merged-opaque.psd", ref_opaque)]:
        compare_ae(os.path.join(folder, name), ref)
    # With layers, ImageMagick takes the merged colours as matted against white and unblends
    # them; the file stores them unmatted, as the export's merged rows come.
    compare_ae(os.path.join(folder, "layers.psd[0]"), ref_alpha, ["psd:alpha-unblend=false"])
    # ImageMagick lists a Photoshop file's layers after its merged image, bottom layer first.
    layers_psd = os.path.join(folder, "layers.psd")
    for index, k in ((1, 2), (2, 1), (3, 0)):
        compare_ae("%s[%d]" % (layers_psd, index), layer_refs[k])
    for psd in ("layers.psd", "records.psd"):
        r = run(["identify", "-format", "%w %h\n", os.path.join(folder, psd)])
        sizes = r.stdout.split("\n")[:-1]
        check(r.returncode == 0 and sizes == ["%d %d" % (WIDTH, HEIGHT)] * 4,
              "%s: merged image and three layers of %dx%d: %r" % (psd, WIDTH, HEIGHT, sizes))
    check_psd_records(folder)

    for name, colour in (("merged.png", "RGB+alpha"), ("merged-opaque.png", "24-bit RGB"),
                         ("split.png", "RGB+alpha")):
        r = run(["pngcheck", "-v", "-t", os.path.join(folder, name)])
        out = r.stdout
        check(r.returncode == 0 and "No errors detected" in out, "%s: pngcheck: %s" % (name, out[-300:]))
        check(colour in out, "%s: %s" % (name, colour))
        check("chunk gAMA" in out and ": 0.40000" in out, name + ": gAMA 40000")
        check("chunk pHYs" in out and "11811x11811 pixels/meter" in out, name + ": pHYs 11811")
        for keyword, text in (("Title", "Gradient ramp"), ("Author", "Test Author"),
                              ("Creation Time", "August 19, 2024"), ("Software", "Orbisk Vantel 3"),
                              ("Comment", "first line\n    second line")):
            check("keyword: %s\n    %s" % (keyword, text) in out, "%s: tEXt %s %r" % (name, keyword, text))
        idats = out.count("chunk IDAT")
        if name == "split.png":
            check(idats > 10, "split.png: image data in many IDAT chunks (%d)" % idats)
        else:
            check(idats == 1, "%s: one IDAT chunk (%d)" % (name, idats))

    for name, width, height, alpha in (("t1x1.tif", 1, 1, True), ("t1x1-opaque.tif", 1, 1, False),
                                       ("t1x5.tif", 1, 5, True), ("t5x1.tif", 5, 1, True),
                                       ("t200x1.tif", 200, 1, False),
                                       ("merged.tif", WIDTH, HEIGHT, True),
                                       ("merged-opaque.tif", WIDTH, HEIGHT, False)):
        check_tiff(folder, name, width, height, alpha)

    # JPEG: decoded by djpeg, compared with the image over white. The error a quality allows is
    # given as a least peak signal-to-noise ratio; a swapped red and blue would fall far below.
    reference = bytes(b for y in range(HEIGHT) for x in range(WIDTH)
                      for b in over_white(merged_pixel(x, y)))
    for name, least_psnr in (("q90.jpg", 34.0), ("q50.jpg", 30.0)):
        r = subprocess.run(["djpeg", "-pnm", os.path.join(folder, name)], capture_output=True)
        if not check(r.returncode == 0 and not r.stderr, name + ": djpeg decodes cleanly"):
            continue
        header, _, rest = r.stdout.partition(b"\n255\n")
        check(header.split() == [b"P6", str(WIDTH).encode(), str(HEIGHT).encode()], name + ": size")
        pixels = rest[:len(reference)]
        mse = sum((a - b) ** 2 for a, b in zip(pixels, reference)) / len(reference)
        psnr = 10 * math.log10(255 * 255 / mse) if mse else 99.0
        print("%s: PSNR %.1f dB" % (name, psnr))
        check(psnr >= least_psnr, "%s: PSNR %.1f dB below %.1f" % (name, psnr, least_psnr))

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all export checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
