#!/usr/bin/env python3
"""Independent reader and writer of the scenario data file and its payload.

  sopkg_oracle.py dump FILE        canonical dump of a valid file (exit 1 when refused)
  sopkg_oracle.py gen DIR          writes accept_*.data and refuse_*.data variants
"""
import hashlib
import struct
import sys
import zlib

MAGIC = b"QMXSOPKG"
# Most records of each kind a package may carry.
MAX_ITEMS = MAX_FILES = 1000000
EMPTY_ITEM = 0x7FFFFFFF
MAX_STRINGS = 65536  # per table
MAX_ENTRIES = 4096   # menu entries, programs to run, parameters, replaced packages


class Bad(Exception):
    pass


class Cur:
    def __init__(self, b):
        self.b, self.i = b, 0

    def take(self, n):
        if self.i + n > len(self.b):
            raise Bad("truncated")
        r = self.b[self.i:self.i + n]
        self.i += n
        return r

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def s(self):
        # Texts carry no NUL: a reader in C would cut them there.
        t = self.take(self.u16())
        if b"\x00" in t:
            raise Bad("nul")
        return t

    def table(self, t):
        while True:
            m = self.u8()
            if m == 0:
                return
            if m != 1:
                raise Bad("marker")
            k = self.take(self.u16() or bad("empty key"))
            if b"\x00" in k:
                raise Bad("nul key")
            if k in t:
                raise Bad("dup key")
            if len(t) >= MAX_STRINGS:
                raise Bad("too many strings")
            t[k] = self.s()

    def records(self):
        while True:
            m = self.u8()
            if m == 0:
                return
            if m != 1:
                raise Bad("marker")
            yield


def bad(msg):
    raise Bad(msg)


def doc_ok(b):
    if len(b) < 13 or b[:8] != b"QMXHDOCF":
        return False
    i, seen = 8, set()
    while i < len(b) and b[i] != 0xFF:
        if len(b) - i < 5:
            return False
        lang, sz = b[i], struct.unpack("<I", b[i + 1:i + 5])[0]
        i += 5
        if lang > 10 or lang in seen or sz == 0 or sz > len(b) - i:
            return False
        seen.add(lang)
        i += sz
    return i < len(b)


def safe_rel(p):
    if p == b"":
        return True
    if any(c < 0x20 or c == 0x7F for c in p):
        return False
    return all(seg not in (b"", b"..") for seg in p.split(b"/"))


def safe_code(c):
    return 1 <= len(c) <= 128 and all(chr(x).isascii() and (chr(x).isalnum() or chr(x) in "._-") for x in c)


def read_payload(c):
    items = []
    unpacked = c.u32()
    while True:
        n = c.u32()
        if n == 0:
            break
        dg = c.take(32)
        data = c.take(n)
        # A zlib item is judged by its length and digest: a writer may end it with a flush.
        try:
            plain = zlib.decompressobj().decompress(data, unpacked) if unpacked else data
        except zlib.error:
            raise Bad("item stream")
        if len(plain) != (unpacked or n) or hashlib.sha256(plain).digest() != dg:
            raise Bad("item")
        items.append((unpacked, n, dg))
        if len(items) > MAX_ITEMS:
            raise Bad("too many items")
        unpacked = c.u32()
    if unpacked:
        raise Bad("payload end")
    return items


def parse(blob):
    # Format 2 adds file records for empty files (item EMPTY_ITEM).
    if len(blob) < 49 or blob[:8] != MAGIC or blob[8] > 2:
        raise Bad("header")
    U, P = struct.unpack("<II", blob[9:17])
    if U == 0 or P == 0 or P > len(blob) - 49 or U > P * 1032:
        raise Bad("lengths")
    try:
        d = zlib.decompressobj()
        body = d.decompress(blob[49:49 + P], U + 1)
        if not d.eof or len(body) != U:
            raise Bad("inflate")
    except zlib.error:
        raise Bad("inflate")
    if hashlib.sha256(body).digest() != blob[17:49]:
        raise Bad("digest")
    m = dict(version=(0, 0, 0, 0), urls=[b""] * 4, strings={}, langs={}, icon=(b"", b""), menu=[], files=[],
             run=[], params=[], deps=[], docs={}, accept=0, items=[])
    c = Cur(body)
    while True:
        tag = c.u8()
        if tag == 0:
            break
        if tag == 1:
            m["version"] = struct.unpack("<4i", c.take(16))
            m["urls"] = [c.s() for _ in range(4)]
        elif tag == 2:
            m["icon"] = (c.s(), c.s())
        elif tag == 3:
            for _ in c.records():
                m["menu"].append(tuple(c.s() for _ in range(7)) + (c.u8(),))
        elif tag == 4:
            for _ in c.records():
                item, word = c.u32(), c.u32()
                dig = [word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF]
                if max(dig) > 8:
                    raise Bad("digit")
                base, path = c.s(), c.s()
                langs = []
                while True:
                    l = c.u8()
                    if l == 0xFF:
                        break
                    if l > 11 or l in langs:
                        raise Bad("lang")
                    langs.append(l)
                m["files"].append((item, dig[2], dig[1], dig[0], (word >> 24) & 1, (word >> 25) & 1, base, path,
                                   tuple(langs)))
        elif tag == 5:
            for _ in c.records():
                m["run"].append((c.u8() & 1, c.s(), c.s(), c.s(), c.s()))
        elif tag == 6:
            c.table(m["strings"])
        elif tag == 7:
            while True:
                l = c.u8()
                if l == 0xFF:
                    break
                if l > 11 or l in m["langs"]:
                    raise Bad("lang table")
                m["langs"][l] = {}
                c.table(m["langs"][l])
        elif tag == 8:
            for _ in c.records():
                name = c.s() or bad("empty name")
                m["params"].append((name, c.take(c.u16())))
        elif tag in (9, 10, 11):
            if tag == 10:
                m["accept"] = c.u8() & 1
            n = c.u32()
            if n == 0:
                raise Bad("empty doc")
            b = c.take(n)
            if not doc_ok(b):
                raise Bad("doc")
            m["docs"][tag] = b
        elif tag == 12:
            for _ in c.records():
                m["deps"].append((c.s(), c.u16()))
        elif tag == 13:
            if "payload" in m:
                raise Bad("second payload")
            m["payload"] = True
            m["items"] = read_payload(c)
        else:
            raise Bad("tag")
        if len(m["files"]) > MAX_FILES or max(len(m[k]) for k in ("menu", "run", "params", "deps")) > MAX_ENTRIES:
            raise Bad("too many records")

    def valid(i):
        return i in m["strings"] or i == b"pgm" or not m["langs"] or all(i in t for t in m["langs"].values())

    def pathdef(base, path):
        return safe_rel(path) and (base == b"" or valid(base))

    def text_in(t, i):
        return t.get(i, m["strings"].get(i, b""))

    def absolute(text):
        return (text.startswith(b"/") and not any(c < 0x20 or c == 0x7F for c in text) and
                all(seg not in (b".", b"..") for seg in text.split(b"/")))

    def rooted(base):
        # A target's base is "pgm" or a text that is an absolute path in every language.
        if base == b"pgm":
            return True
        if base == b"":
            return False
        if not m["langs"]:
            return absolute(m["strings"].get(base, b""))
        return all(absolute(text_in(t, base)) for t in m["langs"].values())

    ok = pathdef(*m["icon"])
    for e in m["menu"]:
        ok = ok and e[0] != b"" and valid(e[0]) and pathdef(e[1], e[2]) and pathdef(e[4], e[5]) and rooted(e[1])
    for f in m["files"]:
        ok = ok and (f[0] < len(m["items"]) or (blob[8] >= 2 and f[0] == EMPTY_ITEM)) and pathdef(f[6], f[7]) and rooted(f[6])
    for r in m["run"]:
        ok = ok and r[1] != b"" and valid(r[1]) and pathdef(r[2], r[3]) and rooted(r[2])
    # Version parts are 16-bit fields; "pgm" is the install folder, the installer's alone to set.
    ok = ok and all(0 <= v <= 65535 for v in m["version"])
    ok = ok and all(b"pgm" not in t for t in [m["strings"]] + list(m["langs"].values()))
    codes = [t[b"codename"] for t in [m["strings"]] + list(m["langs"].values()) if b"codename" in t]
    ok = ok and all(safe_code(x) for x in codes + [d[0] for d in m["deps"]])
    if not ok:
        raise Bad("validation")
    return m


def dump(m):
    h = lambda b: b.hex() or "-"
    out = ["version %d %d %d %d" % tuple(m["version"])]
    out += ["url " + h(u) for u in m["urls"]]
    out += ["str %s %s" % (h(k), h(v)) for k, v in sorted(m["strings"].items())]
    for l in sorted(m["langs"]):
        out += ["lstr %d %s %s" % (l, h(k), h(v)) for k, v in sorted(m["langs"][l].items())]
    out.append("icon %s %s" % (h(m["icon"][0]), h(m["icon"][1])))
    out += ["menu " + " ".join(h(x) for x in e[:7]) + " %d" % e[7] for e in m["menu"]]
    out += ["file %d %d%d%d %d %d %s %s %s" % (f[:6] + (h(f[6]), h(f[7]), ",".join(map(str, f[8])) or "*"))
            for f in m["files"]]
    out += ["run %d %s %s %s %s" % ((r[0],) + tuple(h(x) for x in r[1:])) for r in m["run"]]
    out += ["param %s %s" % (h(n), h(d)) for n, d in m["params"]]
    out += ["dep %s %d" % (h(c), v) for c, v in m["deps"]]
    out += ["doc %d %s" % (t, hashlib.sha256(b).hexdigest()) for t, b in sorted(m["docs"].items())]
    out.append("accept %d" % m["accept"])
    out += ["item %d %d %s" % (u, n, d.hex()) for u, n, d in m["items"]]
    return "\n".join(out) + "\n"


# --- writer ---

def s(b):
    return struct.pack("<H", len(b)) + b


def table(t):
    return b"".join(b"\x01" + s(k) + s(v) for k, v in sorted(t.items())) + b"\x00"


def mini_doc(langs):
    rec = b"".join(bytes([l]) + struct.pack("<I", len(z)) + z for l in langs for z in [zlib.compress(b"\xff")])
    return b"QMXHDOCF" + rec + b"\xff" + b"\x00" * 12


def item(data):
    return struct.pack("<II", 0, len(data)) + hashlib.sha256(data).digest() + data


def flushed_item(data):
    """A zlib item deflated in 4096-byte pieces, each with a partial flush and no finish."""
    z = zlib.compressobj(9)
    packed = b"".join(z.compress(data[i:i + 4096]) + z.flush(zlib.Z_PARTIAL_FLUSH) for i in range(0, len(data), 4096))
    return struct.pack("<II", len(data), len(packed)) + hashlib.sha256(data).digest() + packed


def body(**o):
    b = b"\x01" + struct.pack("<4i", *o.get("version", (1, 2, 3, 4))) + b"".join(
        s(u) for u in o.get("urls", [b"https://s", b"https://p", b"", b""]))
    b += b"\x06" + table(o.get("strings", {b"codename": b"demo-pkg", b"name": b"Demo", b"dir": b"/opt/demo"}))
    b += b"\x07" + o.get("langs", b"\x00" + table({b"title": b"Hello"}) + b"\xff")
    b += o.get("icon", b"\x02" + s(b"pgm") + s(b"icon.png"))
    b += o.get("menu", b"\x03\x01" + s(b"name") + s(b"pgm") + s(b"bin/demo") + s(b"") + s(b"pgm") +
               s(b"icon.png") + s(b"title") + b"\x03\x00")
    fr = o.get("filerec", b"\x01" + struct.pack("<II", 0, 0x03070505) + s(b"pgm") + s(b"bin/demo") + b"\x00\xff")
    b += b"\x04" + fr + b"\x00"
    b += o.get("run", b"\x05\x01\x01" + s(b"name") + s(b"pgm") + s(b"bin/demo") + s(b"") + b"\x00")
    b += o.get("params", b"\x08\x01" + s(b"p1") + s(b"\x45\x23") + b"\x01" + s(b"empty") + s(b"") + b"\x00")
    b += o.get("deps", b"\x0c\x01" + s(b"old-pkg") + struct.pack("<H", 65535) + b"\x00")
    d = o.get("doc", mini_doc([0]))
    b += b"\x0b" + struct.pack("<I", len(d)) + d
    b += b"\x0d" + o.get("payload", item(b"#!/bin/sh\necho demo\n") + item(b"\x89PNG....") + b"\x00" * 8)
    b += o.get("end", b"\x00")
    return b


def wrap(b, fmt=1, U=None, P=None, digest=None, packed=None):
    z = packed if packed is not None else zlib.compress(b, 9)
    return (MAGIC + bytes([fmt]) + struct.pack("<II", len(b) if U is None else U, len(z) if P is None else P) +
            (digest or hashlib.sha256(b).digest()) + z)


def entries(n):
    """Menu entries, programs to run, parameters and replaced packages, n of each."""
    menu = b"\x01" + s(b"name") + s(b"pgm") + s(b"bin/demo") + s(b"") + s(b"pgm") + s(b"icon.png") + s(b"title") + b"\x03"
    run = b"\x01\x01" + s(b"name") + s(b"pgm") + s(b"bin/demo") + s(b"")
    param = b"\x01" + s(b"p1") + s(b"\x45\x23")
    dep = b"\x01" + s(b"old-pkg") + struct.pack("<H", 7)
    return [b"\x03" + menu * n[0] + b"\x00", b"\x05" + run * n[1] + b"\x00", b"\x08" + param * n[2] + b"\x00",
            b"\x0c" + dep * n[3] + b"\x00"]


def with_entries(n):
    e = entries(n)
    return wrap(body(menu=e[0], run=e[1], params=e[2], deps=e[3]))


def base_and_text_variants():
    """Targets without a base, and NUL bytes inside texts."""
    frec = lambda base: b"\x01" + struct.pack("<II", 0, 0x03080808) + s(base) + s(b"bin/x") + b"\xff"
    menu = lambda base, icon: (b"\x03\x01" + s(b"name") + s(base) + s(b"bin/x") + s(b"") + s(icon) + s(b"i.png") +
                               s(b"") + b"\x00\x00")
    run = lambda base: b"\x05\x01\x01" + s(b"name") + s(base) + s(b"bin/x") + s(b"") + b"\x00"
    langs = (b"\x00" + table({b"title": b"Hello", b"docs": b"/opt/docs", b"rel": b"/opt", b"abs": b"/opt"}) +
             b"\x03" + table({b"title": b"Hi", b"docs": b"", b"rel": b"opt", b"abs": b"/opt/jp/"}) + b"\xff")
    rel = {b"codename": b"demo-pkg", b"name": b"Demo", b"rel": b"opt/demo", b"up": b"/opt/../etc"}
    return {"refuse_filenobase": wrap(body(filerec=frec(b""))),
            "refuse_menunobase": wrap(body(menu=menu(b"", b"pgm"))),
            "refuse_runnobase": wrap(body(run=run(b""))),
            "accept_menuiconnobase": wrap(body(menu=menu(b"pgm", b""))),
            "accept_dirbase": wrap(body(filerec=frec(b"dir"))),
            "refuse_emptybasetext": wrap(body(strings={b"codename": b"demo-pkg", b"name": b"Demo", b"e": b""},
                                              filerec=frec(b"e"))),
            # An empty text is defined: a language whose base is empty is refused.
            "accept_emptylangtext": wrap(body(langs=langs, icon=b"")),
            "refuse_emptylangbase": wrap(body(langs=langs, icon=b"", filerec=frec(b"docs"))),
            # A base that is not an absolute path in every language, for every kind of target.
            "refuse_filerelbase": wrap(body(strings=rel, filerec=frec(b"rel"))),
            "refuse_menurelbase": wrap(body(strings=rel, menu=menu(b"rel", b"pgm"))),
            "refuse_runrelbase": wrap(body(strings=rel, run=run(b"rel"))),
            "refuse_rundotdotbase": wrap(body(strings=rel, run=run(b"up"))),
            "refuse_menulangrelbase": wrap(body(langs=langs, icon=b"", menu=menu(b"rel", b"pgm"))),
            "accept_langabsbase": wrap(body(langs=langs, icon=b"", menu=menu(b"abs", b"pgm"))),
            "refuse_nulpath": wrap(body(filerec=b"\x01" + struct.pack("<II", 0, 0x03080808) + s(b"pgm") +
                                        s(b"a\x00/../../x") + b"\xff")),
            "refuse_nulvalue": wrap(body(strings={b"codename": b"demo-pkg", b"name": b"De\x00mo", b"dir": b"/opt"})),
            "refuse_nulkey": wrap(body(strings={b"codename": b"demo-pkg", b"na\x00me": b"Demo"})),
            "refuse_nulurl": wrap(body(urls=[b"https://s\x00evil", b"", b"", b""])),
            "refuse_nulparam": wrap(body(params=b"\x08\x01" + s(b"p\x001") + s(b"x") + b"\x00")),
            "accept_nulparamdata": wrap(body(params=b"\x08\x01" + s(b"p1") + s(b"\x00\x01\x00") + b"\x00")),
            }


def variants():
    good = body()
    top = MAX_ENTRIES
    v = {"accept_base": wrap(good), "accept_format0": wrap(good, fmt=0),
         "accept_noicon": wrap(body(icon=b"")),
         "accept_lang10": wrap(body(filerec=b"\x01" + struct.pack("<II", 0, 0x03080808) + s(b"pgm") + s(b"x") +
                                     b"\x0a\xff")),
         "accept_emptyparam": wrap(body(params=b"\x08\x01" + s(b"t") + s(b"") + b"\x00")),
         "accept_trailing": wrap(good) + b"junk",
         "refuse_magic": b"QMXSOPKH" + wrap(good)[8:],
         "refuse_format3": wrap(good, fmt=3),
         "accept_format2": wrap(good, fmt=2),
         "accept_emptyfile": wrap(body(filerec=b"\x01" + struct.pack("<II", EMPTY_ITEM, 0x03060606) + s(b"pgm") +
                                       s(b"empty/__init__.py") + b"\xff"), fmt=2),
         "refuse_emptyfile1": wrap(body(filerec=b"\x01" + struct.pack("<II", EMPTY_ITEM, 0x03060606) + s(b"pgm") +
                                        s(b"empty/__init__.py") + b"\xff")),
         "accept_flushitem": wrap(body(payload=flushed_item(bytes(range(256)) * 32) + item(b"x") + b"\x00" * 8)),
         "refuse_u0": wrap(good, U=0), "refuse_p0": wrap(good, P=0),
         "refuse_pbig": wrap(good, P=len(zlib.compress(good, 9)) + 1),
         "refuse_ushort": wrap(good, U=len(good) - 1), "refuse_ulong": wrap(good, U=len(good) + 1),
         "refuse_huge": MAGIC + b"\x01" + struct.pack("<II", 0xFFFFFFFF, 0xFFFFFFFF) + b"\x00" * 32,
         "refuse_digest": wrap(good, digest=b"\x00" * 32),
         "refuse_cutstream": wrap(good, packed=zlib.compress(good, 9)[:-6]),
         "refuse_noend": wrap(body(end=b"")),
         "refuse_tag14": wrap(body(end=b"\x0e\x00")),
         "refuse_marker": wrap(body(deps=b"\x0c\x02" + s(b"old") + b"\x00\x00\x00")),
         "refuse_dupkey": wrap(body(icon=b"\x06" + table({b"name": b"x"}))),
         "refuse_duplang": wrap(body(langs=b"\x00" + table({}) + b"\x00" + table({}) + b"\xff", icon=b"")),
         "refuse_emptykey": wrap(body(icon=b"\x06\x01\x00\x00\x00\x00\x00")),
         "refuse_digit9": wrap(body(filerec=b"\x01" + struct.pack("<II", 0, 0x03090505) + s(b"pgm") + s(b"x") +
                                    b"\xff")),
         # Language numbers run to 11, one past the standard languages.
         "accept_lang11": wrap(body(filerec=b"\x01" + struct.pack("<II", 0, 0x03080808) + s(b"pgm") + s(b"x") +
                                    b"\x0b\xff")),
         "refuse_lang12": wrap(body(filerec=b"\x01" + struct.pack("<II", 0, 0x03080808) + s(b"pgm") + s(b"x") +
                                    b"\x0c\xff")),
         "accept_langtable11": wrap(body(langs=b"\x0b" + table({}) + b"\xff")),
         "refuse_langtable12": wrap(body(langs=b"\x0c" + table({}) + b"\xff")),
         "refuse_noitem": wrap(body(filerec=b"\x01" + struct.pack("<II", 2, 0x03080808) + s(b"pgm") + s(b"x") +
                                    b"\xff")),
         "refuse_paramname0": wrap(body(params=b"\x08\x01" + s(b"") + s(b"x") + b"\x00")),
         "refuse_doc0": wrap(body(doc=b"")),
         "refuse_badoc": wrap(body(doc=b"QMXHDOCX" + b"\x00" * 8)),
         "refuse_payloadend": wrap(body(payload=item(b"abc") + struct.pack("<II", 5, 0))),
         "refuse_payloadbig": wrap(body(payload=struct.pack("<II", 0, 0x7FFFFFFF) + b"\x00" * 40)),
         "refuse_dangling": wrap(body(menu=b"\x03\x01" + s(b"nosuch") + s(b"pgm") + s(b"x") + s(b"") + s(b"") +
                                      s(b"") + s(b"") + b"\x00\x00")),
         "refuse_dotdot": wrap(body(filerec=b"\x01" + struct.pack("<II", 0, 0x03080808) + s(b"pgm") +
                                    s(b"../etc/passwd") + b"\xff")),
         "refuse_emptyseg": wrap(body(filerec=b"\x01" + struct.pack("<II", 0, 0x03080808) + s(b"pgm") +
                                      s(b"a//b") + b"\xff")),
         "refuse_ctrl": wrap(body(filerec=b"\x01" + struct.pack("<II", 0, 0x03080808) + s(b"pgm") +
                                  s(b"a\nb") + b"\xff")),
         "refuse_codename": wrap(body(strings={b"codename": b"demo;rm -rf", b"name": b"Demo"})),
         "refuse_depcode": wrap(body(deps=b"\x0c\x01" + s(b"a b") + b"\x00\x00\x00")),
         "accept_version65535": wrap(body(version=(65535, 65535, 65535, 65535))),
         "refuse_version65536": wrap(body(version=(1, 65536, 0, 0))),
         "refuse_versionneg": wrap(body(version=(-1, 0, 0, 0))),
         "refuse_pgmdefault": wrap(body(strings={b"codename": b"demo-pkg", b"name": b"Demo", b"pgm": b"/etc"})),
         "refuse_pgmlang": wrap(body(langs=b"\x00" + table({b"title": b"Hello", b"pgm": b"/etc"}) + b"\xff")),
         "refuse_langtwice": wrap(body(filerec=b"\x01" + struct.pack("<II", 0, 0x03080808) + s(b"pgm") + s(b"x") +
                                       b"\x02\x00\x02\xff")),
         "accept_entries4096": with_entries((top, top, top, top)),
         "refuse_menu4097": with_entries((top + 1, 1, 1, 1)),
         "refuse_run4097": with_entries((1, top + 1, 1, 1)),
         "refuse_params4097": with_entries((1, 1, top + 1, 1)),
         "refuse_deps4097": with_entries((1, 1, 1, top + 1)),
         # Two sections of one kind add up.
         # A second payload section, even one of only the end marker.
         "refuse_payloadtwice": wrap(body(end=b"\x0d" + item(b"x") + b"\x00" * 8 + b"\x00")),
         "refuse_payloadtwiceempty": wrap(body(end=b"\x0d" + b"\x00" * 8 + b"\x00")),
         "refuse_menusplit": wrap(body(menu=entries((top, 0, 0, 0))[0] + entries((1, 0, 0, 0))[0])),
         }
    v.update(base_and_text_variants())
    for name, blob in v.items():
        want = name.startswith("accept")
        try:
            parse(blob)
            got = True
        except Bad:
            got = False
        assert got == want, name
    return v


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "dump":
        try:
            m = parse(open(sys.argv[2], "rb").read())
        except Bad as e:
            print("refused:", e)
            return 1
        sys.stdout.write(dump(m))
        return 0
    if len(sys.argv) == 3 and sys.argv[1] == "gen":
        for name, blob in variants().items():
            open("%s/%s.data" % (sys.argv[2], name), "wb").write(blob)
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
