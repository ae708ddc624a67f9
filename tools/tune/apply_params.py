#!/usr/bin/env python3
"""Writes constants from a quorix_tune result file into src/eval/eval_tables.cpp.

Usage: apply_params.py PARAMS [TABLES_CPP]

Each line of PARAMS is "name v1 v2 ...". The numbers replace, in order, the integer
literals of the array with that name (psq_mg_<piece> / psq_eg_<piece> are rows of psq_mg /
psq_eg). Layout and comments of the source are kept.
"""
import re
import sys

PIECES = ["pawn", "knight", "bishop", "rook", "queen", "king"]
NUMBER = re.compile(r"-?\d+")


def target(name):
    for half in ("mg", "eg"):
        prefix = f"psq_{half}_"
        if name.startswith(prefix) and name[len(prefix):] in PIECES:
            return f"psq_{half}", PIECES.index(name[len(prefix):]) * 32
    return name, 0


def replace_array(src, var, offset, values):
    decl = re.search(r"\bint " + re.escape(var) + r"(\[\d+\])+ = \{", src)
    if not decl:
        raise SystemExit(f"no array {var} in the source")
    start = decl.end()
    depth, end = 1, start
    while True:
        if src[end] == "{":
            depth += 1
        elif src[end] == "}":
            depth -= 1
            if depth == 0:
                break
        end += 1
    body = src[start:end]
    # Keep comments untouched: split them out before renumbering.
    parts = re.split(r"(//[^\n]*)", body)
    index = 0
    out = []
    for part in parts:
        if part.startswith("//"):
            out.append(part)
            continue

        def sub(m):
            nonlocal index
            i = index
            index += 1
            if offset <= i < offset + len(values):
                return str(values[i - offset])
            return m.group(0)

        out.append(NUMBER.sub(sub, part))
    if index < offset + len(values):
        raise SystemExit(f"array {var} has only {index} values")
    return src[:start] + "".join(out) + src[end:]


def main():
    if len(sys.argv) not in (2, 3):
        raise SystemExit(__doc__)
    path = sys.argv[2] if len(sys.argv) == 3 else "src/eval/eval_tables.cpp"
    src = open(path).read()
    for line in open(sys.argv[1]):
        fields = line.split()
        if not fields or fields[0].startswith("#"):
            continue
        var, offset = target(fields[0])
        src = replace_array(src, var, offset, [int(v) for v in fields[1:]])
    open(path, "w").write(src)


if __name__ == "__main__":
    main()
