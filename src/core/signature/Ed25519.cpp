// Ed25519 signature verification: pure Ed25519 of RFC 8032 (no context, no pre-hashing), verify
// only. Depends on SHA-512 through the platform hasher and on nothing else.
//
// The curve is -x^2 + y^2 = 1 + d*x^2*y^2 over GF(p), p = 2^255 - 19, d = -121665/121666.
// Field elements are sixteen signed 64-bit limbs in radix 2^16; a limb may leave 16 bits or go
// negative between operations, and a value becomes its canonical residue only when encoded.
// Points use extended coordinates (X, Y, Z, T) with x = X/Z, y = Y/Z, T = XY/Z.
//
// Deliberate leniencies, each harmless for a verifier and each tested:
//  - the key A is decoded modulo p (a y field in [p, 2^255) counts as y - p) and an x = 0 with the
//    sign bit set stays x = 0; the hash always covers the 32 key bytes exactly as given;
//  - the equation is the cofactorless [S]B = R + [k]A, decided on encodings: R is never decoded,
//    so a non-canonical or off-curve R simply never matches the canonical encoding we compute;
//  - small-order A or R are not rejected (RFC 8032 does not ask for it).
// Only the S range test is allowed to stop early; the ladders and the final comparison run the
// same steps whatever the data.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "Exception.h"
#include "Platform.h"
#include "signature/Ed25519.h"
#include "signature/uReleaseSignature.h"

namespace hb {
namespace {

// ---------------------------------------------------------------------------------------------
// Field arithmetic modulo p
// ---------------------------------------------------------------------------------------------

struct TFe {
  int64_t V[16];
};

struct TPoint {
  TFe X, Y, Z, T;
};

// The group order L = 2^252 + 27742317777372353535851937790883648493, little-endian bytes.
constexpr int64_t kL[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                            0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                            0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};

struct TCurve {
  TFe Zero, One, D, D2, SqrtM1, Bx, By;
};

TCurve gCurve;
std::atomic<bool> gReady{false};
std::mutex gInitMutex;

TFe Small(int64_t v) {
  TFe r{};
  r.V[0] = v;
  return r;
}

// Moves each limb's excess into the next one; the excess of limb 15 wraps to limb 0 times 38,
// because 2^256 = 2 * (2^255 - 19) + 38. Adding 2^16 first and taking one back keeps the shift
// arithmetic on negative limbs from rounding the wrong way.
void Carry(TFe& o) {
  for (int i = 0; i < 15; ++i) {
    o.V[i] += int64_t{1} << 16;
    int64_t c = o.V[i] >> 16;
    o.V[i + 1] += c - 1;
    o.V[i] -= c * 65536;
  }
  o.V[15] += int64_t{1} << 16;
  int64_t c = o.V[15] >> 16;
  o.V[0] += 38 * (c - 1);
  o.V[15] -= c * 65536;
}

// Exchanges p and q when bit is 1, leaves them when 0, with the same operations either way.
void Swap(TFe& p, TFe& q, int64_t bit) {
  int64_t mask = -bit;
  for (int i = 0; i < 16; ++i) {
    int64_t t = mask & (p.V[i] ^ q.V[i]);
    p.V[i] ^= t;
    q.V[i] ^= t;
  }
}

// The canonical residue in [0, p) as 32 little-endian bytes: after three carry passes the value
// is below 2^256 and non-negative, so subtracting p at most twice brings it into range.
void Encode(uint8_t out[32], const TFe& n) {
  TFe t = n;
  Carry(t);
  Carry(t);
  Carry(t);
  TFe m{};
  for (int pass = 0; pass < 2; ++pass) {
    m.V[0] = t.V[0] - 0xffed;
    for (int i = 1; i < 15; ++i) {
      m.V[i] = t.V[i] - 0xffff - ((m.V[i - 1] >> 16) & 1);
      m.V[i - 1] &= 0xffff;
    }
    m.V[15] = t.V[15] - 0x7fff - ((m.V[14] >> 16) & 1);
    int64_t borrow = (m.V[15] >> 16) & 1;
    m.V[14] &= 0xffff;
    Swap(t, m, 1 - borrow);
  }
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = static_cast<uint8_t>(t.V[i] & 0xff);
    out[2 * i + 1] = static_cast<uint8_t>((t.V[i] >> 8) & 0xff);
  }
}

// No test against p: encodings of p .. 2^255 - 1 are taken as their residues 0 .. 18.
void Decode(TFe& o, const uint8_t in[32]) {
  for (int i = 0; i < 16; ++i) o.V[i] = in[2 * i] + (int64_t{in[2 * i + 1]} << 8);
  o.V[15] &= 0x7fff;
}

bool Equal(const TFe& a, const TFe& b) {
  uint8_t x[32], y[32];
  Encode(x, a);
  Encode(y, b);
  unsigned diff = 0;
  for (int i = 0; i < 32; ++i) diff |= x[i] ^ y[i];
  return diff == 0;
}

int Parity(const TFe& a) {
  uint8_t d[32];
  Encode(d, a);
  return d[0] & 1;
}

void Add(TFe& o, const TFe& a, const TFe& b) {
  for (int i = 0; i < 16; ++i) o.V[i] = a.V[i] + b.V[i];
}

void Sub(TFe& o, const TFe& a, const TFe& b) {
  for (int i = 0; i < 16; ++i) o.V[i] = a.V[i] - b.V[i];
}

// Schoolbook product into 31 accumulators; the upper 15 fold down times 38 (2^256 = 38 mod p).
// Limbs entering here stay within about 2^20 in magnitude, so every accumulator fits easily.
void Mul(TFe& o, const TFe& a, const TFe& b) {
  int64_t t[31] = {};
#pragma GCC unroll 16
  for (int i = 0; i < 16; ++i) {
    const int64_t ai = a.V[i];
#pragma GCC unroll 16
    for (int j = 0; j < 16; ++j) t[i + j] += ai * b.V[j];
  }
  for (int k = 0; k < 15; ++k) t[k] += 38 * t[k + 16];
  for (int k = 0; k < 16; ++k) o.V[k] = t[k];
  Carry(o);
  Carry(o);
}

void Square(TFe& o, const TFe& a) {
  Mul(o, a, a);
}

// a^e for an exponent whose bits below `top` are all ones except at the positions skipped:
// square-and-multiply from the bit below the (implicit) leading one down to bit 0.
void PowerChain(TFe& o, const TFe& a, int top, int skipA, int skipB) {
  TFe c = a;
  for (int bit = top; bit >= 0; --bit) {
    Square(c, c);
    if (bit != skipA && bit != skipB) Mul(c, c, a);
  }
  o = c;
}

// a^(p-2) = a^-1 (Fermat); p - 2 = 2^255 - 21.
void Invert(TFe& o, const TFe& a) {
  PowerChain(o, a, 253, 2, 4);
}

// a^((p-5)/8) = a^(2^252 - 3), the exponent of the square root in point decoding.
void PowP58(TFe& o, const TFe& a) {
  PowerChain(o, a, 250, 1, 1);
}

// a^((p-1)/4) = a^(2^253 - 5); applied to 2 it gives a square root of -1.
void PowP14(TFe& o, const TFe& a) {
  PowerChain(o, a, 251, 2, 2);
}

// ---------------------------------------------------------------------------------------------
// Points
// ---------------------------------------------------------------------------------------------

void SwapPoint(TPoint& p, TPoint& q, int64_t bit) {
  Swap(p.X, q.X, bit);
  Swap(p.Y, q.Y, bit);
  Swap(p.Z, q.Z, bit);
  Swap(p.T, q.T, bit);
}

// p <- p + q by the unified extended-coordinate formula (a = -1 twisted Edwards), which is also
// correct for p + p, so the ladder needs no separate doubling. q may be p itself.
void AddPoint(TPoint& p, const TPoint& q) {
  TFe a, b, c, d, t, e, f, g, h;
  Sub(a, p.Y, p.X);
  Sub(t, q.Y, q.X);
  Mul(a, a, t);
  Add(b, p.X, p.Y);
  Add(t, q.X, q.Y);
  Mul(b, b, t);
  Mul(c, p.T, q.T);
  Mul(c, c, gCurve.D2);
  Mul(d, p.Z, q.Z);
  Add(d, d, d);
  Sub(e, b, a);
  Sub(f, d, c);
  Add(g, d, c);
  Add(h, b, a);
  Mul(p.X, e, f);
  Mul(p.Y, h, g);
  Mul(p.Z, g, f);
  Mul(p.T, e, h);
}

// p = [s]q by a 256-step ladder: every bit costs one addition and one doubling, and the bit only
// steers two masked swaps. q is consumed.
void ScalarMul(TPoint& p, TPoint& q, const uint8_t s[32]) {
  p.X = gCurve.Zero;
  p.Y = gCurve.One;
  p.Z = gCurve.One;
  p.T = gCurve.Zero;
  for (int i = 255; i >= 0; --i) {
    int64_t bit = (s[i / 8] >> (i & 7)) & 1;
    SwapPoint(p, q, bit);
    AddPoint(q, p);
    AddPoint(p, p);
    SwapPoint(p, q, bit);
  }
}

void ScalarBase(TPoint& p, const uint8_t s[32]) {
  TPoint q;
  q.X = gCurve.Bx;
  q.Y = gCurve.By;
  q.Z = gCurve.One;
  Mul(q.T, gCurve.Bx, gCurve.By);
  ScalarMul(p, q, s);
}

void EncodePoint(uint8_t out[32], const TPoint& p) {
  TFe zi, x, y;
  Invert(zi, p.Z);
  Mul(x, p.X, zi);
  Mul(y, p.Y, zi);
  Encode(out, y);
  out[31] ^= static_cast<uint8_t>(Parity(x) << 7);
}

// Recovers x from y: x^2 = u/v with u = y^2 - 1, v = d*y^2 + 1. The candidate
// x = u*v^3*(u*v^7)^((p-5)/8) squares to +-u/v; for -u/v it is fixed by a factor sqrt(-1), and
// when neither holds y is not on the curve. With negate set the result is -A, which is what the
// verification needs.
bool DecodePoint(TPoint& r, const uint8_t in[32], bool negate) {
  TFe u, v, v2, v4, v6, t, check;
  r.Z = gCurve.One;
  Decode(r.Y, in);
  Square(u, r.Y);
  Mul(v, u, gCurve.D);
  Sub(u, u, r.Z);
  Add(v, r.Z, v);

  Square(v2, v);
  Square(v4, v2);
  Mul(v6, v4, v2);
  Mul(t, v6, u);
  Mul(t, t, v);
  PowP58(t, t);
  Mul(t, t, u);
  Mul(t, t, v);
  Mul(t, t, v);
  Mul(r.X, t, v);

  Square(check, r.X);
  Mul(check, check, v);
  if (!Equal(check, u)) Mul(r.X, r.X, gCurve.SqrtM1);
  Square(check, r.X);
  Mul(check, check, v);
  if (!Equal(check, u)) return false;

  int sign = in[31] >> 7;
  bool flip = negate ? Parity(r.X) == sign : Parity(r.X) != sign;
  if (flip) Sub(r.X, gCurve.Zero, r.X);
  Mul(r.T, r.X, r.Y);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Scalars modulo L
// ---------------------------------------------------------------------------------------------

// x holds a 512-bit little-endian number one byte per entry. Entries 63..32 are folded away with
// 2^256 = -16 * (L - 2^252) (mod L), then the remainder is brought below L exactly.
void ReduceModL(uint8_t out[32], int64_t x[64]) {
  for (int i = 63; i >= 32; --i) {
    int64_t carry = 0;
    int j = i - 32;
    for (; j < i - 12; ++j) {
      x[j] += carry - 16 * x[i] * kL[j - (i - 32)];
      carry = (x[j] + 128) >> 8;
      x[j] -= carry * 256;
    }
    x[j] += carry;
    x[i] = 0;
  }
  int64_t carry = 0;
  for (int j = 0; j < 32; ++j) {
    x[j] += carry - (x[31] >> 4) * kL[j];
    carry = x[j] >> 8;
    x[j] &= 255;
  }
  for (int j = 0; j < 32; ++j) x[j] -= carry * kL[j];
  for (int i = 0; i < 32; ++i) {
    x[i + 1] += x[i] >> 8;
    out[i] = static_cast<uint8_t>(x[i] & 255);
  }
}

// S < L, compared from the most significant byte; S is public, so stopping early is fine.
bool BelowL(const uint8_t s[32]) {
  for (int i = 31; i >= 0; --i) {
    if (s[i] != kL[i]) return s[i] < kL[i];
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Set-up: the constants are derived from their definitions, then checked against the base point
// ---------------------------------------------------------------------------------------------

void InitCurve() {
  TCurve c{};
  c.Zero = Small(0);
  c.One = Small(1);
  TFe inv;
  Invert(inv, Small(121666));
  TFe q;
  Mul(q, Small(121665), inv);
  Sub(c.D, c.Zero, q);
  Add(c.D2, c.D, c.D);
  PowP14(c.SqrtM1, Small(2));
  gCurve = c; // point decoding below needs d and sqrt(-1)

  uint8_t base[32];
  base[0] = 0x58;
  std::memset(base + 1, 0x66, 31);
  TPoint b;
  if (!DecodePoint(b, base, false)) throw Exception("Ed25519 基点初始化失败");
  Mul(gCurve.Bx, b.X, gCurve.One);
  Mul(gCurve.By, b.Y, gCurve.One);

  TFe fifth, fourFifths;
  Invert(fifth, Small(5));
  Mul(fourFifths, Small(4), fifth);
  if (!Equal(fourFifths, gCurve.By)) throw Exception("Ed25519 基点自检失败");
}

// Once per process. A failed set-up leaves the flag clear, so the next verification repeats it.
void Ed25519Init() {
  if (gReady.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(gInitMutex);
  if (gReady.load(std::memory_order_relaxed)) return;
  InitCurve();
  gReady.store(true, std::memory_order_release);
}

} // namespace

bool Ed25519SetUpDone() {
  return gReady.load(std::memory_order_acquire);
}

void Ed25519ForgetSetUp() {
  gReady.store(false, std::memory_order_release);
}

bool Ed25519Verify(const std::vector<uint8_t>& signature, const std::vector<uint8_t>& message,
                   const std::vector<uint8_t>& publicKey) {
  if (signature.size() != 64 || publicKey.size() != 32) return false;
  Ed25519Init();

  const uint8_t* r = signature.data();
  const uint8_t* s = signature.data() + 32;
  if (!BelowL(s)) return false;

  TPoint negA;
  if (!DecodePoint(negA, publicKey.data(), true)) return false;

  auto sha = Hasher().Start(THashAlg::haSha512);
  sha->Feed(r, 32);
  sha->Feed(publicKey.data(), 32);
  if (!message.empty()) sha->Feed(message.data(), message.size());
  std::vector<uint8_t> digest = sha->Finish();
  if (digest.size() != 64) throw Exception("SHA-512 摘要长度不对");
  int64_t wide[64];
  for (int i = 0; i < 64; ++i) wide[i] = digest[i];
  uint8_t h[32];
  ReduceModL(h, wide);

  TPoint p, sb;
  ScalarMul(p, negA, h); // [h](-A); negA is the working copy the ladder consumes
  ScalarBase(sb, s);
  AddPoint(p, sb); // [S]B - [h]A

  uint8_t encoded[32];
  EncodePoint(encoded, p);
  unsigned diff = 0;
  for (int i = 0; i < 32; ++i) diff |= encoded[i] ^ r[i];
  return diff == 0;
}

} // namespace hb
