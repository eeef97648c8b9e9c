#!/usr/bin/env python3
"""Derives the hand-made Ed25519 edge cases used by tests/unit/Ed25519Test.cpp.

Random keys cannot reach them, so they are built from small-order points whose multiples are
known without any private key. Prints one line per case: name, public key, message, signature
(hexadecimal), and whether a strict RFC 8032 verifier with this program's leniencies accepts it.
"""
import hashlib

p = 2**255 - 19
L = 2**252 + 27742317777372353535851937790883648493
d = -121665 * pow(121666, p - 2, p) % p
I = pow(2, (p - 1) // 4, p)


def add(P, Q):
    x1, y1 = P
    x2, y2 = Q
    t = d * x1 * x2 * y1 * y2 % p
    return ((x1 * y2 + x2 * y1) * pow(1 + t, p - 2, p) % p,
            (y1 * y2 + x1 * x2) * pow(1 - t, p - 2, p) % p)


def mul(k, P):
    R = (0, 1)
    while k:
        if k & 1:
            R = add(R, P)
        P = add(P, P)
        k >>= 1
    return R


def encode(P):
    x, y = P
    return (y | (x & 1) << 255).to_bytes(32, "little")


def recover_x(y, sign):
    y %= p
    x2 = (y * y - 1) * pow(d * y * y + 1, p - 2, p) % p
    x = pow(x2, (p + 3) // 8, p)
    if (x * x - x2) % p:
        x = x * I % p
    if (x * x - x2) % p:
        return None
    if x & 1 != sign:
        x = -x % p
    return x


def decode_lenient(b):
    v = int.from_bytes(b, "little")
    y, sign = v & (2**255 - 1), v >> 255
    x = recover_x(y, sign)
    return None if x is None else (x, y % p)


By = 4 * pow(5, p - 2, p) % p
B = (recover_x(By, 0), By)


def verify(pk, msg, sig):
    A = decode_lenient(pk)
    S = int.from_bytes(sig[32:], "little")
    if A is None or S >= L:
        return False
    k = int.from_bytes(hashlib.sha512(sig[:32] + pk + msg).digest(), "little") % L
    negA = (-A[0] % p, A[1])
    return encode(add(mul(S, B), mul(k, negA))) == sig[:32]


def k_of(R, pk, msg):
    return int.from_bytes(hashlib.sha512(R + pk + msg).digest(), "little") % L


# A point of order 4: y = 0, x = sqrt(-1) with even parity.
x4 = recover_x(0, 0)
A4 = (x4, 0)
A4_canonical = encode(A4)
# The same point with its y field written as p instead of 0.
A4_high = (p | (x4 & 1) << 255).to_bytes(32, "little")
identity = encode((0, 1))
identity_high = (p + 1).to_bytes(32, "little")  # y field p + 1, residue 1
zero_s = bytes(32)

cases = []
# Key with y in [p, 2^255): S = 0, R = identity, so [S]B - [k]A = -[k]A is the identity exactly
# when k = 0 (mod 4). Pick a message for which that holds over the key bytes as given, but not over
# the canonical key bytes, so the test also shows the hash covers the bytes unchanged.
for i in range(1000):
    m = b"high key %d" % i
    if k_of(identity, A4_high, m) % 4 == 0 and k_of(identity, A4_canonical, m) % 4 != 0:
        cases.append(("high-y-key", A4_high, m, identity + zero_s))
        break
# R with y in [p, 2^255): the same construction with the canonical key, once with the identity
# written canonically (valid) and once with its y field written as p + 1 (never valid).
for i in range(1000):
    m = b"high r %d" % i
    if k_of(identity, A4_canonical, m) % 4 == 0 and k_of(identity_high, A4_canonical, m) % 4 == 0:
        cases.append(("canonical-r", A4_canonical, m, identity + zero_s))
        cases.append(("high-y-r", A4_canonical, m, identity_high + zero_s))
        break
# A y for which no x exists.
for y in range(2, 100):
    if recover_x(y, 0) is None:
        cases.append(("no-x-key", y.to_bytes(32, "little"), b"", identity + zero_s))
        break

for name, pk, m, sig in cases:
    print(name, pk.hex(), m.hex(), sig.hex(), verify(pk, m, sig))
