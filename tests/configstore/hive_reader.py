#!/usr/bin/env python3
"""Independent reader of configuration hive files ("QMXC"), for cross-checking the store.

Prints one line per value, sorted: "<kind hex>\t<path>\t<data hex>", and one line per
section: "01\t<path>\t". Exit code 0 for a valid hive, 2 for a damaged one, 3 for a
later version.
"""
import struct
import sys
import zlib


def read_hive(data):
    if len(data) < 24 or data[:4] != b"QMXC":
        raise ValueError("not a hive")
    version, header_size, records, body_len, body_crc, header_crc = struct.unpack_from("<HHIIII", data, 4)
    if zlib.crc32(data[:20]) & 0xFFFFFFFF != header_crc:
        raise ValueError("header checksum")
    if version > 1:
        return None
    if version != 1 or header_size != 24 or body_len != len(data) - 24:
        raise ValueError("header")
    body = data[24:]
    if zlib.crc32(body) & 0xFFFFFFFF != body_crc:
        raise ValueError("body checksum")
    widths = {0x11: 1, 0x12: 2, 0x14: 4, 0x18: 8, 0x20: None, 0x30: None}
    pos = 0
    out = []
    seen = set()
    for _ in range(records):
        kind, plen = struct.unpack_from("<BH", body, pos)
        pos += 3
        path = body[pos:pos + plen]
        if plen == 0 or len(path) != plen:
            raise ValueError("path")
        pos += plen
        parts = path.split(b"/")
        if any(not p for p in parts) or b"\0" in path:
            raise ValueError("path components")
        if kind == 0x01:
            out.append(("01", path, b""))
            continue
        if kind not in widths:
            raise ValueError("kind")
        (dlen,) = struct.unpack_from("<I", body, pos)
        pos += 4
        value = body[pos:pos + dlen]
        if len(value) != dlen or (widths[kind] is not None and dlen != widths[kind]):
            raise ValueError("value length")
        pos += dlen
        if path in seen:
            raise ValueError("duplicate")
        seen.add(path)
        out.append(("%02x" % kind, path, value))
    if pos != len(body):
        raise ValueError("trailing bytes")
    return out


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    try:
        records = read_hive(data)
    except (ValueError, struct.error) as e:
        print("damaged: %s" % e)
        return 2
    if records is None:
        print("newer")
        return 3
    lines = [k.encode() + b"\t" + p + b"\t" + v.hex().encode() for k, p, v in records]
    for line in sorted(lines):
        sys.stdout.buffer.write(line + b"\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
