#!/usr/bin/env python3
"""Checks that the link graph of the libraries is the include graph.

Every folder of src/ is one library. For each library this script lists the libraries
(and outside libraries) its files include and those CMakeLists.txt links it with (the
`qmx_library(name PUBLIC ... PRIVATE ...)` lines), and fails when:
  - a library includes one it does not link, or links one it does not include (or an
    outside library whose headers it does not include; including the headers of one
    without linking it is allowed, for those opened on first use);
  - a library's headers include another library that it links PRIVATE (it must be
    PUBLIC, its users compile those headers), or one it links PUBLIC is included only
    from its sources;
  - a library includes one that is not above it in the README's order, or the link
    lists form a loop;
  - a folder of src/ is missing from the order or from CMakeLists.txt;
  - a test program (tests/<lib>, linked with <lib> and what CMakeLists.txt adds for
    test_<lib>) includes a library those do not reach;
  - inside the ui library, a file includes a layer above its own: the framework
    (src/ui) is beneath the controls (src/ui/controls), which are beneath the standard
    dialogs (src/ui/dialogs).
It also lists, per folder of src/picts, the folders it includes, and prints the loops
between those folders as faults (see PICTS_LOOPS_FAIL).

Usage: scripts/check_deps.py [--quiet]   (exit status 1 on a fault)
       scripts/check_deps.py --suggest   (prints the qmx_library lines the includes ask for;
                                          leave out outside libraries opened on first use)
"""

import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SRC = os.path.join(ROOT, "src")

# The folders of src/picts keep one order: tiffwalk (the TIFF directory walker) -> exif ->
# jpeg -> rawcore (the camera raw core) -> tiff (TIFF, TIFF/EP, DNG) -> raw (the makers);
# the format folders beside them hang from it. A loop between folders is a fault.
PICTS_LOOPS_FAIL = True

# Layers inside one library, lowest first: a file of a layer may include only its own
# layer and those before it. "" is the library's own top folder.
LAYERS = {"ui": ["", "controls", "dialogs"]}

# Outside headers and the CMake target that provides each (first matching prefix wins).
EXTERNAL = [
    ("zlib.h", "ZLIB::ZLIB"),
    ("libdeflate.h", "PkgConfig::LIBDEFLATE"),
    ("ft2build.h", "Freetype::Freetype"),
    ("fontconfig/", "Fontconfig::Fontconfig"),
    ("X11/extensions/XShm.h", "X11::Xext"),
    ("X11/extensions/scrnsaver.h", "X11::Xss"),
    ("X11/extensions/Xfixes.h", "X11::Xfixes"),
    ("X11/", "X11::X11"),
    ("pthread.h", "Threads::Threads"),
    ("dlfcn.h", "${CMAKE_DL_LIBS}"),
]

SOURCE_EXT = (".h", ".hpp", ".cpp", ".cc", ".c", ".inc")
HEADER_EXT = (".h", ".hpp", ".inc")
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def readme_order():
    text = read(os.path.join(ROOT, "README.md"))
    m = re.search(r"A library uses only those above it in the order\s+([a-z0-9_,\s]+?)\.", text)
    if not m:
        sys.exit("check_deps: README.md has no sentence 'A library uses only those above it in the order ...'")
    return [n for n in re.split(r"[,\s]+", m.group(1)) if n]


def cmake_links():
    """{library: {"PUBLIC": [...], "PRIVATE": [...]}} from the qmx_library(...) lines."""
    text = read(os.path.join(ROOT, "CMakeLists.txt"))
    text = re.sub(r"#[^\n]*", "", text)
    links = {}
    for m in re.finditer(r"^\s*qmx_library\(([^)]*)\)", text, re.M):
        words = m.group(1).split()
        name, scope = words[0], None
        entry = links.setdefault(name, {"PUBLIC": [], "PRIVATE": [], "bad": []})
        for w in words[1:]:
            if w in ("PUBLIC", "PRIVATE"):
                scope = w
            elif scope:
                entry[scope].append(w)
            else:
                entry["bad"].append(w)
    return links


def files_of(folder):
    for base, dirs, files in os.walk(folder):
        dirs.sort()
        for f in sorted(files):
            if f.endswith(SOURCE_EXT):
                yield os.path.join(base, f)


def includes_of(path):
    return [(m.group(1), m.group(2)) for m in INCLUDE_RE.finditer(read(path))]


def external_target(header):
    for prefix, target in EXTERNAL:
        if header == prefix or (prefix.endswith("/") and header.startswith(prefix)):
            return target
    return None


def scan_library(lib, names):
    """({used: from_header}, {used: [example file]}) for the library's files; CMake
    builds every source but main.cpp into the library."""
    used, where = {}, {}
    for path in files_of(os.path.join(SRC, lib)):
        if os.path.basename(path) == "main.cpp":
            continue
        in_header = path.endswith(HEADER_EXT)
        for _, inc in includes_of(path):
            top = inc.split("/")[0] if "/" in inc else None
            dep = top if top in names and top != lib else external_target(inc)
            if dep:
                used[dep] = used.get(dep, False) or in_header
                where.setdefault(dep, os.path.relpath(path, ROOT))
    return used, where


def find_loops(graph):
    """Elementary cycles of a small directed graph, each as a list starting at its
    least node."""
    loops = []
    nodes = sorted(graph)
    for start in nodes:
        stack = [(start, [start])]
        while stack:
            node, path = stack.pop()
            for nxt in sorted(graph.get(node, ()), reverse=True):
                if nxt == start:
                    loops.append(path + [start])
                elif nxt > start and nxt not in path:
                    stack.append((nxt, path + [nxt]))
    return loops


def reach(graph, lib):
    seen, todo = {lib}, [lib]
    while todo:
        for d in graph.get(todo.pop(), ()):
            if d not in seen:
                seen.add(d)
                todo.append(d)
    return seen


def link_line(lib, used, order):
    """The qmx_library line that links exactly what the library includes."""
    key = lambda d: (d not in order, order.index(d) if d in order else 0, d)
    line = "qmx_library(%s" % lib
    for scope, wanted in (("PUBLIC", True), ("PRIVATE", False)):
        deps = sorted((d for d in used if used[d] == wanted), key=key)
        if deps:
            line += " %s %s" % (scope, " ".join(deps))
    return line + ")"


def check_libraries(faults, quiet, suggest):
    order = readme_order()
    names = set(order)
    links = cmake_links()
    folders = sorted(d for d in os.listdir(SRC) if os.path.isdir(os.path.join(SRC, d)))
    for d in folders:
        if d not in names:
            faults.append("src/%s is not in the README's order of libraries" % d)
        if d not in links:
            faults.append("src/%s has no qmx_library(%s ...) line in CMakeLists.txt" % (d, d))
    for n in order:
        if n not in folders:
            faults.append("the README's order names %s, which is not a folder of src/" % n)

    graph = {}
    for lib in order:
        if lib not in links or lib not in folders:
            continue
        used, where = scan_library(lib, names)
        if suggest:
            print(link_line(lib, used, order))
            continue
        decl = links[lib]
        pub, priv = set(decl["PUBLIC"]), set(decl["PRIVATE"])
        graph[lib] = [d for d in decl["PUBLIC"] + decl["PRIVATE"] if d in names]
        for w in decl["bad"]:
            faults.append("%s: '%s' is linked without PUBLIC or PRIVATE" % (lib, w))
        for d in sorted(pub & priv):
            faults.append("%s links %s both PUBLIC and PRIVATE" % (lib, d))
        for d in sorted(used):
            if d in names and order.index(d) >= order.index(lib):
                faults.append("%s includes %s, which is not above it in the README's order (%s)" % (lib, d, where[d]))
            if d not in pub | priv:
                if d not in names:
                    continue  # an outside library may be opened at run time, its headers only used
                faults.append("%s includes %s (%s) but does not link it" % (lib, d, where[d]))
            elif used[d] and d not in pub:
                faults.append("%s: its headers include %s (%s), so it links it PUBLIC" % (lib, d, where[d]))
            elif not used[d] and d not in priv:
                faults.append("%s: only its sources include %s, so it links it PRIVATE" % (lib, d))
        for d in sorted((pub | priv) - set(used)):
            if d not in names and d not in {t for _, t in EXTERNAL}:
                faults.append("%s links %s, which this script cannot tell by a header (see EXTERNAL)" % (lib, d))
            else:
                faults.append("%s links %s but includes nothing of it" % (lib, d))
        if not quiet:
            inc = " ".join(sorted(used, key=lambda d: (d not in names, order.index(d) if d in names else 0, d)))
            lk = "PUBLIC %s" % " ".join(decl["PUBLIC"]) if decl["PUBLIC"] else ""
            if decl["PRIVATE"]:
                lk += (" " if lk else "") + "PRIVATE %s" % " ".join(decl["PRIVATE"])
            print("%-11s includes: %s" % (lib, inc or "-"))
            print("%-11s links:    %s" % ("", lk or "-"))
    for loop in find_loops(graph):
        faults.append("loop between libraries: " + " -> ".join(loop))
    return order, names, graph


def test_links():
    """{lib: [libraries]} that CMakeLists.txt links test_<lib> with beside <lib>."""
    text = re.sub(r"#[^\n]*", "", read(os.path.join(ROOT, "CMakeLists.txt")))
    extra = {}
    for m in re.finditer(r"target_link_libraries\(\s*test_(\w+)\s+PRIVATE\s+([^)]*)\)", text):
        extra.setdefault(m.group(1), []).extend(m.group(2).split())
    return extra


def check_tests(faults, names, graph):
    # test_<lib> links <lib> (with what it links in turn) and the libraries CMakeLists.txt
    # adds for it: tests/<lib> and the shared tests/testutil.* may include only those.
    extra = test_links()
    tests = os.path.join(ROOT, "tests")
    common = [os.path.join(tests, f) for f in sorted(os.listdir(tests)) if f.startswith("testutil.")]
    for lib in sorted(graph):
        folder = os.path.join(tests, lib)
        if not os.path.isdir(folder):
            continue
        reached = set()
        for d in [lib] + [d for d in extra.get(lib, []) if d in names]:
            reached |= reach(graph, d)
        todo, seen = list(files_of(folder)) + common, set()
        while todo:
            path = todo.pop(0)
            if path in seen:
                continue
            seen.add(path)
            for _, inc in includes_of(path):
                top = inc.split("/")[0] if "/" in inc else None
                if top not in names:
                    continue
                if not os.path.exists(os.path.join(SRC, inc)) and os.path.exists(os.path.join(tests, inc)):
                    todo.append(os.path.join(tests, inc))  # a test helper header: what it includes
                elif top not in reached:
                    faults.append("test_%s: %s includes %s, which %s does not link"
                                  % (lib, os.path.relpath(path, ROOT), inc, lib))


def check_layers(faults):
    for lib, layers in LAYERS.items():
        folder = os.path.join(SRC, lib)
        for path in files_of(folder):
            rel = os.path.relpath(path, folder).split(os.sep)
            own = rel[0] if len(rel) > 1 and rel[0] in layers else ""
            for _, inc in includes_of(path):
                parts = inc.split("/")
                if len(parts) > 2 and parts[0] == lib and parts[1] in layers:
                    if layers.index(parts[1]) > layers.index(own):
                        faults.append("%s (%s) includes %s, a layer above it"
                                      % (os.path.relpath(path, ROOT), lib + ("/" + own if own else ""), inc))


def check_picts(quiet):
    """The folders of src/picts each include; the loops between them."""
    base = os.path.join(SRC, "picts")
    folders = sorted(d for d in os.listdir(base) if os.path.isdir(os.path.join(base, d)))
    graph = {}
    for d in folders:
        seen = set()
        for path in files_of(os.path.join(base, d)):
            for _, inc in includes_of(path):
                parts = inc.split("/")
                if len(parts) > 2 and parts[0] == "picts" and parts[1] != d and parts[1] in folders:
                    seen.add(parts[1])
        graph[d] = sorted(seen)
    if not quiet:
        print()
        print("folders of src/picts (beside the shared files at its top):")
        for d in folders:
            print("  %-10s includes: %s" % (d, " ".join(graph[d]) or "-"))
    return ["folder loop in src/picts: " + " -> ".join(loop) for loop in find_loops(graph)]


def main():
    quiet = "--quiet" in sys.argv[1:]
    if "--suggest" in sys.argv[1:]:
        check_libraries([], True, True)
        return 0
    faults = []
    _, names, graph = check_libraries(faults, quiet, False)
    check_tests(faults, names, graph)
    check_layers(faults)
    loops = check_picts(quiet)
    if PICTS_LOOPS_FAIL:
        faults += loops
    elif loops:
        print()
        print("warning: known folder loops in src/picts (not failing yet):")
        for loop in loops:
            print("  " + loop)
    if faults:
        print()
        print("dependency faults:")
        for f in faults:
            print("  " + f)
        return 1
    if not quiet:
        print()
        print("libraries: the link lists are the include lists, in the README's order, without loops")
    return 0


if __name__ == "__main__":
    sys.exit(main())
