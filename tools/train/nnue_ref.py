#!/usr/bin/python3
"""Reference forward pass of an exported network file, with numpy only.

    nnue_ref.py NET [FEN ...]          one line per FEN (or per line of standard input):
                                       the "nnue" command value at NNUE_Scale 65
    nnue_ref.py --dump NET [FEN ...]   also the transformer bytes, layer-1 sums and raw output

NET is a plain network file or a packed blob. The integer stages (accumulators
with 16-bit wrap-around, the 0..127 clip, layer 1 in 32 bits) are exact; layers
2 and 3 run in 32-bit floats as in the engine, so only the summation order differs.
"""
import argparse
import sys

import numpy as np

import halfkp
import netfile


def accumulators(net, boards):
    """N x 2 x H accumulators (white perspective first), 16-bit wrap-around sums."""
    h = net["h"]
    pad = halfkp.FEATURES
    white, black, _, _ = halfkp.features(boards, net["flip"], pad)
    rows = np.zeros((halfkp.FEATURES + 1, h), dtype=np.int64)
    rows[:halfkp.FEATURES] = net["ft_w"]
    out = np.empty((len(boards), 2, h), dtype=np.int16)
    for p, idx in enumerate((white, black)):
        total = rows[idx].sum(axis=1) + net["ft_b"].astype(np.int64)
        out[:, p] = total.astype(np.int16)  # wraps modulo 2^16 like the engine's lanes
    return out


def forward(net, boards, stm, scale=netfile.NNUE_SCALE):
    boards = np.atleast_2d(np.asarray(boards, dtype=np.uint8))
    stm = np.atleast_1d(np.asarray(stm, dtype=np.int64))
    bad = ~halfkp.check_boards(boards)
    if bad.any():
        raise ValueError(f"position {int(np.argmax(bad))} cannot be evaluated (kings or piece count)")
    acc = accumulators(net, boards)
    n = len(boards)
    us = acc[np.arange(n), stm]
    them = acc[np.arange(n), 1 - stm]
    x = np.clip(np.concatenate([us, them], axis=1), 0, 127).astype(np.int64)
    l1 = (x @ net["w1"].astype(np.int64).T + net["b1"].astype(np.int64)).astype(np.int32)  # 32-bit wrap
    f32 = np.float32
    y1 = np.minimum(f32(127), np.maximum(f32(0), l1.astype(f32)) * f32(0.015625))
    w2 = net["w2"].astype(f32)
    y2 = np.minimum(f32(127), np.maximum(f32(0), (y1 @ w2.T) + net["b2"].astype(f32)) * f32(0.015625))
    out = (y2 @ net["w3"].astype(f32)) + f32(net["b3"])
    value = np.trunc(out.astype(f32) * f32(0.0625)).astype(np.int64)
    scaled = np.clip(np.trunc((value * scale).astype(np.float64) * 0.01), -25000, 25000).astype(np.int64)
    return {"x": x.astype(np.uint8), "l1": l1, "out": out, "value": value, "nnue": scaled}


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--dump", action="store_true", help="print transformer bytes, layer-1 sums and the raw output")
    ap.add_argument("--scale", type=int, default=netfile.NNUE_SCALE, help="NNUE_Scale percent (default 65)")
    ap.add_argument("net")
    ap.add_argument("fens", nargs="*")
    args = ap.parse_args(argv)
    net = netfile.load(args.net)
    fens = args.fens or [line.strip() for line in sys.stdin if line.strip()]
    boards, stm = zip(*(halfkp.parse_fen(f) for f in fens)) if fens else ((), ())
    if not fens:
        return 0
    r = forward(net, np.array(boards), np.array(stm), args.scale)
    for i in range(len(fens)):
        if args.dump:
            print("x", " ".join(map(str, r["x"][i])))
            print("l1", " ".join(map(str, r["l1"][i])))
            print("out", repr(float(r["out"][i])))
        print(int(r["nnue"][i]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
