#!/usr/bin/python3
"""Trains a HalfKP network on position records and exports it for the engine.

    train.py train --data DIR_OR_FILES... --out RUN_DIR [options]
    train.py export CHECKPOINT OUT_DIR        (also done at the end of train)

Model: 41024 -> H x 2 -> L -> L -> 1 with the engine's clipped activations,
plus a king-independent piece-square set (641 rows) per perspective that is
added to every king's rows at export. See README.md for the recipe.
"""
import argparse
import glob
import json
import math
import os
import sys
import time

import numpy as np
import torch
import torch.nn as nn

import halfkp
import netfile
import nnue_ref

FACTOR_BASE = halfkp.FEATURES                 # rows 41024 .. 41664: piece codes 0..640
ROWS = halfkp.FEATURES + halfkp.CODES
OFFSET_BASE = ROWS                             # king-offset factor rows follow (--king-offsets)
OFFSETS = 10 * 15 * 15                         # piece kind x rank offset x file offset from the king
PAD = -1                                      # fill value of unused feature slots


def fake_quant(w, steps):
    return w + (torch.round(w * steps) / steps - w).detach()


class Model(nn.Module):
    def __init__(self, h=256, l=24, factorise=True, offsets=False):
        super().__init__()
        self.h, self.l, self.factorise, self.offsets = h, l, factorise, offsets
        self.flip = netfile.SUPPORTED[(h, l)]
        self.ft = nn.EmbeddingBag(ROWS + (OFFSETS if offsets else 0), h, mode="sum")
        self.ft_b = nn.Parameter(torch.full((h,), 0.25))
        self.l1 = nn.Linear(2 * h, l)
        self.l2 = nn.Linear(l, l)
        self.out = nn.Linear(l, 1)
        with torch.no_grad():
            self.ft.weight.normal_(0.0, 0.04)
            self.ft.weight[FACTOR_BASE:] = 0.0
            # Wide enough that the stored 1/64 steps are small against the weights.
            self.l1.weight.uniform_(-0.15, 0.15)
            self.l2.weight.uniform_(-0.5, 0.5)
            self.out.weight.uniform_(-0.3, 0.3)
            self.out.bias.zero_()

    def forward(self, white, black, stm):
        """white, black: (indices, offsets) of each position's active rows."""
        aw = self.ft(*white) + self.ft_b
        ab = self.ft(*black) + self.ft_b
        black_to_move = stm.bool().unsqueeze(1)
        us = torch.where(black_to_move, ab, aw)
        them = torch.where(black_to_move, aw, ab)
        x = torch.clamp(torch.cat([us, them], dim=1), 0.0, 1.0)
        # The small layers see their weights rounded to the stored steps (1/64 and
        # 1/127); the gradient passes the rounding unchanged.
        a1 = torch.clamp(nn.functional.linear(x, fake_quant(self.l1.weight, 64.0), self.l1.bias), 0.0, 1.0)
        a2 = torch.clamp(nn.functional.linear(a1, fake_quant(self.l2.weight, 64.0), self.l2.bias), 0.0, 1.0)
        out = nn.functional.linear(a2, fake_quant(self.out.weight, 127.0), self.out.bias)
        return out.squeeze(1) * netfile.OUT_CP

    @torch.no_grad()
    def clip_weights(self, transformer=False):
        """Keeps the weights inside what the stored integer types hold."""
        self.l1.weight.clamp_(-netfile.W1_MAX, netfile.W1_MAX)
        self.l2.weight.clamp_(-netfile.W2_MAX, netfile.W2_MAX)
        self.out.weight.clamp_(-netfile.W3_MAX, netfile.W3_MAX)
        if transformer:
            # Accumulators are 16-bit in the engine (127 per unit): keep rows far inside.
            # Costs a pass over every row, so it runs once per epoch; the bound never
            # comes near binding in practice.
            self.ft.weight.clamp_(-8.0, 8.0)

    @torch.no_grad()
    def float_weights(self):
        """Float weights of the exported network, with the factor set folded in."""
        w = self.ft.weight.detach().double().numpy()
        ft_w = w[:halfkp.FEATURES].reshape(64, halfkp.CODES, self.h).copy()
        if self.factorise:
            ft_w += w[FACTOR_BASE:FACTOR_BASE + halfkp.CODES][None, :, :]
        if self.offsets:
            k = np.arange(64)[:, None]
            code = np.arange(1, halfkp.CODES)[None, :]
            rows = OFFSET_BASE + offset_rows(k, code)
            ft_w[:, 1:, :] += w[rows]
        return dict(
            ft_w=ft_w.reshape(halfkp.FEATURES, self.h), ft_b=self.ft_b.detach().double().numpy(),
            w1=self.l1.weight.detach().double().numpy(), b1=self.l1.bias.detach().double().numpy(),
            w2=self.l2.weight.detach().double().numpy(), b2=self.l2.bias.detach().double().numpy(),
            w3=self.out.weight.detach().double().numpy()[0], b3=float(self.out.bias.detach()[0]))


# ---------------------------------------------------------------- data

def record_files(specs):
    files = []
    for s in specs:
        files += sorted(glob.glob(os.path.join(s, "*.qpos"))) if os.path.isdir(s) else [s]
    if not files:
        raise SystemExit("no record files found")
    return files


def load_records(files, args):
    """Kept records of all files, with each one's game number (unique across files)."""
    recs, games = [], []
    next_game = 0
    total = 0
    for f in files:
        r = np.asarray(halfkp.read_records(f))
        total += len(r)
        g = halfkp.game_ids(r) + next_game
        next_game = int(g[-1]) + 1 if len(g) else next_game
        keep = (r["flags"] & (halfkp.FLAG_CHECK | halfkp.FLAG_MATE)) == 0
        if not args.keep_tactical:
            keep &= (r["flags"] & (halfkp.FLAG_CAPTURE | halfkp.FLAG_PROMO)) == 0
        keep &= np.abs(r["score"].astype(np.int32)) <= args.max_score
        keep &= r["ply"] >= args.min_ply
        keep &= r["result"] <= 2
        keep &= halfkp.check_boards(r["board"])
        recs.append(r[keep])
        games.append(g[keep])
    recs = np.concatenate(recs)
    games = np.concatenate(games)
    print(f"records: {total} read, {len(recs)} kept, {next_game} games", flush=True)
    return recs, games


def _bags(idx):
    """Flattened active indices of N rows and the offset of each row's run."""
    mask = idx != PAD
    counts = mask.sum(axis=1)
    offsets = np.zeros(len(idx), dtype=np.int64)
    np.cumsum(counts[:-1], out=offsets[1:])
    return torch.from_numpy(idx[mask]), torch.from_numpy(offsets)


def mirror_files(boards, rows):
    """Boards with the given rows reflected left to right (file a <-> h): the same game
    value, since the features know nothing of castling rights."""
    out = boards.copy()
    out[rows] = boards[rows].reshape(-1, 8, 8)[:, :, ::-1].reshape(-1, 64)
    return out


def offset_rows(k, code):
    """King-offset factor row (0 .. OFFSETS-1) of a piece code seen from a king square."""
    kind, sq = (code - 1) // 64, (code - 1) % 64
    return kind * 225 + ((sq >> 3) - (k >> 3) + 7) * 15 + ((sq & 7) - (k & 7) + 7)


def batch_tensors(recs, flip, factorise=True, boards=None, offsets=False):
    if boards is None:
        boards = recs["board"]
    white, black, cw, cb = halfkp.features(boards, flip, PAD)
    extra_w, extra_b = [], []
    if factorise:
        # King-relative rows plus the factor rows (code c -> FACTOR_BASE + c).
        extra_w.append(np.where(cw == PAD, PAD, FACTOR_BASE + cw))
        extra_b.append(np.where(cb == PAD, PAD, FACTOR_BASE + cb))
    if offsets:
        # Rows shared by every king square: the piece kind and its offset from the king.
        for idx, extra in ((white, extra_w), (black, extra_b)):
            k, code = idx // halfkp.CODES, idx % halfkp.CODES
            extra.append(np.where(idx == PAD, PAD, OFFSET_BASE + offset_rows(k, code)))
    if extra_w:
        white = np.concatenate([white] + extra_w, axis=1)
        black = np.concatenate([black] + extra_b, axis=1)
    stm = recs["stm"].astype(np.int64)
    score = recs["score"].astype(np.float32)
    result = recs["result"].astype(np.float32) / 2.0
    result = np.where(stm == 1, 1.0 - result, result).astype(np.float32)   # side to move's view
    return (_bags(white), _bags(black), torch.from_numpy(stm),
            torch.from_numpy(score), torch.from_numpy(result))


def loss_fn(pred_cp, score, result, lam, k):
    target = lam * torch.sigmoid(score / k) + (1.0 - lam) * result
    return torch.mean((torch.sigmoid(pred_cp / k) - target) ** 2)


@torch.no_grad()
def evaluate(model, recs, args, limit=200000):
    model.eval()
    recs = recs[:limit]
    total, n = 0.0, 0
    for i in range(0, len(recs), 16384):
        w, b, s, sc, r = batch_tensors(recs[i:i + 16384], model.flip, model.factorise, offsets=model.offsets)
        total += float(loss_fn(model(w, b, s), sc, r, args.lam, args.k)) * len(sc)
        n += len(sc)
    model.train()
    return total / max(n, 1)


# ---------------------------------------------------------------- export

def export(model, out_dir, sample=None):
    """Writes the quantised network (content-named) and its packed blob; returns the path."""
    q = netfile.quantise(**model.float_weights())
    plain = netfile.to_bytes(q)
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, netfile.content_name(plain))
    with open(path, "wb") as f:
        f.write(plain)
    if sample is not None and len(sample):
        # How far the quantised network is from the float one on real positions.
        w, b, s, _, _ = batch_tensors(sample, model.flip, model.factorise, offsets=model.offsets)
        with torch.no_grad():
            fl = model.eval()(w, b, s).numpy()
        model.train()
        qv = nnue_ref.forward(q, sample["board"], sample["stm"])["nnue"]
        d = np.abs(qv - fl)
        print(f"export: float vs quantised cp: mean |diff| {d.mean():.2f}, max {d.max():.1f}; "
              f"mean |eval| {np.abs(fl).mean():.1f}", flush=True)
    print(f"export: {path} ({len(plain)} bytes)", flush=True)
    return path


# ---------------------------------------------------------------- main

def train(args):
    torch.manual_seed(args.seed)
    torch.set_num_threads(args.threads)
    recs, games = load_records(record_files(args.data), args)
    val_mask = halfkp.split_by_game(games, args.val_fraction, args.seed)
    val, tr = recs[val_mask], recs[~val_mask]
    if args.max_positions and len(tr) > args.max_positions:
        tr = tr[:args.max_positions]
    print(f"training {len(tr)} positions, validation {len(val)} ({np.unique(games[val_mask]).size} games)",
          flush=True)
    if len(tr) == 0:
        raise SystemExit("no training positions left after filtering")
    model = Model(args.hidden, args.layer, not args.no_factoriser, args.king_offsets)
    if args.init:
        ck = torch.load(args.init)
        model.load_state_dict(ck["model"])
        print(f"starting from {args.init}", flush=True)
    opt = torch.optim.Adam(model.parameters(), lr=args.lr)
    sched = torch.optim.lr_scheduler.StepLR(opt, step_size=max(1, args.lr_step), gamma=args.lr_gamma)
    os.makedirs(args.out, exist_ok=True)
    rng = np.random.default_rng(args.seed)
    history = []
    best = math.inf
    start = time.time()
    for epoch in range(1, args.epochs + 1):
        t0 = time.time()
        perm = rng.permutation(len(tr))
        run_loss, seen = 0.0, 0
        for i in range(0, len(perm), args.batch):
            idx = np.sort(perm[i:i + args.batch])
            part = tr[idx]
            boards = mirror_files(part["board"], rng.random(len(idx)) < 0.5) if args.mirror else None
            w, b, s, sc, r = batch_tensors(part, model.flip, model.factorise, boards, model.offsets)
            loss = loss_fn(model(w, b, s), sc, r, args.lam, args.k)
            opt.zero_grad(set_to_none=True)
            loss.backward()
            opt.step()
            if args.ft_decay:
                # Decoupled decay of the king-relative rows only: a row seen in few positions
                # shrinks towards the shared factor rows instead of fitting their noise.
                with torch.no_grad():
                    model.ft.weight[:halfkp.FEATURES].mul_(1.0 - opt.param_groups[0]["lr"] * args.ft_decay)
            model.clip_weights()
            run_loss += float(loss) * len(idx)
            seen += len(idx)
            if args.time_limit and time.time() - start > args.time_limit * 60:
                break
        model.clip_weights(transformer=True)
        sched.step()
        dt = time.time() - t0
        vl = evaluate(model, val, args) if len(val) else float("nan")
        history.append({"epoch": epoch, "train_loss": run_loss / max(seen, 1), "val_loss": vl,
                        "positions": seen, "seconds": dt, "pos_per_s": seen / dt})
        print(f"epoch {epoch}: train {run_loss / max(seen, 1):.6f} val {vl:.6f} "
              f"{seen / dt:.0f} pos/s {dt:.0f}s lr {opt.param_groups[0]['lr']:.2e}", flush=True)
        torch.save({"args": vars(args), "model": model.state_dict()}, os.path.join(args.out, "last.pt"))
        if vl < best:
            best = vl
            torch.save({"args": vars(args), "model": model.state_dict()}, os.path.join(args.out, "best.pt"))
        if args.time_limit and time.time() - start > args.time_limit * 60:
            print("time limit reached", flush=True)
            break
    ck = torch.load(os.path.join(args.out, "best.pt" if len(val) else "last.pt"))
    model.load_state_dict(ck["model"])
    path = export(model, args.out, val[:4096] if len(val) else tr[:4096])
    with open(os.path.join(args.out, "summary.json"), "w") as f:
        json.dump({"args": vars(args), "history": history, "best_val_loss": best, "network": path,
                   "train_positions": int(len(tr)), "val_positions": int(len(val)),
                   "minutes": (time.time() - start) / 60}, f, indent=1)


def export_cmd(args):
    ck = torch.load(args.checkpoint)
    a = ck["args"]
    model = Model(a["hidden"], a["layer"], not a["no_factoriser"], a.get("king_offsets", False))
    model.load_state_dict(ck["model"])
    export(model, args.out_dir)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    t = sub.add_parser("train")
    t.add_argument("--data", nargs="+", required=True, help=".qpos files or folders of them")
    t.add_argument("--out", required=True, help="run folder (checkpoints, summary, exported network)")
    t.add_argument("--hidden", type=int, default=256)
    t.add_argument("--layer", type=int, default=24)
    t.add_argument("--no-factoriser", action="store_true")
    t.add_argument("--ft-decay", type=float, default=0.0,
                   help="decoupled weight decay of the king-relative transformer rows (per unit learning rate)")
    t.add_argument("--king-offsets", action="store_true",
                   help="a second factor set: piece kind and its offset from the king, shared by all king squares")
    t.add_argument("--init", help="checkpoint to continue from (same sizes)")
    t.add_argument("--epochs", type=int, default=20)
    t.add_argument("--batch", type=int, default=8192)
    t.add_argument("--lr", type=float, default=1e-3)
    t.add_argument("--lr-step", type=int, default=8, help="epochs between learning-rate drops")
    t.add_argument("--lr-gamma", type=float, default=0.3)
    t.add_argument("--lam", type=float, default=0.75, help="weight of the search score against the result")
    t.add_argument("--k", type=float, default=160.0, help="centipawns per unit of the win-probability sigmoid")
    t.add_argument("--max-score", type=int, default=3000)
    t.add_argument("--min-ply", type=int, default=0)
    t.add_argument("--keep-tactical", action="store_true", help="keep positions whose move was a capture/promotion")
    t.add_argument("--mirror", action="store_true", help="reflect a random half of each batch left to right")
    t.add_argument("--val-fraction", type=float, default=0.05)
    t.add_argument("--max-positions", type=int, default=0)
    t.add_argument("--time-limit", type=float, default=0, help="minutes")
    t.add_argument("--threads", type=int, default=2)
    t.add_argument("--seed", type=int, default=1)
    e = sub.add_parser("export")
    e.add_argument("checkpoint")
    e.add_argument("out_dir")
    args = ap.parse_args(argv)
    return train(args) if args.cmd == "train" else export_cmd(args)


if __name__ == "__main__":
    sys.exit(main())
