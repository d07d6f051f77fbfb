// Internal to the crypto library: P-256 on fixed-width field elements. Every operation on
// secret values runs without secret-dependent branches or memory accesses: Montgomery
// arithmetic with masked final corrections, complete addition and doubling formulas (no special
// cases for equal or opposite points or the point at infinity), and scalar multiplication whose
// table lookups read every entry. Only multiplyPublic, for verification, lets its public
// scalars steer branches and table indexes.
#pragma once

#include <array>
#include <cstdint>

namespace brindlow::crypto::p256 {

// 256-bit values, least significant 64-bit limb first.
using Limbs = std::array<uint64_t, 4>;

// A modulus with its Montgomery constants (R = 2^256).
struct Modulus {
    Limbs m;
    uint64_t n0;  // -m^-1 mod 2^64
    Limbs one;    // R mod m
    Limbs rr;     // R^2 mod m
};

// The field prime p and the group order n.
const Modulus& field();
const Modulus& order();

// Big-endian 32 bytes to limbs and back; no reduction.
Limbs fromBytes(const unsigned char* bytes);
void toBytes(unsigned char* bytes, const Limbs& a);

// a < m, in constant time.
bool lessThan(const Limbs& a, const Limbs& m);
// a mod m for any 256-bit a, when m > 2^255 (one masked subtraction).
Limbs reduceOnce(const Limbs& a, const Modulus& m);

// Montgomery arithmetic modulo m (field() or order()) on values below m.
Limbs toMont(const Limbs& a, const Modulus& m);
Limbs fromMont(const Limbs& a, const Modulus& m);
Limbs mul(const Limbs& a, const Limbs& b, const Modulus& m);
Limbs add(const Limbs& a, const Limbs& b, const Modulus& m);
Limbs sub(const Limbs& a, const Limbs& b, const Modulus& m);
// a^(m-2) of a Montgomery value: the inverse for prime m, 0 for 0. The exponent is public, the
// base may be secret.
Limbs invert(const Limbs& a, const Modulus& m);
bool isZero(const Limbs& a);

// A point in homogeneous projective coordinates (x = X/Z, y = Y/Z), Montgomery form; the point
// at infinity is (0 : 1 : 0).
struct Point {
    Limbs x, y, z;
};

Point infinity();
Point generator();
// The affine point (x, y), plain values: false when a coordinate is not below p or the point is
// not on the curve.
bool fromAffine(Point& out, const Limbs& x, const Limbs& y);
// The affine coordinates (plain values): false for the point at infinity.
bool toAffine(Limbs& x, Limbs& y, const Point& a);
bool isInfinity(const Point& a);
Point negate(const Point& a);
Point add(const Point& a, const Point& b);
Point dbl(const Point& a);
// k P for a plain 256-bit k, over all 64 windows whatever k is.
Point multiply(const Limbs& k, const Point& a);
// k G for a plain 256-bit k, in constant time: one addition per 4-bit window from a table of
// the generator's multiples built once, no doublings.
Point multiplyBase(const Limbs& k);
// u1 G + u2 Q for plain public u1, u2 (below 2^256): interleaved width-5 NAF, variable time.
Point multiplyPublic(const Limbs& u1, const Limbs& u2, const Point& q);
// Whether a is not the point at infinity and its affine x-coordinate reduced mod n is the plain
// value r; without an inversion, for public values.
bool affineXModOrderIs(const Point& a, const Limbs& r);

// True when field multiplication uses the processor's BMI2 and ADX instructions. Tests turn them
// off to compare both paths; nothing else does.
bool usesAdx();
void setAdx(bool enabled);

}  // namespace brindlow::crypto::p256
