#!/usr/bin/env python3
"""Writes the straight-line DFT kernels of kernels/generated/.

One description drives every kernel: `dft()` below expresses a transform of
any length as butterflies (sums, differences, products by literal constants,
products by +-i) over an abstract complex arithmetic.  Two arithmetics
interpret it:

  VecAlgebra     one complex value per SIMD register (simd::C1 / C2): the
                 interleaved complex kernels and the radix butterflies;
  ScalarAlgebra  pairs of real expressions with sign folding and zero
                 propagation: the split complex kernels, and the real kernels
                 (imaginary inputs known to be zero, or a Hermitian input).

Both build a DAG with common-subexpression elimination; only nodes that reach
an output are emitted.  All loads are emitted before any store, so every
kernel works in place.

Usage:  gen_codelets.py [--out DIR]     (default: kernels/generated/)
        gen_codelets.py --check         regenerate into a temporary folder
                                        and fail if the committed files differ
        gen_codelets.py --selftest      evaluate every description up to
                                        length 64 against a direct DFT
"""

import argparse
import filecmp
import os
import sys
import tempfile
from decimal import Decimal, getcontext
from fractions import Fraction
from math import gcd

# ---------------------------------------------------------------------------
# Constants: cos and sin of 2*pi*f, correctly rounded to double.

getcontext().prec = 60
_PI = Decimal("3.141592653589793238462643383279502884197169399375105820974944592307816")


def _taylor(x, odd):
    term = x if odd else Decimal(1)
    total = term
    k = 1 if odd else 0
    x2 = x * x
    while True:
        term = -term * x2 / ((k + 1) * (k + 2))
        k += 2
        if abs(term) < Decimal("1e-50"):
            return total
        total += term


def cos_sin_turn(f):
    """(cos 2*pi*f, sin 2*pi*f) as doubles, exact where the value is 0 or +-1."""
    f = Fraction(f) % 1
    q = int(f * 4)
    r = f - Fraction(q, 4)
    if r == 0:
        c, s = Decimal(1), Decimal(0)
    else:
        x = 2 * _PI * Decimal(r.numerator) / Decimal(r.denominator)
        c, s = _taylor(x, False), _taylor(x, True)
    for _ in range(q):
        c, s = -s, c
    return float(c) + 0.0, float(s) + 0.0


# The radix-5 and radix-7 constants are the established literals of this
# library's kernels; they lie within one unit in the last place of the
# correctly rounded values, and every kernel built on 5 or 7 uses them.
ESTABLISHED = {
    0.8090169943749475: 0.8090169943749473,
    0.5877852522924731: 0.5877852522924732,
    0.6234898018587335: 0.6234898018587336,
    0.2225209339563144: 0.22252093395631434,
    0.9009688679024191: 0.900968867902419,
    0.4338837391175581: 0.43388373911755823,
}


def constant(f):
    """cos_sin_turn with the established literals for fifths and sevenths."""
    f = Fraction(f)
    c, s = cos_sin_turn(f)
    if (f % 1).denominator in (5, 7):
        c = ESTABLISHED.get(abs(c), abs(c)) * (1 if c >= 0 else -1)
        s = ESTABLISHED.get(abs(s), abs(s)) * (1 if s >= 0 else -1)
    return c, s


def lit(x):
    """A double as a C++ literal that reads back to the same value."""
    t = repr(float(x))
    if "e" not in t and "." not in t and "inf" not in t:
        t += ".0"
    return t


# ---------------------------------------------------------------------------
# Vector arithmetic: one complex per register.


class VecAlgebra:
    def __init__(self):
        self.nodes = []  # (op, args)
        self.index = {}

    def _node(self, op, *args):
        key = (op,) + args
        got = self.index.get(key)
        if got is None:
            got = len(self.nodes)
            self.nodes.append(key)
            self.index[key] = got
        return got

    def input(self, j):
        return self._node("in", j)

    def add(self, a, b):
        return self._node("add", min(a, b), max(a, b))

    def sub(self, a, b):
        return self._node("sub", a, b)

    def scale(self, a, c):
        if c == 1.0:
            return a
        return self._node("scale", a, c)

    def rot(self, a, s, c=1.0):
        """s*i*c*a for s = +-1."""
        return self._node("rot", a, s, c)

    def madd(self, acc, b, c):
        """acc + b*c."""
        if c == 0.0:
            return acc
        if c == 1.0:
            return self.add(acc, b)
        if c == -1.0:
            return self.sub(acc, b)
        return self._node("madd", acc, b, c)

    def twiddle(self, a, wr, wi):
        """a*(wr + i*wi)."""
        if wi == 0.0:
            return self.scale(a, wr)
        if wr == 0.0:
            return self.rot(a, 1 if wi > 0 else -1, abs(wi))
        if abs(wr) == abs(wi):
            return self._node("tw45", a, 1 if wr * wi > 0 else -1, wr)
        return self._node("tw", a, wr, wi)

    def conj(self, a):
        return self._node("conj", a)

    def swap(self, a):
        """(re, im) -> (im, re)."""
        return self._node("swap", a)

    # Two-lane operations (simd::C2 holding two complex values).
    def lane_twiddle(self, a, w0, w1):
        """Lane 0 times w0, lane 1 times w1 (complex constants as pairs)."""
        if w0 == (1.0, 0.0) and w1 == (1.0, 0.0):
            return a
        return self._node("twl", a, w0[0], w0[1], w1[0], w1[1])

    def lows(self, p, q):
        """(low lane of p, low lane of q)."""
        return self._node("lows", p, q)

    def highs(self, p, q):
        return self._node("highs", p, q)

    # Code emission ---------------------------------------------------------

    def live(self, outputs):
        keep = set()
        stack = list(outputs)
        while stack:
            i = stack.pop()
            if i in keep:
                continue
            keep.add(i)
            op = self.nodes[i]
            for a in _vec_refs(op):
                stack.append(a)
        return keep

    def expr(self, i):
        op = self.nodes[i]
        kind = op[0]
        t = lambda k: "t%d" % k
        if kind == "add":
            return "%s + %s" % (t(op[1]), t(op[2]))
        if kind == "sub":
            return "%s - %s" % (t(op[1]), t(op[2]))
        if kind == "scale":
            return "%s * %s" % (t(op[1]), lit(op[2]))
        if kind == "rot":
            a, s, c = op[1], op[2], op[3]
            if c == 1.0:
                return ("simd::mul_i(%s)" if s > 0 else "simd::mul_neg_i(%s)") % t(a)
            # i*c*a = (-c*im, c*re); -i*c*a = (c*im, -c*re)
            return "simd::mul_pair(simd::swap(%s), %s, %s)" % (t(a), lit(-s * c), lit(s * c))
        if kind == "madd":
            return "simd::fmadd(%s, %s, %s)" % (t(op[2]), lit(op[3]), t(op[1]))
        if kind == "tw45":
            a, s, wr = op[1], op[2], op[3]
            rot = "simd::mul_i" if s > 0 else "simd::mul_neg_i"
            return "(%s + %s(%s)) * %s" % (t(a), rot, t(a), lit(wr))
        if kind == "conj":
            return "simd::conj(%s)" % t(op[1])
        if kind == "swap":
            return "simd::swap(%s)" % t(op[1])
        if kind == "twl":
            return "simd::cmul(%s, simd::set2(%s))" % (t(op[1]), ", ".join(lit(v) for v in op[2:]))
        if kind == "lows":
            return "simd::join(simd::low(%s), simd::low(%s))" % (t(op[1]), t(op[2]))
        if kind == "highs":
            return "simd::join(simd::high(%s), simd::high(%s))" % (t(op[1]), t(op[2]))
        if kind == "tw":
            a, wr, wi = op[1], op[2], op[3]
            return "simd::fmadd(%s, %s, simd::mul_pair(simd::swap(%s), %s, %s))" % (
                t(a), lit(wr), t(a), lit(-wi), lit(wi))
        raise ValueError(kind)

    def emit(self, outputs, vtype, load, store, indent="  "):
        """Lines of a straight-line body: load(j) -> expression of input j,
        store(k, expr) -> statement writing output k."""
        lines = []
        for step, i in schedule(self.live(outputs), lambda i: self.nodes[i][0] == "in",
                                lambda i: _vec_refs(self.nodes[i]), outputs):
            if step == "load":
                lines.append("%sconst %s t%d = %s;" % (indent, vtype, i, load(self.nodes[i][1])))
            elif step == "node":
                lines.append("%sconst %s t%d = %s;" % (indent, vtype, i, self.expr(i)))
            else:
                lines.append(indent + store(i, "t%d" % outputs[i]))
        return lines

    def count(self, outputs):
        return sum(1 for i in self.live(outputs) if self.nodes[i][0] != "in")


def schedule(keep, is_input, refs, outputs):
    """Order of a straight-line body: each input is loaded just before its
    first use and each output stored as soon as it is known and every input
    has been loaded (so in place works), which keeps few values live.
    Yields ("load", node), ("node", node) and ("store", output index)."""
    inputs = sorted(i for i in keep if is_input(i))
    done = set()
    pending = list(range(len(outputs)))
    for i in sorted(keep):
        if is_input(i):
            continue
        for a in refs(i):
            if is_input(a) and a not in done:
                done.add(a)
                yield "load", a
        done.add(i)
        yield "node", i
        if all(a in done for a in inputs):
            ready = [k for k in pending if outputs[k] is None or outputs[k] in done]
            for k in ready:
                pending.remove(k)
                yield "store", k
    for a in inputs:
        if a not in done:
            done.add(a)
            yield "load", a
    for k in pending:
        yield "store", k


def _vec_refs(op):
    kind = op[0]
    if kind == "in":
        return ()
    if kind in ("add", "sub", "lows", "highs"):
        return (op[1], op[2])
    if kind == "madd":
        return (op[1], op[2])
    return (op[1],)


# ---------------------------------------------------------------------------
# Scalar arithmetic: a value is None (zero) or (sign, node).  Nodes are
# inputs, sums a+b (a < b), differences a-b (a < b) and products c*a with
# c > 0, so that x and -x share one node and conjugate halves of a real
# transform collapse onto each other.


class ScalarGraph:
    def __init__(self):
        self.nodes = []
        self.index = {}

    def _node(self, *key):
        got = self.index.get(key)
        if got is None:
            got = len(self.nodes)
            self.nodes.append(key)
            self.index[key] = got
        return got

    def input(self, name):
        return (1, self._node("in", name))

    def neg(self, x):
        return None if x is None else (-x[0], x[1])

    def add(self, x, y):
        if x is None:
            return y
        if y is None:
            return x
        (sx, a), (sy, b) = x, y
        if sx == sy:
            if a == b:
                return (sx, self._node("mul", 2.0, a))
            return (sx, self._node("add", min(a, b), max(a, b)))
        # sx*a - sx*b
        if a == b:
            return None
        if a < b:
            return (sx, self._node("sub", a, b))
        return (-sx, self._node("sub", b, a))

    def sub(self, x, y):
        return self.add(x, self.neg(y))

    def mul(self, c, x):
        if x is None or c == 0.0:
            return None
        s = x[0] * (1 if c > 0 else -1)
        c = abs(c)
        if c == 1.0:
            return (s, x[1])
        return (s, self._node("mul", c, x[1]))

    def live(self, outputs):
        keep = set()
        stack = [o[1] for o in outputs if o is not None]
        while stack:
            i = stack.pop()
            if i in keep:
                continue
            keep.add(i)
            op = self.nodes[i]
            if op[0] in ("add", "sub"):
                stack += [op[1], op[2]]
            elif op[0] == "mul":
                stack.append(op[2])
        return keep

    def count(self, outputs):
        return sum(1 for i in self.live(outputs) if self.nodes[i][0] != "in")

    def emit(self, outputs, load, store, indent="  ", vtype="double"):
        """vtype other than double: a vector type with lane-wise +, - and
        * double (independent real transforms in its lanes)."""
        scalar = vtype == "double"
        keep = self.live(outputs)
        lines = []

        def refs(i):
            op = self.nodes[i]
            return op[1:3] if op[0] in ("add", "sub") else op[2:3]

        def out_node(o):
            return None if o is None else o[1]

        for step, i in schedule(keep, lambda i: self.nodes[i][0] == "in", refs,
                                [out_node(o) for o in outputs]):
            if step == "load":
                lines.append("%sconst %s t%d = %s;" % (indent, vtype, i, load(self.nodes[i][1])))
                continue
            if step == "store":
                o = outputs[i]
                if o is None:
                    e = "0.0" if scalar else "t%d * 0.0" % sorted(keep)[0]
                elif o[0] > 0:
                    e = "t%d" % o[1]
                else:
                    e = ("-t%d" if scalar else "t%d * -1.0") % o[1]
                lines.append(indent + store(i, e))
                continue
            op = self.nodes[i]
            if op[0] == "add":
                e = "t%d + t%d" % (op[1], op[2])
            elif op[0] == "sub":
                e = "t%d - t%d" % (op[1], op[2])
            elif op[0] == "mul":
                e = ("%s * t%d" if scalar else "t%d * %s")
                e = e % ((lit(op[1]), op[2]) if scalar else (op[2], lit(op[1])))
            lines.append("%sconst %s t%d = %s;" % (indent, vtype, i, e))
        return lines


class ScalarAlgebra:
    """Complex values as (re, im) pairs over a ScalarGraph."""

    def __init__(self):
        self.g = ScalarGraph()

    def add(self, a, b):
        return (self.g.add(a[0], b[0]), self.g.add(a[1], b[1]))

    def sub(self, a, b):
        return (self.g.sub(a[0], b[0]), self.g.sub(a[1], b[1]))

    def scale(self, a, c):
        return (self.g.mul(c, a[0]), self.g.mul(c, a[1]))

    def rot(self, a, s, c=1.0):
        return (self.g.mul(-s * c, a[1]), self.g.mul(s * c, a[0]))

    def madd(self, acc, b, c):
        return self.add(acc, self.scale(b, c))

    def twiddle(self, a, wr, wi):
        g = self.g
        re = g.sub(g.mul(wr, a[0]), g.mul(wi, a[1]))
        im = g.add(g.mul(wi, a[0]), g.mul(wr, a[1]))
        return (re, im)


# ---------------------------------------------------------------------------
# The transforms.  sign = -1 forward (e^{-2 pi i jk/n}), +1 backward.

# Fixed decompositions of the small lengths: n -> (inner length m, count r):
# r transforms of length m first, then m transforms of length r.
SMALL_SPLITS = {6: (3, 2), 8: (2, 4), 10: (5, 2), 12: (3, 4), 14: (7, 2), 15: (3, 5),
                16: (4, 4)}
SYMMETRIC_DIRECT = (5, 7, 9, 11, 13)

C3 = 0.8660254037844386


def dft(A, x, sign, kind="c"):
    """The DFT of the values x.  kind tells what is known of the data, to pick
    the cheapest split above length 16: "c" complex, "rf" real input, "rb"
    Hermitian input whose real output alone is used."""
    n = len(x)
    if n == 1:
        return [x[0]]
    if n == 2:
        return [A.add(x[0], x[1]), A.sub(x[0], x[1])]
    if n == 3:
        # u = -i*c*d for both directions; the direction picks where it goes.
        s = A.add(x[1], x[2])
        d = A.sub(x[1], x[2])
        m = A.madd(x[0], s, -0.5)
        u = A.rot(d, -1, C3)
        y0 = A.add(x[0], s)
        if sign < 0:
            return [y0, A.add(m, u), A.sub(m, u)]
        return [y0, A.sub(m, u), A.add(m, u)]
    if n == 4:
        t0 = A.add(x[0], x[2])
        t1 = A.sub(x[0], x[2])
        t2 = A.add(x[1], x[3])
        t3 = A.rot(A.sub(x[1], x[3]), sign)
        return [A.add(t0, t2), A.add(t1, t3), A.sub(t0, t2), A.sub(t1, t3)]
    if n in SMALL_SPLITS:
        m, r = SMALL_SPLITS[n]
        return split(A, x, sign, m, r)
    if n in SYMMETRIC_DIRECT or (n > 16 and is_prime(n)):
        return symmetric_direct(A, x, sign)
    m, r = best_split(n, kind)
    return split(A, x, sign, m, r, kind)


def symmetric_direct(A, x, sign):
    """Odd n on symmetric pairs x_j +- x_{n-j}."""
    n = len(x)
    h = (n - 1) // 2
    s = [A.add(x[j], x[n - j]) for j in range(1, h + 1)]
    d = [A.sub(x[j], x[n - j]) for j in range(1, h + 1)]
    y0 = x[0]
    for sj in s:
        y0 = A.add(y0, sj)
    out = [None] * n
    out[0] = y0
    for k in range(1, h + 1):
        a = x[0]
        b = None
        for j in range(1, h + 1):
            c, sn = constant(Fraction(j * k, n))
            a = A.madd(a, s[j - 1], c)
            if sn != 0.0:
                b = A.scale(d[j - 1], sn) if b is None else A.madd(b, d[j - 1], sn)
        b = A.rot(b, sign)
        out[k] = A.add(a, b)
        out[n - k] = A.sub(a, b)
    return out


def split(A, x, sign, m, r, kind="c"):
    n = m * r
    sub = "rf" if kind == "rf" else "c"  # real input stays real in the inner transforms
    if gcd(m, r) == 1:
        # Prime-factor mapping: no twiddles.  Input j = (m*a + r*b) mod n.
        inner = [dft(A, [x[(m * a + r * b) % n] for b in range(m)], sign, sub) for a in range(r)]
        out = [None] * n
        for k2 in range(m):
            z = dft(A, [inner[a][k2] for a in range(r)], sign)
            for k1 in range(r):
                out[crt(k1, r, k2, m)] = z[k1]
        return out
    # Cooley-Tukey, decimation in time: r transforms of x[a::r], twiddles
    # w_n^(a*k1), then m transforms of length r; X[k1 + m*k2].
    inner = [dft(A, x[a::r], sign, sub) for a in range(r)]
    for a in range(1, r):
        for k1 in range(1, m):
            wr, wi = constant(Fraction(sign * a * k1, n))
            inner[a][k1] = A.twiddle(inner[a][k1], wr, wi)
    out = [None] * n
    for k1 in range(m):
        z = dft(A, [inner[a][k1] for a in range(r)], sign)
        for k2 in range(r):
            out[k1 + m * k2] = z[k2]
    return out


def crt(k1, r, k2, m):
    for k in range(r * m):
        if k % r == k1 and k % m == k2:
            return k
    raise ValueError


def is_prime(n):
    return n > 1 and all(n % p for p in range(2, int(n ** 0.5) + 1))


_best = {}


def best_split(n, kind):
    """For lengths above 16: the split with the fewest scalar operations on
    the kind of data at hand."""
    if (n, kind) in _best:
        return _best[(n, kind)]
    best = None
    for m in range(2, n):
        if n % m:
            continue
        r = n // m
        transform = lambda A, x, sign: split(A, x, sign, m, r, kind)
        if kind == "rf":
            g, outs = real_forward_graph(n, transform)
        elif kind == "rb":
            g, outs = real_backward_graph(n, transform)
        else:
            A = ScalarAlgebra()
            x = [(A.g.input(("r", j)), A.g.input(("i", j))) for j in range(n)]
            g, outs = A.g, [v for p in transform(A, x, -1) for v in p]
        cost = g.count(outs)
        if best is None or cost < best[0]:
            best = (cost, m, r)
    _best[(n, kind)] = best[1:]
    return best[1:]


# ---------------------------------------------------------------------------
# Kernel bodies.

HEADER = "// Generated by tools/gen_codelets.py; do not edit.\n"
# The kernels do exactly the arithmetic written here: multiply-adds are fused
# only where the generator asks for simd::fmadd, never by the compiler, so
# that scaled and unscaled variants round alike.
NO_CONTRACT = ['#pragma GCC optimize("fp-contract=off")']


def cplx_body(n, sign, name):
    A = VecAlgebra()
    x = [A.input(j) for j in range(n)]
    y = dft(A, x, sign)
    lines = ["template <bool A, bool S>",
             "inline void %s_body(const double* in, double* out, double scale) {" % name,
             "  (void)scale;"]
    lines += A.emit(y, "C1", lambda j: "lds<A, S>(in + %d, scale)" % (2 * j),
                    lambda k, e: "st<A>(out + %d, %s);" % (2 * k, e))
    lines.append("}")
    return lines


# At levels 4 and 5 these lengths run two columns per 256-bit register:
# n = m * r, both even; the r inner transforms of length m go in pairs
# (a, a+1) with adjacent inputs in the two lanes, each lane gets its own
# twiddles, a 2x2 exchange of lanes then pairs columns (k1, k1+1) for the
# outer transforms, whose results are adjacent outputs.
PAIR_SPLITS = {8: (2, 4), 16: (4, 4), 32: (4, 8), 64: (8, 8)}


def pair_graph(n, sign):
    """VecAlgebra graph over C2 values: input j is the pair of complex inputs
    j, j+1; outputs are (complex index of the first lane, node)."""
    m, r = PAIR_SPLITS[n]
    A = VecAlgebra()
    Y = {}
    for a in range(0, r, 2):
        y = dft(A, [A.input(r * b + a) for b in range(m)], sign)
        for k1 in range(1, m):
            w0 = constant(Fraction(sign * a * k1, n))
            w1 = constant(Fraction(sign * (a + 1) * k1, n))
            y[k1] = A.lane_twiddle(y[k1], w0, w1)
        Y[a] = y
    outs = []
    for k1 in range(0, m, 2):
        U = []
        for a in range(0, r, 2):
            U += [A.lows(Y[a][k1], Y[a][k1 + 1]), A.highs(Y[a][k1], Y[a][k1 + 1])]
        z = dft(A, U, sign)
        outs += [(k1 + m * k2, z[k2]) for k2 in range(r)]
    return A, outs


def cplx_pair_body(n, sign, name):
    A, outs = pair_graph(n, sign)
    lines = ["template <bool A, bool S>",
             "inline void %s_body(const double* in, double* out, double scale) {" % name,
             "  (void)scale;"]
    lines += A.emit([o for _, o in outs], "C2", lambda j: "lds2<S>(in + %d, scale)" % (2 * j),
                    lambda k, e: "simd::store2(out + %d, %s);" % (2 * outs[k][0], e))
    lines.append("}")
    return lines


def real_pow2_graph(n, forward):
    """Whole-vector real transform of even length n as a complex transform of
    length h = n/2 on (x[2j], x[2j+1]) and a split step, one complex value per
    register.  The permuted packed order is the complex array X_0..X_(h-1)
    with slot 0 holding (R_0, R_h).  Returns (graph, outputs by complex index)."""
    h = n // 2
    A = VecAlgebra()
    out = [None] * h
    if forward:
        z = dft(A, [A.input(j) for j in range(h)], -1)
        out[0] = A.add(A.swap(z[0]), A.conj(z[0]))  # (Re+Im, Re-Im)
        for k in range(1, h // 2):
            # X_k = E + w^k O with E = (Z_k + conj Z_(h-k))/2,
            # O = -i (Z_k - conj Z_(h-k))/2; X_(h-k) = conj(E - w^k O).
            b = A.conj(z[h - k])
            e = A.scale(A.add(z[k], b), 0.5)
            c, sn = constant(Fraction(-k, n))
            t = A.twiddle(A.sub(z[k], b), 0.5 * sn, -0.5 * c)  # 0.5 * w^k * (-i)
            out[k] = A.add(e, t)
            out[h - k] = A.conj(A.sub(e, t))
        if h > 1:
            out[h // 2] = A.conj(z[h // 2])
        return A, out
    x = [A.input(k) for k in range(h)]
    zp = [None] * h
    zp[0] = A.add(A.swap(x[0]), A.conj(x[0]))  # (R0+Rh, R0-Rh)
    for k in range(1, h // 2):
        # Z'_k = S + i w^k D, Z'_(h-k) = conj(S - i w^k D) with
        # S = X_k + conj X_(h-k), D = X_k - conj X_(h-k), w = exp(+2 pi i/n).
        b = A.conj(x[h - k])
        sm = A.add(x[k], b)
        c, sn = constant(Fraction(k, n))
        t = A.twiddle(A.sub(x[k], b), -sn, c)  # i * w^k
        zp[k] = A.add(sm, t)
        zp[h - k] = A.conj(A.sub(sm, t))
    if h > 1:
        zp[h // 2] = A.scale(A.conj(x[h // 2]), 2.0)
    return A, dft(A, zp, 1)


def real_pow2_body(n, forward, name):
    A, outs = real_pow2_graph(n, forward)
    lines = ["template <bool A, bool S>",
             "inline void %s_body(const double* in, double* out, double scale) {" % name,
             "  (void)scale;"]
    lines += A.emit(outs, "C1", lambda j: "lds<A, S>(in + %d, scale)" % (2 * j),
                    lambda k, e: "st<A>(out + %d, %s);" % (2 * k, e))
    lines.append("}")
    return lines


def cplx_wrappers(name, scaled=True):
    return [
        "void %s(const double* in, double* out) {" % name,
        "  if (aligned16(in, out))",
        "    %s_body<true, false>(in, out, 1.0);" % name,
        "  else",
        "    %s_body<false, false>(in, out, 1.0);" % name,
        "}",
    ] + ([] if not scaled else [
        "void %s_s(const double* in, double* out, double scale) {" % name,
        "  if (aligned16(in, out))",
        "    %s_body<true, true>(in, out, scale);" % name,
        "  else",
        "    %s_body<false, true>(in, out, scale);" % name,
        "}",
    ])


def split_body(n, sign, name, scaled):
    A = ScalarAlgebra()
    g = A.g
    x = [(g.input(("re", j)), g.input(("im", j))) for j in range(n)]
    y = dft(A, x, sign)
    outs = [v for p in y for v in p]

    def load(key):
        arr = "in_re" if key[0] == "re" else "in_im"
        e = "%s[%d]" % (arr, key[1])
        return e + " * scale" if scaled else e

    def store(k, e):
        return "%s[%d] = %s;" % ("out_re" if k % 2 == 0 else "out_im", k // 2, e)

    if scaled:
        head = ("void %s_s(const double* in_re, const double* in_im, double* out_re, "
                "double* out_im, double scale) {" % name)
    else:
        head = ("void %s(const double* in_re, const double* in_im, double* out_re, "
                "double* out_im) {" % name)
    return [head] + g.emit(outs, load, store) + ["}"]


def real_forward_graph(n, transform=None):
    """Real input, permuted packed spectrum out."""
    A = ScalarAlgebra()
    g = A.g
    x = [(g.input(j), None) for j in range(n)]
    y = (transform or (lambda A, x, sign: dft(A, x, sign, "rf")))(A, x, -1)
    outs = [y[0][0]]
    if n % 2 == 0:
        outs.append(y[n // 2][0])
    for k in range(1, (n - 1) // 2 + 1):
        outs += [y[k][0], y[k][1]]
    return g, outs


def real_backward_graph(n, transform=None):
    """Permuted packed spectrum in, real output (n times the input of forward)."""
    A = ScalarAlgebra()
    g = A.g
    X = [None] * n
    X[0] = (g.input(0), None)
    if n % 2 == 0:
        X[n // 2] = (g.input(1), None)
        first = 2
    else:
        first = 1
    for k in range(1, (n - 1) // 2 + 1):
        re = g.input(first + 2 * (k - 1))
        im = g.input(first + 2 * (k - 1) + 1)
        X[k] = (re, im)
        X[n - k] = (re, g.neg(im))
    y = (transform or (lambda A, x, sign: dft(A, x, sign, "rb")))(A, X, 1)
    return g, [v[0] for v in y]


def real_body(n, name, forward, scaled):
    g, outs = real_forward_graph(n) if forward else real_backward_graph(n)
    if scaled:
        head = "void %s_s(const double* in, double* out, double scale) {" % name
    else:
        head = "void %s(const double* in, double* out) {" % name
    load = lambda j: "in[%d] * scale" % j if scaled else "in[%d]" % j
    store = lambda k, e: "out[%d] = %s;" % (k, e)
    return [head] + g.emit(outs, load, store) + ["}"]


# The real length-6 forward kernel is scheduled by hand: it is the length
# of the demonstration program and its operation order is fixed.
REAL6_FORWARD = """\
void {name}(const double* in, double* out) {{
  const double c = -0.8660254037844386;
  const double x0 = in[0], x1 = in[1], x2 = in[2], x3 = in[3], x4 = in[4], x5 = in[5];
  const double a = x2 + x4;
  const double b = x1 + x5;
  const double e = x0 - 0.5 * a;
  const double f = x3 - 0.5 * b;
  const double g = c * (x2 - x4);
  const double h = c * (x1 - x5);
  const double s0 = x0 + a;
  const double s1 = x3 + b;
  out[0] = s0 + s1;
  out[1] = s0 - s1;
  out[2] = e - f;
  out[3] = g + h;
  out[4] = e + f;
  out[5] = h - g;
}}
void {name}_s(const double* in, double* out, double scale) {{
  const double c = -0.8660254037844386;
  const double x0 = in[0], x1 = in[1], x2 = in[2], x3 = in[3], x4 = in[4], x5 = in[5];
  const double a = scale * (x2 + x4);
  const double b = scale * (x1 + x5);
  const double sx0 = scale * x0;
  const double sx3 = scale * x3;
  const double e = sx0 - 0.5 * a;
  const double f = sx3 - 0.5 * b;
  const double g = c * (scale * (x2 - x4));
  const double h = c * (scale * (x1 - x5));
  const double s0 = sx0 + a;
  const double s1 = sx3 + b;
  out[0] = s0 + s1;
  out[1] = s0 - s1;
  out[2] = e - f;
  out[3] = g + h;
  out[4] = e + f;
  out[5] = h - g;
}}"""


# ---------------------------------------------------------------------------
# Files.

CPLX_LENGTHS = list(range(3, 17)) + [32, 64]
REAL_POW2 = (32, 64)


def cname(n, direction):
    """Name of the interleaved complex kernel (lengths 1 and 2 serve both directions)."""
    if n == 1:
        return "cplx_copy_1"
    if n == 2:
        return "cplx_2"
    return "cplx_%s_%d" % (direction, n)


def sname(n, direction):
    if n == 1:
        return "split_copy_1"
    if n == 2:
        return "split_2"
    return "split_%s_%d" % (direction, n)


def rname(n, direction):
    if n == 1:
        return "real_copy_1"
    if n == 2:
        return "real_2"
    return "real_%s_%d" % (direction, n)


LEVEL_PRELUDE = ['#include "kernels/generated/codelet_kernels.h"', "", "TQS_LEVEL_BEGIN"]


def file_kernels_h():
    L = [HEADER.rstrip(),
         "// Declarations of the straight-line kernels. Every kernel reads all of its",
         "// inputs before it writes an output, so in == out is allowed. The _s variants",
         "// return exactly scale times the unscaled result.",
         "#pragma once",
         '#include "engine/level.h"',
         "",
         "TQS_LEVEL_BEGIN",
         "",
         ""]
    for n in [1, 2] + CPLX_LENGTHS:
        for d in (("fwd", "bwd") if n > 2 else ("fwd",)):
            c = cname(n, d)
            L.append("void %s(const double* in, double* out);" % c)
            L.append("void %s_s(const double* in, double* out, double scale);" % c)
    L.append("")
    for n in range(1, 17):
        for d in (("fwd", "bwd") if n > 2 else ("fwd",)):
            s = sname(n, d)
            L.append("void %s(const double* in_re, const double* in_im, double* out_re, "
                     "double* out_im);" % s)
            L.append("void %s_s(const double* in_re, const double* in_im, double* out_re, "
                     "double* out_im, double scale);" % s)
    L.append("")
    for n in list(range(1, 17)) + list(REAL_POW2):
        for d in (("fwd", "bwd") if n > 2 else ("fwd",)):
            r = rname(n, d)
            L.append("void %s(const double* in, double* out);" % r)
            if n <= 16:
                L.append("void %s_s(const double* in, double* out, double scale);" % r)
    L += ["", "TQS_LEVEL_END"]
    return L


def file_cplx(lengths, with_small):
    L = [HEADER.rstrip(),
         "// Interleaved complex kernels: one complex value per 128-bit register.",
         ] + NO_CONTRACT + vec_prelude()
    names = []
    if with_small:
        for n in (1, 2):
            names.append((n, -1, cname(n, "fwd")))
    for n in lengths:
        names.append((n, -1, cname(n, "fwd")))
        names.append((n, 1, cname(n, "bwd")))
    for n, sign, name in names:
        if n in PAIR_SPLITS:
            L += ["#if TQS_LEVEL >= 4"] + cplx_pair_body(n, sign, name) + ["#else"]
            L += cplx_body(n, sign, name) + ["#endif", ""]
        else:
            L += cplx_body(n, sign, name) + [""]
    L.append("}  // namespace")
    L.append("")
    for n, sign, name in names:
        L += cplx_wrappers(name)
    L += ["", "TQS_LEVEL_END"]
    return L


def vec_prelude():
    return [
         "#include <cstdint>",
         "",
         '#include "kernels/generated/codelet_kernels.h"',
         '#include "kernels/simd.h"',
         "",
         "TQS_LEVEL_BEGIN",
         "namespace {",
         "",
         "using simd::C1;",
         "",
         "// Aligned and unaligned paths do the same arithmetic; aligned loads let",
         "// the older instruction sets fold them into the arithmetic.",
         "inline bool aligned16(const double* a, const double* b) {",
         "  return ((reinterpret_cast<uintptr_t>(a) | reinterpret_cast<uintptr_t>(b)) & 15) == 0;",
         "}",
         "template <bool A, bool S>",
         "inline C1 lds(const double* p, double scale) {",
         "  C1 v = A ? simd::load1a(p) : simd::load1(p);",
         "  if constexpr (S) v = v * scale;",
         "  return v;",
         "}",
         "#if TQS_LEVEL >= 4",
         "using simd::C2;",
         "template <bool S>",
         "inline C2 lds2(const double* p, double scale) {",
         "  C2 v = simd::load2(p);",
         "  if constexpr (S) v = v * scale;",
         "  return v;",
         "}",
         "#endif",
         "template <bool A>",
         "inline void st(double* p, C1 v) {",
         "  if constexpr (A)",
         "    simd::store1a(p, v);",
         "  else",
         "    simd::store1(p, v);",
         "}",
         ""]


def file_real_pow2():
    L = [HEADER.rstrip(),
         "// Whole-vector real transforms of lengths 32 and 64: a complex transform of",
         "// half the length on the even/odd pairs and a split step; the permuted",
         "// packed spectrum is written as complex values, slot 0 holding R0 and R(n/2).",
         ] + NO_CONTRACT + vec_prelude()
    names = [(n, d) for n in REAL_POW2 for d in ("fwd", "bwd")]
    for n, d in names:
        L += real_pow2_body(n, d == "fwd", rname(n, d)) + [""]
    L.append("}  // namespace")
    L.append("")
    for n, d in names:
        L += cplx_wrappers(rname(n, d), scaled=False)
    L += ["", "TQS_LEVEL_END"]
    return L


def file_split():
    L = [HEADER.rstrip(), "// Split complex kernels: separate arrays of real and imaginary parts."]
    L += NO_CONTRACT
    L += LEVEL_PRELUDE + [""]
    for n in range(1, 17):
        for d, sign in ((("fwd", -1), ("bwd", 1)) if n > 2 else (("fwd", -1),)):
            for scaled in (False, True):
                L += split_body(n, sign, sname(n, d), scaled)
    L += ["", "TQS_LEVEL_END"]
    return L


def file_real(lengths):
    L = [HEADER.rstrip(),
         "// Real kernels: n doubles in, the spectrum out in permuted packed order",
         "// (n even: R0, R(n/2), R1, I1, ...; n odd: R0, R1, I1, ...), and back."]
    L += NO_CONTRACT
    L += LEVEL_PRELUDE + [""]
    for n in lengths:
        for d in (("fwd", "bwd") if n > 2 else ("fwd",)):
            name = rname(n, d)
            if n == 6 and d == "fwd":
                L += REAL6_FORWARD.format(name=name).split("\n")
                continue
            L += real_body(n, name, d == "fwd", False)
            if n <= 16:
                L += real_body(n, name, d == "fwd", True)
    L += ["", "TQS_LEVEL_END"]
    return L


def file_tables():
    L = [HEADER.rstrip(),
         "// The kernel tables, indexed by length (codelets) or by log2 of the length.",
         '#include "kernels/codelets.h"',
         '#include "kernels/generated/codelet_kernels.h"',
         "",
         "TQS_LEVEL_BEGIN",
         ""]

    def row(names):
        return "    {nullptr, " + ", ".join(names) + "},"

    def fw(fn, d, suffix=""):
        return [fn(n, d) + suffix for n in range(1, 17)]

    L.append("const CodeletTables codelets = {")
    for fn in (cname, sname):
        for d in ("fwd", "bwd"):
            L.append(row(fw(fn, d)))
            L.append(row(fw(fn, d, "_s")))
    for d in ("fwd", "bwd"):
        L.append(row(fw(rname, d)))
        L.append(row(fw(rname, d, "_s")))
    L.append("};")
    L.append("")
    for d, dn in (("fwd", "forward"), ("bwd", "backward")):
        p2 = [1 << k for k in range(7)]
        L.append("const CplxKernel pow2_complex_%s[7] = {%s};" % (
            dn, ", ".join(cname(n, d) for n in p2)))
        L.append("const CplxKernelScaled pow2_complex_%s_scaled[7] = {%s};" % (
            dn, ", ".join(cname(n, d) + "_s" for n in p2)))
        L.append("const CplxKernel real_pow2_%s[7] = {%s};" % (
            dn, ", ".join(rname(n, d) for n in p2)))
    L += ["", "TQS_LEVEL_END"]
    return L


# Radix butterflies for the mixed-radix engine ------------------------------

BUTTERFLY_RADICES = (2, 3, 4, 5, 7, 8, 11, 13, 16)


def file_butterflies():
    L = [HEADER.rstrip(),
         "// In-place radix-r butterflies for the mixed-radix passes, on any vector type",
         "// of the level (simd::C1, or simd::C2 at levels 4 and 5, where each lane holds",
         "// an independent transform).",
         "//",
         "// butterflyR_forward(x):  x[k] <- sum_j x[j] * exp(-2 pi i j k / R),  k = 0..R-1",
         "// butterflyR_backward(x): x[k] <- sum_j x[j] * exp(+2 pi i j k / R)",
         "// Input and output in natural order, unscaled; x holds R vectors. No twiddles:",
         "// the caller multiplies element j by its twiddle first.",
         "// Radices: " + ", ".join(str(r) for r in BUTTERFLY_RADICES) + ".",
         "#pragma once",
         '#include "engine/level.h"',
         '#include "kernels/simd.h"',
         "",
         "TQS_LEVEL_BEGIN",
         ""]
    for r in BUTTERFLY_RADICES:
        for dn, sign in (("forward", -1), ("backward", 1)):
            A = VecAlgebra()
            x = [A.input(j) for j in range(r)]
            y = dft(A, x, sign)
            L.append("template <class V>")
            L.append("inline void butterfly%d_%s(V* x) {" % (r, dn))
            L += A.emit(y, "V", lambda j: "x[%d]" % j, lambda k, e: "x[%d] = %s;" % (k, e))
            L.append("}")
            L.append("")
    L += [
        "// Real butterflies: R independent real transforms side by side in the lanes",
        "// of V (double, or simd::C1 / simd::C2 holding 2 / 4 real lanes).",
        "// real_butterflyR_forward(x):  x[0..R-1] real in; out in packed order",
        "//   x[0] = X_0, x[2k-1] = Re X_k, x[2k] = Im X_k for k = 1..(R-1)/2, where",
        "//   X_k = sum_j x[j] * exp(-2 pi i j k / R).",
        "// real_butterflyR_backward(x): that packed order in (the Hermitian spectrum",
        "//   it stands for), x[j] = sum_k X_k * exp(+2 pi i j k / R) out, unscaled.",
        "// Radices: " + ", ".join(str(r) for r in REAL_BUTTERFLY_RADICES) + ".",
        ""]
    for r in REAL_BUTTERFLY_RADICES:
        for dn, graph in (("forward", real_forward_graph), ("backward", real_backward_graph)):
            g, outs = graph(r)
            L.append("template <class V>")
            L.append("inline void real_butterfly%d_%s(V* x) {" % (r, dn))
            L += g.emit(outs, lambda j: "x[%d]" % j, lambda k, e: "x[%d] = %s;" % (k, e),
                        vtype="V")
            L.append("}")
            L.append("")
    L.append("TQS_LEVEL_END")
    return L


REAL_BUTTERFLY_RADICES = (3, 5, 7, 11, 13)


def all_files():
    return {
        "codelet_kernels.h": file_kernels_h(),
        "codelets_complex_small.cpp": file_cplx(list(range(3, 17)), True),
        "codelets_complex_pow2.cpp": file_cplx([32, 64], False),
        "codelets_split.cpp": file_split(),
        "codelets_real.cpp": file_real(list(range(1, 17))),
        "codelets_real_pow2.cpp": file_real_pow2(),
        "codelet_tables.cpp": file_tables(),
        "butterflies.h": file_butterflies(),
    }


# Self-test: evaluates the descriptions numerically for every length up to
# 64, including lengths no committed kernel uses yet.


def _eval_vec(A, outs, xs):
    val = []
    for op in A.nodes:
        k = op[0]
        if k == "in":
            v = xs[op[1]]
        elif k == "add":
            v = val[op[1]] + val[op[2]]
        elif k == "sub":
            v = val[op[1]] - val[op[2]]
        elif k == "scale":
            v = val[op[1]] * op[2]
        elif k == "rot":
            v = val[op[1]] * 1j * op[2] * op[3]
        elif k == "madd":
            v = val[op[1]] + val[op[2]] * op[3]
        elif k == "tw45":
            v = val[op[1]] * complex(op[3], op[3] * op[2])
        elif k == "conj":
            v = val[op[1]].conjugate()
        elif k == "swap":
            v = complex(val[op[1]].imag, val[op[1]].real)
        else:
            v = val[op[1]] * complex(op[2], op[3])
        val.append(v)
    return [val[o] for o in outs]


def _eval_scalar(g, outs, inputs):
    val = []
    for op in g.nodes:
        if op[0] == "in":
            v = inputs[op[1]]
        elif op[0] == "add":
            v = val[op[1]] + val[op[2]]
        elif op[0] == "sub":
            v = val[op[1]] - val[op[2]]
        else:
            v = op[1] * val[op[2]]
        val.append(v)
    return [0.0 if o is None else o[0] * val[o[1]] for o in outs]


def selftest(max_n=64):
    import cmath
    import random
    rng = random.Random(1)
    worst = 0.0

    def dft_ref(xs, sign):
        n = len(xs)
        return [sum(xs[j] * cmath.exp(sign * 2j * cmath.pi * (j * k % n) / n) for j in range(n))
                for k in range(n)]

    def err(got, want):
        return max(abs(a - b) for a, b in zip(got, want)) / max(1.0, max(abs(w) for w in want))

    for n in range(1, max_n + 1):
        xs = [complex(rng.uniform(-1, 1), rng.uniform(-1, 1)) for _ in range(n)]
        for sign in (-1, 1):
            A = VecAlgebra()
            y = dft(A, [A.input(j) for j in range(n)], sign)
            worst = max(worst, err(_eval_vec(A, y, xs), dft_ref(xs, sign)))
        xr = [v.real for v in xs]
        ref = dft_ref([complex(v) for v in xr], -1)
        g, outs = real_forward_graph(n)
        got = _eval_scalar(g, outs, {j: xr[j] for j in range(n)})
        packed = [ref[0].real] + ([ref[n // 2].real] if n % 2 == 0 else [])
        for k in range(1, (n - 1) // 2 + 1):
            packed += [ref[k].real, ref[k].imag]
        worst = max(worst, err(got, packed))
        g, outs = real_backward_graph(n)
        got = _eval_scalar(g, outs, {j: packed[j] for j in range(n)})
        worst = max(worst, err(got, [n * v for v in xr]))
    print("largest relative error over lengths 1..%d: %.3g" % (max_n, worst))
    return 0 if worst < 1e-12 else 1


def write_all(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    for name, lines in all_files().items():
        with open(os.path.join(out_dir, name), "w", newline="\n") as f:
            f.write("\n".join(lines) + "\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(os.path.dirname(here), "kernels", "generated")
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", default=default)
    ap.add_argument("--check", action="store_true",
                    help="regenerate into a temporary folder and compare with --out")
    ap.add_argument("--selftest", action="store_true",
                    help="evaluate the descriptions numerically for lengths 1..64")
    args = ap.parse_args()
    if args.selftest:
        return selftest()
    if not args.check:
        write_all(args.out)
        return 0
    with tempfile.TemporaryDirectory() as tmp:
        write_all(tmp)
        bad = []
        for name in sorted(os.listdir(tmp)):
            mine = os.path.join(args.out, name)
            if not os.path.exists(mine) or not filecmp.cmp(os.path.join(tmp, name), mine,
                                                           shallow=False):
                bad.append(name)
        extra = sorted(set(os.listdir(args.out)) - set(os.listdir(tmp)))
        for name in bad:
            print("out of date: %s" % name)
        for name in extra:
            print("not generated: %s" % name)
        return 1 if bad or extra else 0


if __name__ == "__main__":
    sys.exit(main())
