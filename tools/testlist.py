#!/usr/bin/env python3
"""The build's steps around CTest's discovery of a test program's tests (CMakeLists.txt).

    testlist.py check PROGRAM LIST SOURCES
        Before the discovery: PROGRAM --gtest_list_tests must list a test. A program that ends
        before its tests (an exit in main or in a constructor) lists none, which the discovery
        would take for a program without tests; this fails the build with one line naming the
        program and the tests it listed last time (LIST, the discovery's file from then) or, in
        a fresh build, those its sources under SOURCES define.
    testlist.py cut LIST
        After the discovery: cuts CTest's skip-by-output pattern from LIST, so that CTest's
        verdict is the exit status; a LIST without the pattern fails (another CMake writes it
        otherwise, and the cut must be redone).
"""
import os
import re
import subprocess
import sys

SKIP = "SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==]"


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def some(names):
    return ", ".join(names[:5]) + (" and %d more" % (len(names) - 5) if len(names) > 5 else "")


def listed(output):
    """The full names of a --gtest_list_tests listing ("Suite." heading "  Name" lines)."""
    names, suite = [], None
    for line in output.split("\n"):
        if line and not line.startswith(" "):
            word = line.split()[0]
            suite = word if word.endswith(".") else None
        elif line.startswith("  ") and suite and line.split():
            names.append(suite + line.split()[0])
    return names


def last_time(list_path):
    try:
        text = open(list_path, encoding="utf-8", errors="replace").read()
    except OSError:
        return []
    return [m[1] for m in re.findall(r"add_test\(\s*\[(=*)\[(.*?)\]\1\]", text)]


def in_sources(folder):
    names = []
    for where, _, files in os.walk(folder):
        for f in sorted(files):
            if f.endswith((".cpp", ".cc", ".h")):
                text = open(os.path.join(where, f), encoding="utf-8", errors="replace").read()
                names += ["%s.%s" % m for m in re.findall(r"^\s*(?:TYPED_)?TEST(?:_F|_P)?\(\s*(\w+)\s*,\s*(\w+)\s*\)", text, re.M)]
    return names


def check(program, list_path, sources):
    name = os.path.basename(program)
    # Only the program decides: no selection from the environment (scripts/test.sh refuses those).
    env = {k: v for k, v in os.environ.items() if not k.startswith(("GTEST_", "TESTBRIDGE_"))}
    try:
        run = subprocess.run([program, "--gtest_list_tests"], capture_output=True, text=True, errors="replace",
                             env=env, timeout=60)
        status, names = run.returncode, listed(run.stdout)
    except subprocess.TimeoutExpired:
        status, names = None, []
    if status == 0 and names:
        return
    ending = ("does not end within 60 s" if status is None else "ends by signal %d" % -status if status < 0
              else "ends with exit status %d" % status)
    before = last_time(list_path)
    if before:
        tests = "where it listed %d last time (%s)" % (len(before), some(before))
    else:
        found = in_sources(sources)
        tests = "where its sources define %d (%s)" % (len(found), some(found)) if found else "and its sources define none"
    # The link's output outlives a failed step after it, and a build that restores the same
    # link command would take it for up to date.
    os.remove(program)
    listing = "lists %d tests" % len(names) if names else "lists none"
    fail("%s ends before its tests: --gtest_list_tests %s and %s, %s; none of them would run"
         % (name, listing, ending, tests))


def cut(list_path):
    text = open(list_path, encoding="utf-8").read()
    if SKIP not in text:
        fail("%s: CTest's skip pattern (%s) is not where this CMake was expected to write it; "
             "tools/testlist.py must learn the new form" % (list_path, SKIP))
    open(list_path, "w", encoding="utf-8").write(text.replace(SKIP, ""))


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "check":
        check(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "cut":
        cut(sys.argv[2])
    else:
        fail(__doc__)
