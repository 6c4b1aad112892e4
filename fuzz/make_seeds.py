#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora into fuzz/corpus/<target>/: small valid images of every
format, headers at the readers' limits, colour specifications of every form and comment files.
Run from anywhere; the corpora are committed, so this only needs running after a change here."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def pnm(magic, cols, rows, maxval, samples, sep=b"\n"):
    kind = magic[1]
    head = magic.encode() + sep + b"%d %d" % (cols, rows) + sep
    if kind not in "14":
        head += b"%d" % maxval + sep
    if kind == "4":
        out = bytearray()
        i = 0
        for _ in range(rows):
            byte = 0
            for x in range(cols):
                if samples[i]:
                    byte |= 0x80 >> (x % 8)
                i += 1
                if x % 8 == 7 or x == cols - 1:
                    out.append(byte)
                    byte = 0
        return head + bytes(out)
    if kind in "56":
        out = bytearray()
        for v in samples:
            if maxval > 255:
                out.append(v >> 8)
            out.append(v & 0xFF)
        return head + bytes(out)
    return head + b" ".join(b"%d" % v for v in samples) + b"\n"


def images():
    rgb = [255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 200, 100, 50, 0, 0, 0]
    yield "p1", pnm("P1", 3, 2, 1, [1, 0, 1, 0, 1, 0])
    yield "p1-packed", b"P1\n4 1\n0110\n"
    yield "p2", pnm("P2", 3, 2, 255, [0, 17, 34, 51, 68, 255])
    yield "p2-16bit", pnm("P2", 2, 2, 65535, [0, 257, 65535, 4660])
    yield "p3", pnm("P3", 3, 2, 255, rgb)
    yield "p3-comment-between-samples", b"P3\n1 1\n255\n1 2 # c\n3\n"
    yield "p4-10cols", pnm("P4", 10, 2, 1, [1, 0] * 10)
    yield "p5", pnm("P5", 4, 2, 255, [0, 1, 2, 3, 250, 251, 252, 253])
    yield "p5-16bit", pnm("P5", 2, 2, 65535, [0x0101, 0x0202, 0xFFFF, 0x1234])
    yield "p5-maxval100", pnm("P5", 3, 1, 100, [0, 50, 100])
    yield "p6", pnm("P6", 3, 2, 255, rgb)
    yield "p6-16bit", pnm("P6", 2, 1, 65535, [1, 2, 3, 65535, 65534, 0])
    yield "p6-gray", pnm("P6", 2, 1, 255, [7, 7, 7, 9, 9, 9])
    yield "p6-crlf", b"P6\n1 1\n255\r\n\x01\x02"
    yield "p5-comment-after-maxval", b"P5\n1 1\n255#x\n\x07"
    yield "p5-header-comments", b"P5\n#a\n1 #b\n1\n255\n\x07"
    yield "maxval-65535-one-byte", b"P5\n1 1\n65535\n\x01"
    yield "maxval-65536", b"P5\n1 1\n65536\n\x00\x00"
    yield "maxval-0", b"P2\n1 1\n0\n0\n"
    yield "cols-0", b"P5\n0 3\n255\n"
    yield "rows-0", b"P6\n3 0\n255\n"
    yield "largest-number", b"P5\n2147483640 1\n255\nab"
    yield "too-large-number", b"P5\n2147483641 1\n255\n"
    yield "huge-rows", b"P5\n1 2147483640\n255\n\x01"
    yield "sample-above-maxval", b"P2\n1 1\n10\n11\n"
    yield "bad-magic", b"P7\n1 1\n255\n\x00"


def comment_files():
    yield "entries", b"Title A picture\nAuthor someone\n continued\n\tand again\n\nComment x\n"
    yield "quoted", b'"Creation Time" today\n"unclosed key\n'
    yield "nul-after-key", b"Key\x00\x00text\n"
    yield "crlf", b"Title one\r\nSoftware two\r\n"
    yield "continuation-first", b" first line indented\n"
    yield "keyword-only", b"Lonely\n"


def color_specs():
    for spec in ["white", "Light Slate Gray", "rgb:8/80/800", "rgb:ffff/0/0", "rgb:1/2",
                 "#123", "#fff", "#123456789abc", "#12345", "rgbi:0.5/0.5/0.5", "rgbi:1.5/0/0",
                 "1,0,0", ".5,.5,.5", "255,0,0", "-1", "nan,0,0", "no such colour", "RGB:ff/00/00"]:
        yield spec


def convert_seed(flags, more, colors, level, image, mask=b"", comments=b"", palette=b""):
    out = bytes([flags, more, colors, level])
    for part in (mask, comments, palette):
        out += struct.pack(">H", len(part)) + part
    return out + image


def convert_seeds():
    none = 5 << 2  # no -filter
    dflt = 15  # no -compression
    for name, image in images():
        yield "plain-" + name, convert_seed(0, none, 0, dflt, image)
    rgb = pnm("P6", 2, 2, 255, [1, 2, 3, 4, 5, 6, 1, 2, 3, 9, 9, 9])
    mask = pnm("P5", 2, 2, 255, [0, 255, 255, 255])
    partial = pnm("P2", 2, 2, 3, [0, 1, 2, 3])
    yield "alpha-to-transparent", convert_seed(8, none, 0, dflt, rgb, mask=mask)
    yield "alpha-channel-forced", convert_seed(8 | 2, none, 0, dflt, rgb, mask=partial)
    yield "alpha-palette", convert_seed(8 | 4, none, 0, dflt, rgb, mask=partial)
    yield "alpha-bitmap-mask", convert_seed(8, none, 0, dflt, rgb, mask=pnm("P4", 2, 2, 1, [1, 0, 0, 1]))
    yield "transparent-background", convert_seed(16 | 32, none, 0x02, dflt, rgb)
    yield "transparent-exact-absent", convert_seed(16, none, 0x03, dflt, rgb)
    yield "background-rgb16", convert_seed(32, none, 0x10, dflt, pnm("P6", 1, 1, 65535, [1, 2, 3]))
    yield "text", convert_seed(64, none, 0, dflt, rgb, comments=b"Title x\nAuthor y\n z\n")
    yield "ztxt", convert_seed(128, none, 0, dflt, rgb, comments=b"comment compressed\nTitle not\n")
    yield "palette-file", convert_seed(0, none | 1, 0, dflt, rgb,
                                       palette=pnm("P6", 3, 1, 255, [9, 9, 9, 4, 5, 6, 1, 2, 3]))
    yield "interlace-hist-verbose", convert_seed(1 | 4, none | 2, 0, 9, rgb)
    yield "chunks", convert_seed(0, (3 << 2) | 32 | 64 | 128, 0, 0, pnm("P5", 2, 1, 100, [1, 99]))
    yield "force-16bit-gray", convert_seed(2, 0, 0, 1, pnm("P2", 2, 1, 65535, [0, 65535]))
    # Findings kept as regressions: a zero-width image of 2^31 rows (minutes of empty rows), masks
    # and palettes promising billions of rows (a 16 GB row index), and read errors in the colour
    # census and the comment file after earlier passes succeeded (memory left behind by the
    # thrown error; the replay runs with leak detection).
    yield "zero-width-many-rows", convert_seed(0, none, 0, dflt, b"P5\n0 2147483640\n255\n")
    yield "mask-zero-width-many-rows", convert_seed(8, none, 0, dflt, b"P5\n1 1\n255\n\x01",
                                                    mask=b"P5\n0 2147483640\n255\n")
    yield "mask-many-rows", convert_seed(8, none, 0, dflt, b"P5\n1 2147483640\n255\n\x01",
                                         mask=b"P5\n1 2147483640\n255\n\x01")
    yield "palette-zero-width-many-rows", convert_seed(0, none | 1, 0, dflt, rgb,
                                                       palette=b"P6\n0 2147483640\n255\n")
    yield "wide-row-short-file", convert_seed(0, none, 0, dflt, b"P6\n2147483640 1\n255\nab")
    yield "census-read-error", convert_seed(0, none, 0, dflt, b"P6\n2 2\n255\n\x01\x02\x03")
    yield "alpha-palette-read-error", convert_seed(8 | 4, none, 0, dflt,
                                                   b"P6\n2 2\n255\n\x01\x02\x03\x01\x02\x03",
                                                   mask=partial)
    yield "comment-error-after-entries", convert_seed(64, none, 0, dflt, rgb,
                                                      comments=b"Title x\n\"open key\n")


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    for name, image in images():
        write("reader", name, image)
    for i, spec in enumerate(color_specs()):
        for maxval_byte in (4, 7):  # maxvals 255 and 65535
            write("parsecolor", "spec%02d-%d" % (i, maxval_byte), bytes([maxval_byte]) + spec.encode())
    write("parsecolor", "maxval1-white", b"\x00white")
    for name, data in comment_files():
        write("commentfile", "text-" + name, b"\x00" + data)
        write("commentfile", "ztxt-" + name, b"\x01" + data)
    for name, data in convert_seeds():
        write("convert", name, data)


if __name__ == "__main__":
    main()
