#!/usr/bin/env python3
"""Makes the JPEG decoder fixtures that need dcmtk (12-bit and lossless streams).

Writes small DICOM files from synthetic pictures, compresses them with dcmcjpeg and
takes the JPEG codestream out of the encapsulated pixel data. The source pictures are
written beside the streams (PGM/PPM) as the expected pixels.
Run from this folder: python3 make_fixtures.py   (needs dcmcjpeg on PATH)
"""
import math
import os
import struct
import subprocess
import sys
import tempfile


def synthetic(w, h, channels, maxval, seed):
    px = []
    s = seed * 2654435761 + 1
    for y in range(h):
        for x in range(w):
            for c in range(channels):
                s = (s * 1103515245 + 12345) & 0xFFFFFFFF
                v = 0.5 + 0.35 * math.sin(x * (c + 1) * 0.09 + y * 0.07 * (3 - c)) + 0.1 * math.cos(x * y * 0.003 + c)
                if ((x // 9) + (y // 7)) % 5 == 0:
                    v = 1.0 - v
                v += (((s >> 16) & 63) - 32) / 1024.0
                v = min(1.0, max(0.0, v))
                px.append(int(round(v * maxval)))
    return px


def write_pnm(path, w, h, channels, maxval, px):
    with open(path, "wb") as f:
        f.write(b"P5\n" if channels == 1 else b"P6\n")
        f.write(b"%d %d\n%d\n" % (w, h, maxval))
        if maxval > 255:
            f.write(b"".join(struct.pack(">H", v) for v in px))
        else:
            f.write(bytes(px))


def element(group, elem, vr, value):
    if vr in ("UI",):
        if len(value) % 2:
            value += b"\0"
    elif vr in ("CS", "PN", "LO"):
        if len(value) % 2:
            value += b" "
    head = struct.pack("<HH", group, elem) + vr.encode()
    if vr in ("OB", "OW", "UN", "SQ", "UT"):
        return head + b"\0\0" + struct.pack("<I", len(value)) + value
    return head + struct.pack("<H", len(value)) + value


def us(v):
    return struct.pack("<H", v)


def write_dicom(path, w, h, channels, bits_stored, px):
    sop_class = b"1.2.840.10008.5.1.4.1.1.7"
    sop_inst = b"1.2.826.0.1.3680043.2.1125.1.%d" % (w * 1000 + h)
    meta = element(2, 1, "OB", b"\0\1")
    meta += element(2, 2, "UI", sop_class) + element(2, 3, "UI", sop_inst)
    meta += element(2, 0x10, "UI", b"1.2.840.10008.1.2.1")
    meta += element(2, 0x12, "UI", b"1.2.826.0.1.3680043.2.1125.99")
    meta = element(2, 0, "UL", struct.pack("<I", len(meta))) + meta
    alloc = 8 if bits_stored <= 8 else 16
    data = element(8, 0x16, "UI", sop_class) + element(8, 0x18, "UI", sop_inst)
    data += element(8, 0x60, "CS", b"OT")
    data += element(0x10, 0x10, "PN", b"Test") + element(0x10, 0x20, "LO", b"1")
    data += element(0x20, 0x0D, "UI", b"1.2.3.4") + element(0x20, 0x0E, "UI", b"1.2.3.5")
    data += element(0x28, 2, "US", us(channels))
    data += element(0x28, 4, "CS", b"MONOCHROME2" if channels == 1 else b"RGB")
    if channels > 1:
        data += element(0x28, 6, "US", us(0))
    data += element(0x28, 0x10, "US", us(h)) + element(0x28, 0x11, "US", us(w))
    data += element(0x28, 0x100, "US", us(alloc)) + element(0x28, 0x101, "US", us(bits_stored))
    data += element(0x28, 0x102, "US", us(bits_stored - 1)) + element(0x28, 0x103, "US", us(0))
    raw = bytes(px) if alloc == 8 else b"".join(struct.pack("<H", v) for v in px)
    if len(raw) % 2:
        raw += b"\0"
    data += element(0x7FE0, 0x10, "OW" if alloc == 16 else "OB", raw)
    with open(path, "wb") as f:
        f.write(b"\0" * 128 + b"DICM" + meta + data)


def extract_codestream(path):
    d = open(path, "rb").read()
    i = d.rfind(b"\xe0\x7f\x10\x00")
    if i < 0:
        raise SystemExit("no pixel data in " + path)
    p = i + 12  # tag, VR, reserved, undefined length
    frags = []
    while p + 8 <= len(d):
        g, e, n = struct.unpack("<HHI", d[p:p + 8])
        p += 8
        if (g, e) == (0xFFFE, 0xE0DD):
            break
        frags.append(d[p:p + n])
        p += n
    stream = b"".join(frags[1:])  # the first item is the offset table
    start, end = stream.find(b"\xff\xd8"), stream.rfind(b"\xff\xd9")
    return stream[start:end + 2]


def pixel_data(path, count, alloc):
    """The native pixel data of a decompressed DICOM file."""
    d = open(path, "rb").read()
    i = d.rfind(b"\xe0\x7f\x10\x00")
    n = struct.unpack("<I", d[i + 8:i + 12])[0]
    raw = d[i + 12:i + 12 + n]
    if alloc == 8:
        return list(raw[:count])
    return list(struct.unpack("<%dH" % count, raw[:2 * count]))


def make(name, w, h, channels, bits, options, seed, lossy=False):
    """Lossless: the expected pixels are the source. Lossy: dcmdjpeg's decoding of the stream."""
    maxval = (1 << bits) - 1
    px = synthetic(w, h, channels, maxval, seed)
    with tempfile.TemporaryDirectory() as tmp:
        dcm, out, back = (os.path.join(tmp, n) for n in ("in.dcm", "out.dcm", "back.dcm"))
        write_dicom(dcm, w, h, channels, bits, px)
        subprocess.check_call(["dcmcjpeg"] + options + [dcm, out])
        with open(name + ".jpg", "wb") as f:
            f.write(extract_codestream(out))
        if lossy:
            subprocess.check_call(["dcmdjpeg", out, back])
            px = pixel_data(back, w * h * channels, 8 if bits <= 8 else 16)
    write_pnm(name + (".pgm" if channels == 1 else ".ppm"), w, h, channels, maxval, px)
    print(name, " ".join(["dcmcjpeg"] + options), "; dcmdjpeg" if lossy else "")


def peer(name, encoder, seed):
    """A stream from cjpeg or convert, and djpeg's decoding of it as the expected pixels."""
    w, h = 41, 27
    write_pnm("peer_src.ppm", w, h, 3, 255, synthetic(w, h, 3, 255, seed))
    subprocess.check_call([a.replace("IN", "peer_src.ppm").replace("OUT", name + ".jpg") for a in encoder])
    with open(name + ".ppm", "wb") as f:
        f.write(subprocess.check_output(["djpeg", "-dct", "int", "-pnm", name + ".jpg"]))
    os.remove("peer_src.ppm")
    print(name, " ".join(encoder), "; djpeg -dct int -pnm")


def main():
    os.chdir(os.path.dirname(os.path.abspath(__file__)))
    peer("base420", ["cjpeg", "-quality", "80", "-outfile", "OUT", "IN"], 21)
    peer("base444rst", ["cjpeg", "-quality", "90", "-sample", "1x1", "-restart", "2B", "-outfile", "OUT", "IN"], 22)
    peer("prog422", ["cjpeg", "-progressive", "-sample", "2x1", "-outfile", "OUT", "IN"], 23)
    peer("grey", ["cjpeg", "-grayscale", "-outfile", "OUT", "IN"], 24)
    peer("ycck", ["convert", "IN", "-colorspace", "CMYK", "-quality", "85", "OUT"], 25)
    make("ext12", 45, 38, 1, 12, ["+ee", "+q", "95"], 1, lossy=True)
    make("prog12", 45, 38, 1, 12, ["+ep", "+q", "95"], 2, lossy=True)
    make("ll16sv1", 37, 29, 1, 16, ["+e1"], 3)
    for sv in range(2, 8):
        make("ll12sv%d" % sv, 37, 29, 1, 12, ["+el", "+sv", str(sv)], 3 + sv)
    make("ll16pt3", 37, 29, 1, 16, ["+el", "+sv", "4", "+pt", "3"], 11)
    make("ll8rgb", 33, 21, 3, 8, ["+el", "+sv", "7"], 12)
    make("ll10", 30, 20, 1, 10, ["+el", "+sv", "5"], 13)


if __name__ == "__main__":
    sys.exit(main())
