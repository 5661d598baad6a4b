#!/usr/bin/env python3
"""Writes the hand-made seeds of tests/fuzz/corpus: short call sequences that
reach commit and compute of every kind, in the byte encoding the driver
(fuzz_calls.cpp) reads. Run it again when that encoding changes; the
reproducers of findings live beside these seeds under their own names."""
import os
import struct
import sys

COMPLEX, REAL = 32, 33
NOTABLE = [96, 168, 128, 256, 1000, 1024, 4096, 4099, 16384]


def u16(v):
    return struct.pack(">H", v)


def length(n):
    if n in NOTABLE:
        return bytes([6, NOTABLE.index(n)])
    if n <= 64:
        return bytes([0]) + u16(n - 1)
    return bytes([5]) + u16(n - 1)


def create(slot, n, domain):
    return bytes([0, slot]) + length(n) + bytes([1, 1 if domain == REAL else 0])


def plain(slot, case, *tail):
    return bytes([7, 1, slot, case]) + bytes(tail)


def placement(slot, inplace):
    return plain(slot, 0, 1 if inplace else 0)


def storage(slot, other):  # real: CCE storage; complex: split arrays
    return plain(slot, 1, 1 if other else 0)


def packing(slot, p):
    return plain(slot, 2) + u16(p - 54)


def batch(slot, count, interleaved, pad=0):
    b = plain(slot, 3) + u16(count - 1) + bytes([1 if interleaved else 0])
    return b if interleaved and count > 1 else b + u16(pad)


def threads(slot, limit):
    return plain(slot, 4) + u16(limit)


def commit(slot):
    return bytes([4, slot])


def compute(slot, forward, seed=12345, mode=0):
    return bytes([5 if forward else 6, slot, mode]) + struct.pack(">Q", seed)


def set_param(slot, parameter):
    return bytes([1, slot, 2]) + u16(parameter)


def set_scale(slot, forward, which):  # which: 0 one, 4 1/n, 5 1/sqrt(n)
    return set_param(slot, 4 if forward else 5) + bytes([which])


def set_order_permuted(slot):
    return set_param(slot, 18) + bytes([0]) + u16(49 - 30)


def set_strides(slot, out, offset, stride):  # a negative stride gets the offset that keeps it inside
    return set_param(slot, 13 if out else 12) + bytes([1]) + u16(offset) + bytes([1]) + u16(stride + 4) \
        + (bytes([1]) if stride < 0 else b"") + bytes([1])


def set_packing(slot, p):
    return set_param(slot, 21) + bytes([0]) + u16(p - 30)


def get_all(slot):
    return b"".join(bytes([3, slot, 2]) + u16(p) + bytes([1]) for p in range(28))


def both(slot, seed=7):
    return commit(slot) + compute(slot, True, seed) + compute(slot, False, seed + 1)


def seeds():
    s = {}
    for n in (1, 2, 7, 16, 60, 97, 128, 1000, 4099):
        for inplace in (True, False):
            s[f"complex-{n}-{'in' if inplace else 'out'}"] = create(0, n, COMPLEX) + placement(0, inplace) + both(0)
    for n in (7, 97, 256):
        s[f"split-{n}"] = create(1, n, COMPLEX) + storage(1, True) + placement(1, n != 7) + both(1)
    s["complex-batch"] = create(0, 128, COMPLEX) + batch(0, 3, False, 1) + both(0)
    s["complex-interleaved"] = create(0, 30, COMPLEX) + placement(0, False) + batch(0, 4, True) + both(0)
    s["complex-scaled"] = create(0, 1000, COMPLEX) + set_scale(0, False, 4) + set_scale(0, True, 5) + both(0)
    s["complex-permuted"] = create(0, 12, COMPLEX) + set_order_permuted(0) + both(0)
    s["complex-negative-stride"] = (create(0, 24, COMPLEX) + placement(0, False) + set_strides(0, False, 0, -2)
                                    + both(0))
    s["complex-team"] = create(2, 1024, COMPLEX) + threads(2, 2) + batch(2, 5, False) + both(2)
    for n in (1, 2, 15, 16, 97, 1000, 4096):
        for inplace in (True, False):
            s[f"real-cce-{n}-{'in' if inplace else 'out'}"] = (create(0, n, REAL) + storage(0, True)
                                                               + placement(0, inplace) + both(0))
    for p, name in ((54, "half"), (55, "sequential"), (56, "permuted")):
        for n in (20, 21):
            s[f"real-{name}-{n}"] = create(1, n, REAL) + placement(1, n == 20) + packing(1, p) + both(1)
    # CCE packing with real-and-imaginary storage: taken or declined.
    s["real-cce-packing"] = create(1, 20, REAL) + placement(1, False) + set_packing(1, 57) + both(1)
    s["real-batch"] = create(0, 64, REAL) + storage(0, True) + placement(0, False) + batch(0, 3, False, 2) + both(0)
    s["real-team"] = create(0, 4096, REAL) + storage(0, True) + placement(0, False) + threads(0, 2) + both(0)
    # An empty batch: split storage commits it and computes nothing.
    empty = set_param(1, 7) + bytes([1, 0]) + u16(3) + bytes([0])
    s["split-empty-batch"] = create(1, 8, COMPLEX) + storage(1, True) + empty + both(1)
    s["three-slots"] = (create(0, 16, COMPLEX) + create(1, 9, REAL) + create(2, 64, COMPLEX) + both(0) + both(1)
                        + get_all(1) + bytes([7, 0, 1]) + compute(1, True) + both(2))
    s["get-committed"] = create(0, 10, COMPLEX) + commit(0) + get_all(0)
    return s


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds().items():
        with open(os.path.join(folder, "seed-" + name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
