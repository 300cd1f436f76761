#!/usr/bin/env python3
"""The list of planted faults (tests/mutants.txt) for tools/mutants.sh.

    mutant_list.py check LIST ROOT [MINIMUM]   every entry applies once; enough entries
                                               over every source folder and both commands
    mutant_list.py list LIST                   LINE<TAB>FILE<TAB>WHAT IT BREAKS of each entry
    mutant_list.py apply LIST ROOT LINE        plants the entry of that line (exact-once)

A line holds four tab-separated fields: file, original text, replacement,
what it breaks. "\\n", "\\t" and "\\\\" in the texts stand for a line feed, a
tab and a backslash. Lines that start with # and empty lines are ignored.
"""
import os
import sys

# The commands' own files: each must have at least one planted fault.
COMMAND_FILES = {"read": "source/getinfo.cpp", "self-test": "source/selftest.cpp"}


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in "nt\\":
            out.append({"n": "\n", "t": "\t", "\\": "\\"}[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def entries(list_path):
    """(line number, file, original, replacement, what, problem) of every entry."""
    with open(list_path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 4 or not all(fields):
                yield number, fields[0], "", "", "", "needs 4 non-empty tab-separated fields, has %d" % len(fields)
                continue
            file, original, replacement, what = fields
            original, replacement = unescape(original), unescape(replacement)
            problem = "" if original != replacement else "the replacement equals the original"
            yield number, file, original, replacement, what, problem


def occurrence_problem(root, file, original):
    path = os.path.join(root, file)
    if not os.path.isfile(path):
        return "no file %s" % file
    with open(path, encoding="utf-8") as f:
        count = f.read().count(original)
    return "" if count == 1 else "the original text occurs %d times in %s, not once" % (count, file)


def code_folders(root):
    """The folders under source/ with code compiled on Linux (Windows files aside)."""
    folders = set()
    for directory, _, names in os.walk(os.path.join(root, "source")):
        if any(n.endswith(".cpp") and "windows" not in n for n in names):
            folders.add(os.path.relpath(directory, root))
    return folders


def check(list_path, root, minimum):
    problems, files = [], []
    for number, file, original, _, _, problem in entries(list_path):
        problem = problem or occurrence_problem(root, file, original)
        if problem:
            problems.append("%s:%d: %s" % (list_path, number, problem))
        files.append(file)
    if len(files) < minimum:
        problems.append("%d entries, fewer than %d" % (len(files), minimum))
    covered = {os.path.dirname(f) for f in files}
    for folder in sorted(code_folders(root) - covered):
        problems.append("no entry for the source folder %s" % folder)
    for command, file in COMMAND_FILES.items():
        if file not in files:
            problems.append("no entry for the %s command (%s)" % (command, file))
    for problem in problems:
        print(problem)
    print("%d entries over %d source folders: %s" % (len(files), len(covered), "stale" if problems else "current"))
    return 1 if problems else 0


def apply(list_path, root, line):
    for number, file, original, replacement, _, problem in entries(list_path):
        if number != line:
            continue
        problem = problem or occurrence_problem(root, file, original)
        if problem:
            print(problem, file=sys.stderr)
            return 1
        path = os.path.join(root, file)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(original, replacement, 1))
        return 0
    print("no entry on line %d" % line, file=sys.stderr)
    return 1


def main(argv):
    if len(argv) >= 3 and argv[1] == "list":
        for number, file, _, _, what, _ in entries(argv[2]):
            print("%d\t%s\t%s" % (number, file, what))
        return 0
    if len(argv) in (4, 5) and argv[1] == "check":
        return check(argv[2], argv[3], int(argv[4]) if len(argv) == 5 else 40)
    if len(argv) == 5 and argv[1] == "apply":
        return apply(argv[2], argv[3], int(argv[4]))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
