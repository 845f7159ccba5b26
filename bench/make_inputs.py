#!/usr/bin/env python3
"""Payloads for the "make" benchmarks, generated at run time (never committed).

  make_inputs.py mixed DIR MIB     text, executable bytes from /usr/lib and random data, in
                                   files of 4 KB to 3 MB spread over 40 folders
  make_inputs.py single FILE MIB   one file of that many MiB, the same mix in 1 MiB stretches
  make_inputs.py small DIR COUNT   COUNT files of 0 to 8 KB of text (every 500th empty)
"""
import os
import random
import sys

rnd = random.Random(1)
WORDS = ["".join(rnd.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 10))) for _ in range(5000)]


def text(n):
    return " ".join(rnd.choice(WORDS) for _ in range(n // 6 + 1)).encode()[:n]


def lib_blob():
    blobs, total = [], 0
    for d in ("/usr/lib/x86_64-linux-gnu", "/usr/bin"):
        try:
            names = sorted(os.listdir(d))
        except OSError:
            continue
        for n in names:
            p = os.path.join(d, n)
            if os.path.isfile(p) and not os.path.islink(p) and os.path.getsize(p) > 65536:
                blobs.append(open(p, "rb").read())
                total += len(blobs[-1])
                if total > 64 << 20:
                    return b"".join(blobs)[:64 << 20]
    return b"".join(blobs)[:64 << 20] or os.urandom(1 << 20)


def piece(kind, size, libs):
    if kind < 4:
        return text(size)
    if kind < 8:
        at = rnd.randrange(0, max(1, len(libs) - size))
        return libs[at:at + size]
    return os.urandom(size)


def mixed(root, mib):
    libs = lib_blob()
    total, i = 0, 0
    while total < mib << 20:
        d = os.path.join(root, "d%02d" % (i % 40), "sub%d" % (i % 7))
        os.makedirs(d, exist_ok=True)
        size = rnd.choice((4096, 30000, 200000, 1 << 20, 3 << 20))
        data = piece(i % 10, size, libs) or b"x"
        open(os.path.join(d, "f%05d" % i), "wb").write(data)
        total += len(data)
        i += 1


def single(path, mib):
    libs = lib_blob()
    # 64 MiB of the mix, written again and again: deflate's 32 KiB window sees no repeat.
    block = b"".join(piece(i % 10, 1 << 20, libs).ljust(1 << 20, b"\0") for i in range(64))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        for i in range(mib // 64):
            f.write(block)
        f.write(block[:(mib % 64) << 20])


def small(root, count):
    for i in range(count):
        d = os.path.join(root, "p%03d" % (i % 200))
        os.makedirs(d, exist_ok=True)
        size = 0 if i % 500 == 0 else rnd.randint(1, 8192)
        open(os.path.join(d, "m%05d.py" % i), "wb").write(text(size))


if __name__ == "__main__":
    kind, where, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
    {"mixed": mixed, "single": single, "small": small}[kind](where, n)
