"""Position records and HalfKP feature indices, with numpy only.

The indices match the engine's network input exactly: for perspective p the
index of a non-king piece is 641 * k_p + code, where code is the piece's
feature code seen from p and k_p the square of p's own king after p's square
transform (identity for White; for Black sq ^ 56 when the network's flip flag
is set, sq ^ 63 when it is clear).
"""
import numpy as np

FEATURES = 41024          # 64 king squares x 641 codes
CODES = 641               # codes 1..640 for pieces, 0 unused

# Feature code bases by piece code (colour * 8 + type) for each perspective.
BASE_W = np.array([0, 1, 129, 257, 385, 513, 641, 0, 0, 65, 193, 321, 449, 577, 705, 0], dtype=np.int64)
BASE_B = np.array([0, 65, 193, 321, 449, 577, 705, 0, 0, 1, 129, 257, 385, 513, 641, 0], dtype=np.int64)

MAX_PIECES = 30           # non-king pieces a legal position can hold

# One 72-byte training record (little-endian); see README.md.
RECORD = np.dtype([
    ("board", "u1", (64,)),   # piece code per square, a1 = 0
    ("stm", "u1"),            # side to move, 0 white / 1 black
    ("flags", "u1"),          # bit0 in check, bit1 capture, bit2 promotion, bit3 mate-range score
    ("score", "<i2"),         # search score, side to move, centipawns
    ("result", "u1"),         # White's view: 0 loss, 1 draw, 2 win
    ("fifty", "u1"),
    ("ply", "<u2"),
])
assert RECORD.itemsize == 72

FLAG_CHECK, FLAG_CAPTURE, FLAG_PROMO, FLAG_MATE = 1, 2, 4, 8


def read_records(path, mmap=True):
    """Records of a file. A trailing partial record is an error, not silently dropped."""
    size = np.memmap(path, dtype=np.uint8, mode="r").size if mmap else len(open(path, "rb").read())
    if size % RECORD.itemsize:
        raise ValueError(f"{path}: {size} bytes is not a whole number of {RECORD.itemsize}-byte records")
    if size == 0:
        return np.zeros(0, dtype=RECORD)
    return np.memmap(path, dtype=RECORD, mode="r") if mmap else np.fromfile(path, dtype=RECORD)


def game_ids(rec):
    """Numbers the games of a record sequence: a new game starts wherever the ply
    does not follow the previous record's ply by one."""
    ply = rec["ply"].astype(np.int64)
    new = np.ones(len(ply), dtype=bool)
    if len(ply) > 1:
        new[1:] = ply[1:] != ply[:-1] + 1
    return np.cumsum(new) - 1


def split_by_game(games, fraction, seed):
    """Validation mask: whole games, chosen by a hash of the game number."""
    h = (games.astype(np.uint64) * np.uint64(0x9E3779B97F4A7C15) + np.uint64(seed)) >> np.uint64(40)
    return (h % np.uint64(1000)) < np.uint64(int(fraction * 1000))


def _transform(sq, flip):
    return sq ^ (56 if flip else 63)


def features(boards, flip, pad):
    """Feature indices of a batch of boards (N x 64 piece codes).

    Returns (white, black, code_w, code_b), each N x 30 int64: the king-relative
    indices of both perspectives and the plain piece codes (for the
    king-independent factor set). Unused slots hold `pad`.
    """
    boards = np.asarray(boards, dtype=np.uint8)
    n = boards.shape[0]
    kind = boards & 7
    piece = (boards != 0) & (kind != 6)
    # Squares of the non-king pieces first, in square order.
    order = np.argsort(~piece, axis=1, kind="stable")[:, :MAX_PIECES]
    rows = np.arange(n)[:, None]
    valid = piece[rows, order]
    pc = boards[rows, order].astype(np.int64)
    sq = order.astype(np.int64)
    code_w = BASE_W[pc] + sq
    code_b = BASE_B[pc] + _transform(sq, flip)
    kw = np.argmax(boards == 6, axis=1).astype(np.int64)
    kb = _transform(np.argmax(boards == 14, axis=1).astype(np.int64), flip)
    white = np.where(valid, CODES * kw[:, None] + code_w, pad)
    black = np.where(valid, CODES * kb[:, None] + code_b, pad)
    code_w = np.where(valid, code_w, pad)
    code_b = np.where(valid, code_b, pad)
    return white, black, code_w, code_b


def check_boards(boards):
    """Rows that the network can evaluate: one king of each colour, at most 30
    other pieces, only known piece codes."""
    boards = np.asarray(boards, dtype=np.uint8)
    known = np.isin(boards, [0, 1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14]).all(axis=1)
    kings = ((boards == 6).sum(axis=1) == 1) & ((boards == 14).sum(axis=1) == 1)
    others = ((boards != 0) & ((boards & 7) != 6)).sum(axis=1) <= MAX_PIECES
    return known & kings & others


_FEN_PIECES = {c: i for i, c in enumerate(" PNBRQK  pnbrqk") if c != " "}


def parse_fen(fen):
    """Board (64 piece codes) and side to move of a FEN text; raises ValueError."""
    fields = fen.split()
    if len(fields) < 2:
        raise ValueError(f"FEN needs a board and a side to move: {fen!r}")
    board = np.zeros(64, dtype=np.uint8)
    ranks = fields[0].split("/")
    if len(ranks) != 8:
        raise ValueError(f"FEN board needs 8 ranks: {fen!r}")
    for r, text in enumerate(ranks):
        file = 0
        for ch in text:
            if ch.isdigit():
                file += int(ch)
            elif ch in _FEN_PIECES:
                if file > 7:
                    raise ValueError(f"FEN rank too long: {fen!r}")
                board[(7 - r) * 8 + file] = _FEN_PIECES[ch]
                file += 1
            else:
                raise ValueError(f"bad FEN character {ch!r}: {fen!r}")
        if file != 8:
            raise ValueError(f"FEN rank of wrong length: {fen!r}")
    if fields[1] not in ("w", "b"):
        raise ValueError(f"bad side to move: {fen!r}")
    return board, 0 if fields[1] == "w" else 1
