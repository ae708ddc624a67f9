#!/usr/bin/python3
"""How well the classical evaluation and networks predict the training target on
held-out games (numpy only; no torch).

    compare.py --data FILE.qpos [--nets NET...] [--probe quorix_nnue_probe] [--positions N]

Takes the validation games of train.py (same split, same seed), samples positions
that training would keep, and prints for each evaluator the loss train.py reports
(win-probability MSE against the blended target), the best rescaling of its values,
its mean |value| and its correlation with the search score. A network has to come
below the classical evaluation's loss before it can be expected to play better.
"""
import argparse
import os
import subprocess
import sys

import numpy as np

import halfkp
import netfile
import nnue_ref

LETTERS = " PNBRQK"


def fen(board, stm, fifty):
    rows = []
    for rank in range(7, -1, -1):
        row, empty = "", 0
        for f in range(8):
            c = int(board[rank * 8 + f])
            if not c:
                empty += 1
                continue
            if empty:
                row, empty = row + str(empty), 0
            row += LETTERS[c & 7] if c < 8 else LETTERS[c & 7].lower()
        rows.append(row + (str(empty) if empty else ""))
    return "/".join(rows) + (" b" if stm else " w") + f" - - {int(fifty)} 1"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--data", required=True, help="a .qpos file (the one the networks were trained on)")
    ap.add_argument("--nets", nargs="*", default=[])
    ap.add_argument("--probe", default=os.path.join(os.path.dirname(__file__), "../../build/release/quorix_nnue_probe"))
    ap.add_argument("--positions", type=int, default=20000)
    ap.add_argument("--val-fraction", type=float, default=0.05)
    ap.add_argument("--seed", type=int, default=1, help="train.py's --seed (chooses the split)")
    ap.add_argument("--lam", type=float, default=0.75)
    ap.add_argument("--k", type=float, default=160.0)
    args = ap.parse_args(argv)

    recs = halfkp.read_records(args.data)
    games = halfkp.game_ids(recs)
    flags = recs["flags"]
    keep = (flags & (halfkp.FLAG_CHECK | halfkp.FLAG_MATE | halfkp.FLAG_CAPTURE | halfkp.FLAG_PROMO)) == 0
    keep &= np.abs(recs["score"].astype(np.int32)) <= 3000
    keep &= halfkp.split_by_game(games, args.val_fraction, args.seed)
    idx = np.flatnonzero(keep)
    if len(idx) == 0:
        raise SystemExit("no validation positions")
    rng = np.random.default_rng(7)
    idx = np.sort(rng.choice(idx, min(args.positions, len(idx)), replace=False))
    v = np.asarray(recs[idx])

    score = v["score"].astype(np.float64)
    res = v["result"].astype(np.float64) / 2
    res = np.where(v["stm"] == 1, 1 - res, res)
    target = args.lam / (1 + np.exp(-score / args.k)) + (1 - args.lam) * res

    def loss(x):
        return float(np.mean((1 / (1 + np.exp(-x / args.k)) - target) ** 2))

    def report(name, x):
        best = min((loss(x * s), s) for s in np.arange(0.5, 2.001, 0.05))
        print(f"{name:24s} loss {loss(x):.5f}  best x{best[1]:.2f}: {best[0]:.5f}  "
              f"mean |v| {np.abs(x).mean():6.1f}  corr {np.corrcoef(x, score)[0, 1]:.3f}")

    print(f"{len(v)} validation positions from {args.data}")
    report("search score (label)", score)
    fens = "".join(fen(r["board"], r["stm"], r["fifty"]) + "\n" for r in v)
    out = subprocess.run([args.probe, "--classical"], input=fens, capture_output=True, text=True, check=True)
    # The engine's start-up lines come first; the values are the last lines.
    lines = out.stdout.split("\n")[:-1][-len(v):]
    classical = np.array(lines, dtype=np.float64)
    if len(classical) != len(v):
        raise SystemExit(f"probe answered {len(classical)} values for {len(v)} positions")
    report("classical", classical)
    for path in args.nets:
        net = nnue_ref.forward(netfile.load(path), v["board"], v["stm"])["nnue"].astype(np.float64)
        report(os.path.basename(path), net)
    return 0


if __name__ == "__main__":
    sys.exit(main())
