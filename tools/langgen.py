#!/usr/bin/env python3
"""Language table generator: turns readable text sources (one file per language) into
"CIOMLAFI" containers, as a C++ source with the bytes built in or as .laci files.

Text source:
    # a comment
    @lang ENG                 the language (ENG, RUS, DEU, JPN, KOR, FRA, UKR, ESP, CHN, TWN, TUR)
    [section::name]           starts a section
    12 = text                 index = text; escapes: \\n \\t \\s (space) \\\\
A translation must keep every printf conversion of the reference language's string, in
order; `check` (and `cpp --reference`) refuses a table that does not.

Commands:
    langgen.py cpp --out FILE [--prefix P] [--table NAME] [--reference FILE] SOURCES...
    langgen.py laci SOURCE OUT.laci
    langgen.py dump IN.laci
    langgen.py check REFERENCE SOURCES...
"""
import argparse
import re
import struct
import sys
import zlib

LANGS = ["ENG", "RUS", "DEU", "JPN", "KOR", "FRA", "UKR", "ESP", "CHN", "TWN", "TUR"]
OUTER_MAGIC = b"CIOMLAFI"
INNER_MAGIC = b"CIOMLANG"
VERSION = 1
HEADER = 24
MAX_UNPACKED = 8 * 1024 * 1024
MAX_INDEX = 65535
NO_LANG = 0xFFFF

# printf conversions: flags, width, precision, length, type (%% is a literal).
CONVERSION = re.compile(r"%(?:%|[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|L|z|j|t)?[diouxXeEfFgGaAcspn])")


class LangError(Exception):
    pass


def conversions(text):
    """The printf conversions of a text in order, without the literal %%."""
    out = []
    pos = 0
    while True:
        i = text.find("%", pos)
        if i < 0:
            return out
        m = CONVERSION.match(text, i)
        if not m:
            raise LangError("bad conversion at %d in %r" % (i, text))
        if m.group(0) != "%%":
            out.append(m.group(0))
        pos = m.end()


def unescape(value, where):
    out = []
    i = 0
    while i < len(value):
        c = value[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        if i + 1 >= len(value):
            raise LangError("%s: dangling backslash" % where)
        e = value[i + 1]
        mapping = {"n": "\n", "t": "\t", "s": " ", "\\": "\\"}
        if e not in mapping:
            raise LangError("%s: unknown escape \\%s" % (where, e))
        out.append(mapping[e])
        i += 2
    return "".join(out)


def escape(text):
    out = text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t")
    if out.startswith(" "):
        out = "\\s" + out[1:]
    if out.endswith(" "):
        out = out[:-1] + "\\s"
    return out


def parse_text(text, name="<text>"):
    """Returns (language code, {section: {index: string}})."""
    lang = None
    sections = {}
    current = None
    for number, raw in enumerate(text.splitlines(), 1):
        where = "%s:%d" % (name, number)
        line = raw.rstrip("\r")
        stripped = line.strip()
        if not stripped or stripped.startswith("#"):
            continue
        if stripped.startswith("@lang"):
            code = stripped[5:].strip()
            if code not in LANGS:
                raise LangError("%s: unknown language %r" % (where, code))
            if lang is not None:
                raise LangError("%s: second @lang" % where)
            lang = code
            continue
        if stripped.startswith("["):
            if not stripped.endswith("]"):
                raise LangError("%s: bad section line" % where)
            sec = stripped[1:-1]
            raw_name = sec.encode("utf-8")
            if not 1 <= len(raw_name) <= 255:
                raise LangError("%s: bad section name" % where)
            if sec in sections:
                raise LangError("%s: section %s repeated" % (where, sec))
            sections[sec] = {}
            current = sec
            continue
        if "=" not in line:
            raise LangError("%s: expected 'index = text'" % where)
        if current is None:
            raise LangError("%s: string outside a section" % where)
        left, value = line.split("=", 1)
        try:
            index = int(left.strip(), 10)
        except ValueError:
            raise LangError("%s: bad index %r" % (where, left.strip()))
        if not 0 <= index <= MAX_INDEX:
            raise LangError("%s: index out of range" % where)
        if index in sections[current]:
            raise LangError("%s: index %d repeated" % (where, index))
        if value.startswith(" "):
            value = value[1:]
        s = unescape(value, where)
        if "\0" in s:
            raise LangError("%s: zero character" % where)
        conversions(s)
        sections[current][index] = s
    if lang is None:
        raise LangError("%s: no @lang line" % name)
    return lang, sections


def parse_file(path):
    with open(path, encoding="utf-8") as f:
        return parse_text(f.read(), path)


def build_table(sections):
    """The unpacked "CIOMLANG" table: sections in byte order, indexes ascending."""
    out = bytearray(INNER_MAGIC)
    out += struct.pack("<I", len(sections))
    for name in sorted(sections, key=lambda n: n.encode("utf-8")):
        raw = name.encode("utf-8")
        out += struct.pack("<B", len(raw)) + raw
        entries = sections[name]
        out += struct.pack("<I", len(entries))
        for index in sorted(entries):
            data = entries[index].encode("utf-8")
            out += struct.pack("<HI", index, len(data)) + data
    if len(out) > MAX_UNPACKED:
        raise LangError("table too large")
    return bytes(out)


def pack(sections, lang):
    """A whole "CIOMLAFI" container for a language code (or None)."""
    table = build_table(sections)
    packed = zlib.compress(table, 5)
    lang_id = NO_LANG if lang is None else LANGS.index(lang)
    fields = struct.pack("<HHII", VERSION, lang_id, len(packed), len(table))
    crc = zlib.crc32(fields + packed) & 0xFFFFFFFF
    return OUTER_MAGIC + fields + struct.pack("<I", crc) + packed


def unpack(data):
    """Reads a container back; raises LangError on any damage. Returns (lang, sections)."""
    if len(data) < HEADER or data[:8] != OUTER_MAGIC:
        raise LangError("not a language container")
    version, lang_id, plen, ulen = struct.unpack_from("<HHII", data, 8)
    (crc,) = struct.unpack_from("<I", data, 20)
    if version != VERSION:
        raise LangError("unknown version %d" % version)
    if plen != len(data) - HEADER or not 12 <= ulen <= MAX_UNPACKED:
        raise LangError("bad lengths")
    if zlib.crc32(data[8:20] + data[HEADER:]) & 0xFFFFFFFF != crc:
        raise LangError("checksum mismatch")
    d = zlib.decompressobj()
    table = d.decompress(data[HEADER:], ulen + 1)
    if len(table) != ulen or not d.eof or d.unused_data:
        raise LangError("bad packed table")
    if lang_id != NO_LANG and lang_id >= len(LANGS):
        raise LangError("bad language id")
    return (None if lang_id == NO_LANG else LANGS[lang_id]), parse_table(table)


def parse_table(table):
    if table[:8] != INNER_MAGIC:
        raise LangError("bad table magic")
    pos = 8

    def take(n):
        nonlocal pos
        if n > len(table) - pos:
            raise LangError("table truncated")
        b = table[pos:pos + n]
        pos += n
        return b

    (count,) = struct.unpack("<I", take(4))
    sections = {}
    previous = None
    for _ in range(count):
        (n,) = struct.unpack("<B", take(1))
        raw = take(n)
        if n == 0 or (previous is not None and raw <= previous):
            raise LangError("section names not ascending")
        previous = raw
        (entries,) = struct.unpack("<I", take(4))
        sec = {}
        last = -1
        for _ in range(entries):
            index, length = struct.unpack("<HI", take(6))
            if index <= last:
                raise LangError("indexes not ascending")
            last = index
            text = take(length)
            if b"\0" in text:
                raise LangError("zero byte in a string")
            sec[index] = text.decode("utf-8")
        sections[raw.decode("utf-8")] = sec
    if pos != len(table):
        raise LangError("trailing bytes in the table")
    return sections


def to_text(lang, sections):
    lines = ["@lang %s" % (lang or "ENG")]
    for name in sorted(sections, key=lambda n: n.encode("utf-8")):
        lines.append("")
        lines.append("[%s]" % name)
        for index in sorted(sections[name]):
            lines.append("%d = %s" % (index, escape(sections[name][index])))
    return "\n".join(lines) + "\n"


def check(reference, other, other_name):
    """Problems of a translation against the reference table: missing sections or
    indexes, strings the reference lacks, changed conversions."""
    problems = []
    for sec, entries in reference.items():
        if sec not in other:
            problems.append("%s: section %s missing" % (other_name, sec))
            continue
        for index, text in entries.items():
            if index not in other[sec]:
                problems.append("%s: %s %d missing" % (other_name, sec, index))
            elif conversions(other[sec][index]) != conversions(text):
                problems.append("%s: %s %d changes the conversions %s" % (other_name, sec, index, conversions(text)))
    for sec, entries in other.items():
        for index in entries:
            if sec not in reference or index not in reference[sec]:
                problems.append("%s: %s %d is not in the reference" % (other_name, sec, index))
    return problems


def c_bytes(data):
    rows = []
    for i in range(0, len(data), 20):
        rows.append("    " + ", ".join("0x%02x" % b for b in data[i:i + 20]) + ",")
    return "\n".join(rows)


def emit_cpp(sources, prefix, table):
    out = ["// Generated by tools/langgen.py from the language sources; do not edit.",
           '#include "ui/lang.h"', ""]
    entries = []
    seen = set()
    for path, lang, sections in sources:
        if lang in seen:
            raise LangError("%s: language %s given twice" % (path, lang))
        seen.add(lang)
        data = pack(sections, lang)
        sym = "%s%s" % (prefix, lang)
        out.append("// %s" % path.replace("\\", "/").split("/")[-1])
        out.append("extern const unsigned char %s[%d] = {" % (sym, len(data)))
        out.append(c_bytes(data))
        out.append("};")
        out.append("extern const unsigned int %s_size = %d;" % (sym, len(data)))
        out.append("")
        entries.append("    {%d, %s, %d}," % (LANGS.index(lang), sym, len(data)))
    if table:
        out.append("extern const sLangTableEntry %s[%d] = {" % (table, len(entries)))
        out.extend(entries)
        out.append("};")
        out.append("extern const int %s_count = %d;" % (table, len(entries)))
    return "\n".join(out) + "\n"


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    ap = argparse.ArgumentParser(description="language table generator")
    sub = ap.add_subparsers(dest="cmd", required=True)
    c = sub.add_parser("cpp")
    c.add_argument("--out", required=True)
    c.add_argument("--prefix", default="lang_")
    c.add_argument("--table")
    c.add_argument("--reference")
    c.add_argument("sources", nargs="+")
    l = sub.add_parser("laci")
    l.add_argument("source")
    l.add_argument("out")
    d = sub.add_parser("dump")
    d.add_argument("container")
    k = sub.add_parser("check")
    k.add_argument("reference")
    k.add_argument("sources", nargs="+")
    args = ap.parse_args(argv)
    try:
        if args.cmd == "cpp":
            sources = [(p,) + parse_file(p) for p in args.sources]
            if args.reference:
                _, ref = parse_file(args.reference)
                problems = []
                for path, _, sections in sources:
                    problems += check(ref, sections, path)
                if problems:
                    raise LangError("\n".join(problems))
            write_if_changed(args.out, emit_cpp(sources, args.prefix, args.table))
        elif args.cmd == "laci":
            lang, sections = parse_file(args.source)
            with open(args.out, "wb") as f:
                f.write(pack(sections, lang))
        elif args.cmd == "dump":
            with open(args.container, "rb") as f:
                lang, sections = unpack(f.read())
            sys.stdout.write(to_text(lang, sections))
        elif args.cmd == "check":
            _, ref = parse_file(args.reference)
            problems = []
            for p in args.sources:
                _, sections = parse_file(p)
                problems += check(ref, sections, p)
            if problems:
                raise LangError("\n".join(problems))
    except (LangError, OSError, UnicodeDecodeError) as e:
        sys.stderr.write("langgen: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
