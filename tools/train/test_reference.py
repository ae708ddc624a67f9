#!/usr/bin/python3
"""Checks that the engine evaluates exported networks exactly as nnue_ref.py does.

For every network (two generated ones with fixed seeds, one per square transform,
plus every committed nets/*.nnue) and every position: the transformer bytes and the
layer-1 sums of quorix_nnue_probe equal the reference's, the raw outputs agree to
float rounding, and the engine's "nnue" command answers the reference's value
within one unit.

    test_reference.py --engine QUORIX --probe PROBE --fens EPD [--net FILE ...]
"""
import argparse
import glob
import os
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import halfkp  # noqa: E402
import netfile  # noqa: E402
import nnue_ref  # noqa: E402


def random_network(h, l, seed):
    """A float network whose quantised values reach every clip boundary: transformer
    sums below 0 and above 127, layer-1 and layer-2 values on both sides of the clip,
    and a few weights at the ends of their types."""
    rng = np.random.default_rng(seed)
    ft_w = rng.normal(0.0, 0.12, (halfkp.FEATURES, h))
    ft_w[rng.integers(0, halfkp.FEATURES, 200), rng.integers(0, h, 200)] = 3.0   # big rows
    w1 = rng.uniform(-0.06, 0.06, (l, 2 * h))
    w1[rng.integers(0, l, 40), rng.integers(0, 2 * h, 40)] = rng.choice([-netfile.W1_MAX, netfile.W1_MAX], 40)
    w2 = rng.uniform(-0.6, 0.6, (l, l))
    w2[0, 0], w2[-1, -1] = netfile.W2_MAX, -netfile.W2_MAX
    w3 = rng.uniform(-1.0, 1.0, l)
    return netfile.quantise(ft_w=ft_w, ft_b=rng.uniform(0.0, 0.6, h), w1=w1, b1=rng.uniform(-0.3, 0.5, l),
                            w2=w2, b2=rng.uniform(-0.3, 0.5, l), w3=w3, b3=rng.uniform(-0.2, 0.2))


def read_fens(path):
    fens = []
    for line in open(path):
        fen = line.split(";")[0].strip()
        if fen and not fen.startswith("#"):
            fens.append(fen)
    return fens


def probe(probe_bin, path, fens):
    """Per position: (x bytes, layer-1 sums, raw output, nnue value) from the engine's code."""
    out = subprocess.run([probe_bin, path], input="\n".join(fens) + "\n", capture_output=True, text=True,
                         timeout=600)
    if out.returncode != 0:
        raise RuntimeError(f"probe failed ({out.returncode}): {out.stderr}")
    lines = [ln for ln in out.stdout.splitlines() if ln.startswith(("x ", "l1 ", "out ")) or ln.lstrip("-").isdigit()]
    blocks = [lines[i:i + 4] for i in range(0, len(lines), 4)]
    if len(blocks) != len(fens):
        raise RuntimeError(f"probe answered {len(blocks)} positions of {len(fens)}")
    return [(np.array(b[0].split()[1:], dtype=np.int64), np.array(b[1].split()[1:], dtype=np.int64),
             float(b[2].split()[1]), int(b[3])) for b in blocks]


def engine_values(engine, path, fens):
    """The "nnue" command's answers with WeightsFile set to path."""
    cmds = [f"setoption name WeightsFile value {path}"]
    for fen in fens:
        cmds += [f"position fen {fen}", "nnue"]
    cmds.append("quit")
    out = subprocess.run([engine], input="\n".join(cmds) + "\n", capture_output=True, text=True, timeout=600)
    if f"info string {path} is loaded" not in out.stdout:
        raise RuntimeError(f"engine did not load {path}: {out.stdout[-500:]} {out.stderr[-500:]}")
    values = [int(ln) for ln in out.stdout.splitlines() if ln.strip().lstrip("-").isdigit()]
    if len(values) != len(fens):
        raise RuntimeError(f"engine answered {len(values)} nnue commands of {len(fens)}")
    return values


def check(engine, probe_bin, path, fens):
    net = netfile.load(path)
    boards, stm = zip(*(halfkp.parse_fen(f) for f in fens))
    ref = nnue_ref.forward(net, np.array(boards), np.array(stm))
    got = probe(probe_bin, path, fens)
    values = engine_values(engine, path, fens)
    failures = []
    clipped = [0, 0]
    for i, fen in enumerate(fens):
        x, l1, out, val = got[i]
        clipped[0] += int((ref["x"][i] == 0).sum())
        clipped[1] += int((ref["x"][i] == 127).sum())
        if not np.array_equal(x, ref["x"][i]):
            failures.append(f"{fen}: transformer bytes differ at {np.flatnonzero(x != ref['x'][i])[:8]}")
        elif not np.array_equal(l1, ref["l1"][i]):
            failures.append(f"{fen}: layer-1 sums differ: engine {l1[:6]} reference {ref['l1'][i][:6]}")
        elif abs(out - float(ref["out"][i])) > 1e-3 * max(1.0, abs(out)):
            failures.append(f"{fen}: output {out} vs reference {float(ref['out'][i])}")
        if abs(val - int(ref["nnue"][i])) > 1 or abs(values[i] - int(ref["nnue"][i])) > 1:
            failures.append(f"{fen}: nnue value probe {val} engine {values[i]} reference {int(ref['nnue'][i])}")
    spread = np.ptp(ref["nnue"])
    print(f"{os.path.basename(path)} ({net['h']}x{net['l']}): {len(fens)} positions, "
          f"{len(failures)} mismatches; bytes at 0: {clipped[0]}, at 127: {clipped[1]}; value spread {spread}")
    for f in failures[:10]:
        print("  " + f)
    return not failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--engine", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--fens", required=True, nargs="+")
    ap.add_argument("--net", nargs="*", default=None, help="networks to check (default: generated + nets/*.nnue)")
    args = ap.parse_args()
    fens = [f for p in args.fens for f in read_fens(p)]
    ok = True
    with tempfile.TemporaryDirectory() as tmp:
        nets = args.net
        if nets is None:
            nets = sorted(glob.glob(os.path.join(HERE, "..", "..", "nets", "*.nnue")))
            for h, l, seed in ((64, 32, 7), (256, 24, 11)):
                path = os.path.join(tmp, f"random-{h}x{l}.nnue")
                with open(path, "wb") as f:
                    f.write(netfile.to_bytes(random_network(h, l, seed)))
                nets.append(path)
        for path in nets:
            ok &= check(args.engine, args.probe, path, fens)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
