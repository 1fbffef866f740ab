#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: small valid files of every
kind each reader knows, and broken ones (truncated, bad checksums, headers
that claim far more pixels than the file brings). Deterministic: running it
again gives the same files. Usage: fuzz/make_seeds.py [CORPUS_DIR]"""

import os
import random
import struct
import sys
import zlib

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
rng = random.Random(20260)


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# ---- PNG ----

def chunk(kind, data, crc=None):
    if crc is None:
        crc = zlib.crc32(kind + data) & 0xFFFFFFFF
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def packed_row(samples, depth):
    """Samples of one scanline packed big-endian at the bit depth."""
    if depth == 8:
        return bytes(samples)
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    bits, out = 0, bytearray()
    count = 0
    for sample in samples:
        bits = (bits << depth) | sample
        count += depth
        if count == 8:
            out.append(bits)
            bits, count = 0, 0
    if count:
        out.append(bits << (8 - count))
    return bytes(out)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def scanlines(width, height, channels, depth, interlaced, pixel):
    raw = bytearray()
    passes = ADAM7 if interlaced else [(0, 0, 1, 1)]
    for x0, y0, dx, dy in passes:
        for y in range(y0, height, dy):
            xs = range(x0, width, dx)
            if not xs:
                continue
            samples = [s for x in xs for s in pixel(x, y)[:channels]]
            filter_type = (x0 + y) % 5 if depth >= 8 else 0
            row = packed_row(samples, depth)
            raw.append(filter_type)
            raw += filtered(row, filter_type, max(1, channels * depth // 8))
    return bytes(raw)


def filtered(row, filter_type, bpp):
    # None and Sub are applied for real; Up, Average and Paeth are declared over
    # unfiltered bytes, which a decoder accepts all the same (other pixel values).
    out = bytearray(len(row))
    for i, value in enumerate(row):
        left = row[i - bpp] if i >= bpp else 0
        if filter_type == 0:
            out[i] = value
        elif filter_type == 1:
            out[i] = (value - left) & 0xFF
        else:
            out[i] = value  # decoded against the previous row: any bytes are valid input
    return bytes(out)


def png(width, height, colour_type, depth, interlaced=False, extra=b"", palette=None, level=9):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
    top = (1 << depth) - 1

    def pixel(x, y):
        return [rng.randint(0, top) for _ in range(channels)] if (x + y) % 3 else [top] * channels

    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 1 if interlaced else 0)
    body = chunk(b"IHDR", header)
    if palette is not None:
        body += chunk(b"PLTE", palette)
    body += extra
    data = zlib.compress(scanlines(width, height, channels, depth, interlaced, pixel), level)
    body += chunk(b"IDAT", data[: len(data) // 2]) + chunk(b"IDAT", data[len(data) // 2:])
    return b"\x89PNG\r\n\x1a\n" + body + chunk(b"IEND", b"")


def png_header_only(width, height, colour_type=6, depth=8, data=b""):
    header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + data


def png_seeds():
    palette = bytes(rng.randint(0, 255) for _ in range(3 * 16))
    seeds = {
        "grey1.png": png(13, 5, 0, 1),
        "grey2.png": png(7, 7, 0, 2),
        "grey4.png": png(9, 3, 0, 4),
        "grey8.png": png(16, 9, 0, 8),
        "grey16.png": png(5, 4, 0, 16),
        "grey8-trns.png": png(6, 6, 0, 8, extra=chunk(b"tRNS", b"\x00\x00")),
        "rgb8.png": png(17, 11, 2, 8),
        "rgb16.png": png(4, 6, 2, 16),
        "rgb8-trns.png": png(5, 5, 2, 8, extra=chunk(b"tRNS", b"\x00\x01\x00\x02\x00\x03")),
        "palette4.png": png(11, 4, 3, 4, palette=palette),
        "palette8-trns.png": png(8, 8, 3, 4, palette=palette, extra=chunk(b"tRNS", bytes(range(0, 160, 10)))),
        "grey-alpha8.png": png(9, 9, 4, 8),
        "grey-alpha16.png": png(3, 7, 4, 16),
        "rgba8.png": png(12, 12, 6, 8),
        "rgba16.png": png(6, 5, 6, 16),
        "rgba8-interlaced.png": png(19, 13, 6, 8, interlaced=True),
        "grey2-interlaced.png": png(10, 9, 0, 2, interlaced=True),
        "one-pixel.png": png(1, 1, 6, 8),
        "tall.png": png(1, 64, 2, 8),
        "wide.png": png(64, 1, 0, 8),
        "stored.png": png(8, 4, 2, 8, level=0),
        "with-text.png": png(4, 4, 6, 8, extra=chunk(b"tEXt", b"Comment\x00zpx seed") + chunk(b"gAMA", b"\x00\x00\xb1\x8f")),
    }
    good = seeds["rgba8.png"]
    seeds.update({
        "truncated-in-idat.png": good[: len(good) - 30],
        "truncated-in-header.png": good[:20],
        "signature-only.png": good[:8],
        "no-iend.png": good[:-12],
        "bad-crc.png": png(4, 4, 2, 8)[:29] + b"\x00\x00\x00\x00" + png(4, 4, 2, 8)[33:],
        "huge-100000.png": png_header_only(100000, 100000),
        "huge-100000-with-data.png": png_header_only(100000, 100000, data=chunk(b"IDAT", zlib.compress(b"\x00" * 4000))),
        "limits-8192x16384.png": png_header_only(8192, 16384, data=chunk(b"IDAT", zlib.compress(b"\x00" * 64))),
        "side-32768.png": png_header_only(32768, 1, data=chunk(b"IDAT", zlib.compress(b"\x00" * 64))),
        "zero-width.png": png_header_only(0, 5),
        "text-claims-1g.png": good[:33] + struct.pack(">I", 0x48000010) + b"tEXta\x00b" + good[33:],
        "bad-depth.png": png_header_only(4, 4, colour_type=2, depth=4),
        "palette-missing.png": png(4, 4, 3, 8, palette=None),
    })
    return seeds


# ---- PPM, PGM, PAM ----

def netpbm(magic, width, height, maxval, depth):
    samples = width * height * depth
    data = bytes(rng.randint(0, 255) for _ in range(samples * (2 if maxval > 255 else 1)))
    return b"%s\n%d %d\n%d\n" % (magic, width, height, maxval) + data


def pam(width, height, depth, maxval, tupltype):
    data = bytes(rng.randint(0, 255) for _ in range(width * height * depth * (2 if maxval > 255 else 1)))
    header = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\n" % (width, height, depth, maxval)
    if tupltype:
        header += b"TUPLTYPE " + tupltype + b"\n"
    return header + b"ENDHDR\n" + data


def netpbm_seeds():
    good = netpbm(b"P6", 7, 5, 255, 3)
    return {
        "rgb.ppm": good,
        "rgb16.ppm": netpbm(b"P6", 4, 3, 65535, 3),
        "rgb-maxval1.ppm": netpbm(b"P6", 3, 3, 1, 3),
        "rgb-maxval1000.ppm": netpbm(b"P6", 2, 5, 1000, 3),
        "grey.pgm": netpbm(b"P5", 9, 4, 255, 1),
        "grey16.pgm": netpbm(b"P5", 3, 3, 300, 1),
        "grey-maxval15.pgm": netpbm(b"P5", 6, 2, 15, 1),
        "comments.ppm": b"P6 # a comment\n# another\n2 # w\n2\n255\n" + bytes(range(12)),
        "spaces.pgm": b"P5\t3\r\n\x0b2 \x0c255 " + bytes(range(6)),
        "grey.pam": pam(5, 5, 1, 255, b"GRAYSCALE"),
        "grey-alpha.pam": pam(4, 6, 2, 255, b"GRAYSCALE_ALPHA"),
        "rgb.pam": pam(6, 3, 3, 255, b"RGB"),
        "rgba.pam": pam(8, 8, 4, 255, b"RGB_ALPHA"),
        "rgba16.pam": pam(3, 2, 4, 65535, b"RGB_ALPHA"),
        "bw.pam": pam(8, 2, 1, 1, b"BLACKANDWHITE"),
        "no-tupltype.pam": pam(3, 3, 3, 255, None),
        "one-pixel.ppm": netpbm(b"P6", 1, 1, 255, 3),
        "truncated.ppm": good[:-7],
        "header-only.ppm": b"P6\n7 5\n255\n",
        "unterminated.pgm": b"P5\n7 5\n255",
        "no-maxval.pgm": b"P5\n7 5\n",
        "maxval-0.pgm": b"P5\n1 1\n0\n\x00",
        "maxval-65536.pgm": b"P5\n1 1\n65536\n\x00\x00",
        "huge-100000.ppm": b"P6\n100000 100000\n255\n" + bytes(64),
        "huge-100000.pgm": b"P5\n100000 100000\n65535\n" + bytes(64),
        "huge-100000.pam": b"P7\nWIDTH 100000\nHEIGHT 100000\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" + bytes(64),
        "limits-8192x16384.ppm": b"P6\n8192 16384\n255\n" + bytes(64),
        "ten-digits.ppm": b"P6\n1000000000 1\n255\n" + bytes(64),
        "zero-size.ppm": b"P6\n0 0\n255\n",
        "depth-mismatch.pam": b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n\x00\x00\x00",
        "depth-5.pam": b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n" + bytes(5),
        "no-endhdr.pam": b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n",
        "ascii-p3.ppm": b"P3\n1 1\n255\n0 0 0\n",
    }


# ---- method programs ----

def method_seeds():
    # Any bytes are a valid program; lengths and byte mixes vary so that the
    # first runs already reach several calls, hooks and failures.
    seeds = {}
    for i in range(32):
        length = [16, 48, 96, 160, 256, 400][i % 6]
        if i % 4 == 0:
            data = bytes(rng.randint(0, 255) for _ in range(length))
        elif i % 4 == 1:
            data = bytes(rng.choice([0, 1, 2, 0x7F, 0x80, 0xFF]) for _ in range(length))
        elif i % 4 == 2:
            data = bytes(rng.randint(0, 15) for _ in range(length))
        else:
            data = bytes(rng.randint(0xF0, 0xFF) for _ in range(length))
        seeds["program-%02d" % i] = data
    return seeds


for name, data in png_seeds().items():
    write("fuzz_png", name, data)
for name, data in netpbm_seeds().items():
    write("fuzz_netpbm", name, data)
for name, data in method_seeds().items():
    write("fuzz_methods", name, data)
