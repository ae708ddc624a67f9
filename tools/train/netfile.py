"""Network files as the engine reads them, with numpy only: the plain stream,
the packed (zlib) blob that is linked into the program, and the quantisation
from float weights to the stored integers.

Float convention of the trainer (all activations clipped to 0..1):
    a0 = clip(ft_b + sum of ft_w rows, 0, 1)               stored x 127 as i16
    a1 = clip(w1 . a0 + b1, 0, 1)     w1 stored x 64 (i8),  b1 x 64*127 (i32)
    a2 = clip(w2 . a1 + b2, 0, 1)     w2 stored x 64 (i8),  b2 x 64*127 (i32)
    cp = OUT_CP * (w3 . a2 + b3)      w3 stored x 127 (i8), b3 x 127*127 (i32)
The engine computes o = W3 . (127 a2) + B3, returns trunc(o / 16), and the
evaluation scales that by NNUE_Scale percent, so OUT_CP = 127*127/16 * 0.65.
"""
import hashlib
import struct
import zlib

import numpy as np

from halfkp import FEATURES

NET_VERSION = 0x7AF32F16
NET_HASH = 0x3E5AA78C
FT_HASH = 0x5D69D7B8
STACK_HASH = 0x63337156
NNUE_SCALE = 65
OUT_CP = 127.0 * 127.0 / 16.0 * NNUE_SCALE / 100.0

# (H, L) -> flip flag of the black perspective's square transform.
SUPPORTED = {(256, 32): True, (256, 24): True, (64, 32): False, (64, 24): False, (64, 16): True}

# Ranges of the stored types, in float units (what training clips to).
W1_MAX = 127.0 / 64.0
W2_MAX = 127.0 / 64.0
W3_MAX = 1.0


def description(h, l):
    return (f"Features=HalfKP(Friend)[41024->{h}x2],Network=AffineTransform[1<-{l}](ClippedReLU[{l}]"
            f"(AffineTransform[{l}<-{l}](ClippedReLU[{l}](AffineTransform[{l}<-{2 * h}]"
            f"(InputSlice[{2 * h}(0:{2 * h})])))))")


def stream_size(h, l, desc_len):
    return 12 + desc_len + 4 + 2 * h + 82048 * h + 4 + 4 * l + 2 * h * l + 4 * l + 32 * l + 36


class NetFormatError(ValueError):
    pass


def _round_clip(x, lo, hi, dtype):
    return np.clip(np.rint(np.asarray(x, dtype=np.float64)), lo, hi).astype(dtype)


def quantise(ft_w, ft_b, w1, b1, w2, b2, w3, b3):
    """Integer arrays of a float network (shapes: ft_w 41024 x H, ft_b H, w1 L x 2H,
    b1 L, w2 L x L, b2 L, w3 L, b3 scalar)."""
    h = ft_b.shape[0]
    l = b1.shape[0]
    if (h, l) not in SUPPORTED:
        raise NetFormatError(f"unsupported network size {h}x{l}")
    return {
        "h": h, "l": l, "flip": SUPPORTED[(h, l)],
        "ft_w": _round_clip(np.asarray(ft_w) * 127, -32768, 32767, np.int16).reshape(FEATURES, h),
        "ft_b": _round_clip(np.asarray(ft_b) * 127, -32768, 32767, np.int16),
        "w1": _round_clip(np.asarray(w1) * 64, -127, 127, np.int8).reshape(l, 2 * h),
        "b1": _round_clip(np.asarray(b1) * 64 * 127, -2**31, 2**31 - 1, np.int32),
        "w2": _round_clip(np.asarray(w2) * 64, -127, 127, np.int8).reshape(l, l),
        "b2": _round_clip(np.asarray(b2) * 64 * 127, -2**31, 2**31 - 1, np.int32),
        "w3": _round_clip(np.asarray(w3) * 127, -127, 127, np.int8).reshape(l),
        "b3": int(_round_clip(b3 * 127 * 127, -2**31, 2**31 - 1, np.int64)),
    }


def to_bytes(net):
    """Plain network stream of integer arrays (as returned by quantise/read_plain)."""
    h, l = net["h"], net["l"]
    desc = description(h, l).encode("ascii")
    w2 = np.zeros((l, 32), dtype=np.int8)
    w2[:, :l] = net["w2"]
    w3 = np.zeros(32, dtype=np.int8)
    w3[:l] = net["w3"]
    parts = [
        struct.pack("<III", NET_VERSION, NET_HASH, len(desc)), desc,
        struct.pack("<I", FT_HASH),
        np.asarray(net["ft_b"], dtype="<i2").tobytes(), np.asarray(net["ft_w"], dtype="<i2").tobytes(),
        struct.pack("<I", STACK_HASH),
        np.asarray(net["b1"], dtype="<i4").tobytes(), np.asarray(net["w1"], dtype="i1").tobytes(),
        np.asarray(net["b2"], dtype="<i4").tobytes(), w2.tobytes(),
        struct.pack("<i", net["b3"]), w3.tobytes(),
    ]
    out = b"".join(parts)
    assert len(out) == stream_size(h, l, len(desc))
    return out


def _find_size(desc, marker, after, default):
    pos = desc.find(marker)
    if pos < 0:
        return default, False
    if marker == "->" and desc.find("x", pos) < 0:
        return default, False
    digits = ""
    for ch in desc[pos + after:]:
        if not ch.isdigit():
            break
        digits += ch
    if not digits:
        raise NetFormatError(f"no size after {marker!r} in the description")
    return int(digits), True


def read_plain(data):
    """Integer arrays of a plain network stream (bytes); raises NetFormatError."""
    if len(data) < 12:
        raise NetFormatError("file too short for a network header")
    _, _, n = struct.unpack_from("<III", data, 0)
    if 12 + n > len(data):
        raise NetFormatError("description runs past the end of the file")
    desc = data[12:12 + n].decode("ascii", errors="replace")
    h, _ = _find_size(desc, "->", 2, 256)
    l, _ = _find_size(desc, "ReLU", 5, 32)
    if (h, l) not in SUPPORTED:
        raise NetFormatError(f"unsupported network size {h}x{l}")
    if len(data) < stream_size(h, l, n):
        raise NetFormatError(f"file holds {len(data)} bytes, a {h}x{l} network needs {stream_size(h, l, n)}")
    pos = 12 + n + 4

    def take(dtype, count):
        nonlocal pos
        a = np.frombuffer(data, dtype=dtype, count=count, offset=pos)
        pos += a.nbytes
        return a

    net = {"h": h, "l": l, "flip": SUPPORTED[(h, l)]}
    net["ft_b"] = take("<i2", h)
    net["ft_w"] = take("<i2", FEATURES * h).reshape(FEATURES, h)
    pos += 4
    net["b1"] = take("<i4", l)
    net["w1"] = take("i1", l * 2 * h).reshape(l, 2 * h)
    net["b2"] = take("<i4", l)
    net["w2"] = take("i1", l * 32).reshape(l, 32)[:, :l]
    net["b3"] = int(take("<i4", 1)[0])
    net["w3"] = take("i1", 32)[:l]
    return net


def pack(plain, level=9):
    """Packed blob: u32 plain size, u32 zlib length, zlib data."""
    z = zlib.compress(plain, level)
    return struct.pack("<II", len(plain), len(z)) + z


def unpack(blob):
    if len(blob) < 8:
        raise NetFormatError("packed blob too short")
    u, z = struct.unpack_from("<II", blob, 0)
    if 8 + z > len(blob):
        raise NetFormatError("packed blob shorter than its declared data")
    plain = zlib.decompress(blob[8:8 + z])
    if len(plain) != u:
        raise NetFormatError(f"packed blob inflates to {len(plain)} bytes, declares {u}")
    return plain


def load(path):
    """Integer arrays of a plain network file or a packed blob."""
    data = open(path, "rb").read()
    if len(data) >= 10 and data[8] == 0x78 and struct.unpack_from("<I", data, 4)[0] + 8 <= len(data) \
            and struct.unpack_from("<I", data, 0)[0] > len(data):
        data = unpack(data)
    return read_plain(data)


def content_name(plain):
    """File name derived from the network's bytes."""
    return "qx-" + hashlib.sha256(plain).hexdigest()[:12] + ".nnue"
