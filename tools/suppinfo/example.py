#!/usr/bin/env python3
"""Prints the position features that libquorix.so computes for a FEN.

    python3 tools/suppinfo/example.py [--library PATH] [FEN [moves ...]]
    python3 tools/suppinfo/example.py --check     # a few self-checks, exit code 1 on failure

Without a FEN the start position is used. Only the standard library is needed.
"""
import argparse
import ctypes
import glob
import os
import sys

PIECES = ["pawns", "knights", "bishops", "rooks", "queens", "king"]
PAWN_SETS = ["passed", "isolated", "side-by-side", "free, not passed"]

# Names of the values in the order the library writes them.
NAMES = (
    [f"white {p}" for p in PIECES] + [f"black {p}" for p in PIECES]
    + ["en-passant square"]
    + [f"white {p} attacks" for p in PIECES] + [f"black {p} attacks" for p in PIECES]
    + [f"white pawns {s}" for s in PAWN_SETS] + [f"black pawns {s}" for s in PAWN_SETS]
    + ["pinned to the white king", "pinned to the black king"]
    + ["white to move", "black to move", "fifty-move counter",
       "white short castling lost", "white long castling lost",
       "black short castling lost", "black long castling lost"]
    + [f"white {p} count" for p in PIECES[:5]] + [f"black {p} count" for p in PIECES[:5]]
    + ["phase", "material (centipawns, white's view)", "material scale"]
)
BITBOARDS = 12 + 1 + 12 + 8 + 2


def find_library():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    hits = sorted(glob.glob(os.path.join(root, "build", "*", "libquorix.so")), key=os.path.getmtime)
    if not hits:
        sys.exit("libquorix.so not found; build it or pass --library")
    return hits[-1]


def load(path):
    lib = ctypes.CDLL(os.path.abspath(path))
    lib.supp_info.argtypes = [ctypes.c_char_p]
    lib.supp_info.restype = ctypes.c_void_p  # keep the pointer to compare calls
    return lib


def call(lib, pos_str):
    ptr = lib.supp_info(pos_str.encode())
    return ptr, ctypes.string_at(ptr).decode()


def features(lib, pos_str):
    _, text = call(lib, pos_str)
    if text.startswith("error"):
        raise ValueError(text)
    values = text.split()
    if len(values) != len(NAMES):
        raise ValueError(f"expected {len(NAMES)} values, got {len(values)}")
    return [(name, float(v) if i == len(NAMES) - 1 else int(v)) for i, (name, v) in enumerate(zip(NAMES, values))]


def squares(bb):
    return " ".join("abcdefgh"[s % 8] + str(s // 8 + 1) for s in range(64) if bb >> s & 1) or "-"


def check(lib):
    failures = []

    def expect(what, got, want):
        if got != want:
            failures.append(f"{what}: got {got!r}, want {want!r}")

    start = dict(features(lib, "position startpos"))
    expect("white pawns", start["white pawns"], 65280)
    expect("en-passant square", start["en-passant square"], 0)
    expect("phase", start["phase"], 96)
    fen = dict(features(lib, "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"))
    expect("startpos equals its FEN", fen, start)
    after = dict(features(lib, "position startpos moves e2e4 e7e5 g1f3"))
    expect("black to move after three moves", after["black to move"], 1)
    expect("white knight count", after["white knights count"], 2)
    p1, first = call(lib, "position startpos")
    p2, second = call(lib, "position startpos moves d2d4")
    expect("same pointer on every call", p1, p2)
    expect("first result overwritten", ctypes.string_at(p1).decode(), second)
    for bad in ["", "position", "position nonsense", "position fen 8/8/8/8 w",
                "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq -"]:
        expect(f"error for {bad!r}", call(lib, bad)[1], "error: invalid pos_str argument")
    for msg in failures:
        print("FAILED", msg)
    print("supp_info example checks", "failed" if failures else "passed")
    return 1 if failures else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--library", help="path of libquorix.so (default: newest under build/)")
    ap.add_argument("--check", action="store_true", help="run the self-checks instead")
    ap.add_argument("fen", nargs="*", help="FEN fields, optionally followed by 'moves' and UCI moves")
    args = ap.parse_args()
    lib = load(args.library or find_library())
    if args.check:
        return check(lib)
    pos_str = "position fen " + " ".join(args.fen) if args.fen else "position startpos"
    try:
        values = features(lib, pos_str)
    except ValueError as e:
        print(e)
        return 1
    for i, (name, value) in enumerate(values):
        shown = f"{value:<20}  {squares(value)}" if i < BITBOARDS else value
        print(f"{name:38} {shown}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
