#include "SGP256.h"

namespace brindlow::crypto::p256 {

namespace {

using u128 = unsigned __int128;

// Keeps the optimiser from turning masks back into branches.
uint64_t barrier(uint64_t a) {
    asm volatile("" : "+r"(a));
    return a;
}

// All ones for bit 1, zero for bit 0.
uint64_t maskOf(uint64_t bit) {
    return 0 - barrier(bit);
}

// All ones when a is zero.
uint64_t zeroMask(uint64_t a) {
    return maskOf(((a | (0 - a)) >> 63) ^ 1);
}

uint64_t addCarry(Limbs& r, const Limbs& a, const Limbs& b) {
    uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 s = static_cast<u128>(a[i]) + b[i] + carry;
        r[i] = static_cast<uint64_t>(s);
        carry = static_cast<uint64_t>(s >> 64);
    }
    return carry;
}

uint64_t subBorrow(Limbs& r, const Limbs& a, const Limbs& b) {
    uint64_t borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 d = static_cast<u128>(a[i]) - b[i] - borrow;
        r[i] = static_cast<uint64_t>(d);
        borrow = static_cast<uint64_t>(d >> 64) & 1;
    }
    return borrow;
}

// mask ? a : b
Limbs select(uint64_t mask, const Limbs& a, const Limbs& b) {
    Limbs r;
    for (int i = 0; i < 4; ++i) r[i] = (a[i] & mask) | (b[i] & ~mask);
    return r;
}

Modulus makeModulus(const Limbs& m) {
    Modulus M{};
    M.m = m;
    // Newton's iteration for m^-1 mod 2^64; m itself is right in its low three bits.
    uint64_t inverse = m[0];
    for (int i = 0; i < 6; ++i) inverse *= 2 - m[0] * inverse;
    M.n0 = 0 - inverse;
    // R mod m = 2^256 - m, as m > 2^255.
    Limbs notM;
    for (int i = 0; i < 4; ++i) notM[i] = ~m[i];
    addCarry(M.one, notM, Limbs{1, 0, 0, 0});
    // R^2 mod m by doubling R mod m 256 times.
    Limbs x = M.one;
    for (int i = 0; i < 256; ++i) x = add(x, x, M);
    M.rr = x;
    return M;
}

const Limbs kP = {0xFFFFFFFFFFFFFFFFull, 0x00000000FFFFFFFFull, 0x0000000000000000ull,
                  0xFFFFFFFF00000001ull};
const Limbs kN = {0xF3B9CAC2FC632551ull, 0xBCE6FAADA7179E84ull, 0xFFFFFFFFFFFFFFFFull,
                  0xFFFFFFFF00000000ull};
const Limbs kB = {0x3BCE3C3E27D2604Bull, 0x651D06B0CC53B0F6ull, 0xB3EBBD55769886BCull,
                  0x5AC635D8AA3A93E7ull};
const Limbs kGx = {0xF4A13945D898C296ull, 0x77037D812DEB33A0ull, 0xF8BCE6E563A440F2ull,
                   0x6B17D1F2E12C4247ull};
const Limbs kGy = {0xCBB6406837BF51F5ull, 0x2BCE33576B315ECEull, 0x8EE7EB4A7C0F9E16ull,
                   0x4FE342E2FE1A7F9Bull};

// b in Montgomery form.
const Limbs& curveB() {
    static const Limbs b = toMont(kB, field());
    return b;
}

}  // namespace

const Modulus& field() {
    static const Modulus p = makeModulus(kP);
    return p;
}

const Modulus& order() {
    static const Modulus n = makeModulus(kN);
    return n;
}

Limbs fromBytes(const unsigned char* bytes) {
    Limbs r{};
    for (int i = 0; i < 32; ++i) r[3 - i / 8] = (r[3 - i / 8] << 8) | bytes[i];
    return r;
}

void toBytes(unsigned char* bytes, const Limbs& a) {
    for (int i = 0; i < 32; ++i)
        bytes[i] = static_cast<unsigned char>(a[3 - i / 8] >> (56 - 8 * (i % 8)));
}

bool lessThan(const Limbs& a, const Limbs& m) {
    Limbs scratch;
    return subBorrow(scratch, a, m) == 1;
}

Limbs reduceOnce(const Limbs& a, const Modulus& m) {
    Limbs s;
    const uint64_t borrow = subBorrow(s, a, m.m);
    return select(maskOf(borrow), a, s);
}

bool isZero(const Limbs& a) {
    return (a[0] | a[1] | a[2] | a[3]) == 0;
}

Limbs mul(const Limbs& a, const Limbs& b, const Modulus& M) {
    uint64_t t[6] = {};
    for (int i = 0; i < 4; ++i) {
        u128 c = 0;
        for (int j = 0; j < 4; ++j) {
            c = static_cast<u128>(a[i]) * b[j] + t[j] + static_cast<uint64_t>(c >> 64);
            t[j] = static_cast<uint64_t>(c);
        }
        c = static_cast<u128>(t[4]) + static_cast<uint64_t>(c >> 64);
        t[4] = static_cast<uint64_t>(c);
        t[5] = static_cast<uint64_t>(c >> 64);
        const uint64_t q = t[0] * M.n0;
        c = static_cast<u128>(q) * M.m[0] + t[0];
        for (int j = 1; j < 4; ++j) {
            c = static_cast<u128>(q) * M.m[j] + t[j] + static_cast<uint64_t>(c >> 64);
            t[j - 1] = static_cast<uint64_t>(c);
        }
        c = static_cast<u128>(t[4]) + static_cast<uint64_t>(c >> 64);
        t[3] = static_cast<uint64_t>(c);
        t[4] = t[5] + static_cast<uint64_t>(c >> 64);
    }
    // t < 2m: subtract m unless that borrows past the fifth limb.
    const Limbs r = {t[0], t[1], t[2], t[3]};
    Limbs s;
    const uint64_t borrow = subBorrow(s, r, M.m);
    return select(t[4] - borrow, r, s);  // all ones exactly when t < m
}

Limbs add(const Limbs& a, const Limbs& b, const Modulus& M) {
    Limbs r, s;
    const uint64_t carry = addCarry(r, a, b);
    const uint64_t borrow = subBorrow(s, r, M.m);
    return select(maskOf((carry ^ 1) & borrow), r, s);
}

Limbs sub(const Limbs& a, const Limbs& b, const Modulus& M) {
    Limbs r;
    const uint64_t borrow = subBorrow(r, a, b);
    const Limbs correction = select(maskOf(borrow), M.m, Limbs{});
    addCarry(r, r, correction);
    return r;
}

Limbs toMont(const Limbs& a, const Modulus& m) {
    return mul(a, m.rr, m);
}

Limbs fromMont(const Limbs& a, const Modulus& m) {
    return mul(a, Limbs{1, 0, 0, 0}, m);
}

Limbs invert(const Limbs& a, const Modulus& M) {
    // The exponent m - 2 is public, so its bits may steer the loop.
    Limbs e;
    subBorrow(e, M.m, Limbs{2, 0, 0, 0});
    Limbs r = M.one;
    for (int bit = 255; bit >= 0; --bit) {
        r = mul(r, r, M);
        if ((e[bit / 64] >> (bit % 64)) & 1) r = mul(r, a, M);
    }
    return r;
}

Point infinity() {
    return Point{Limbs{}, field().one, Limbs{}};
}

Point generator() {
    static const Point g = [] {
        Point p{};
        fromAffine(p, kGx, kGy);
        return p;
    }();
    return g;
}

bool fromAffine(Point& out, const Limbs& x, const Limbs& y) {
    const Modulus& F = field();
    if (!lessThan(x, F.m) || !lessThan(y, F.m)) return false;
    const Limbs xm = toMont(x, F), ym = toMont(y, F);
    // y^2 = x^3 - 3x + b
    Limbs rhs = mul(mul(xm, xm, F), xm, F);
    rhs = sub(rhs, add(add(xm, xm, F), xm, F), F);
    rhs = add(rhs, curveB(), F);
    const Limbs lhs = mul(ym, ym, F);
    if (lhs != rhs) return false;
    out = Point{xm, ym, F.one};
    return true;
}

bool isInfinity(const Point& a) {
    return isZero(a.z);
}

bool toAffine(Limbs& x, Limbs& y, const Point& a) {
    if (isInfinity(a)) return false;
    const Modulus& F = field();
    const Limbs zInverse = invert(a.z, F);
    x = fromMont(mul(a.x, zInverse, F), F);
    y = fromMont(mul(a.y, zInverse, F), F);
    return true;
}

Point negate(const Point& a) {
    return Point{a.x, sub(Limbs{}, a.y, field()), a.z};
}

// Complete addition for a = -3 in homogeneous projective coordinates (Renes, Costello and
// Batina, 2016, algorithm 4): the same steps for every pair of points.
Point add(const Point& P, const Point& Q) {
    const Modulus& F = field();
    const Limbs& b = curveB();
    auto M = [&F](const Limbs& u, const Limbs& v) { return mul(u, v, F); };
    auto A = [&F](const Limbs& u, const Limbs& v) { return add(u, v, F); };
    auto S = [&F](const Limbs& u, const Limbs& v) { return sub(u, v, F); };
    Limbs t0 = M(P.x, Q.x);
    Limbs t1 = M(P.y, Q.y);
    Limbs t2 = M(P.z, Q.z);
    Limbs t3 = A(P.x, P.y);
    Limbs t4 = A(Q.x, Q.y);
    t3 = M(t3, t4);
    t4 = A(t0, t1);
    t3 = S(t3, t4);
    t4 = A(P.y, P.z);
    Limbs x3 = A(Q.y, Q.z);
    t4 = M(t4, x3);
    x3 = A(t1, t2);
    t4 = S(t4, x3);
    x3 = A(P.x, P.z);
    Limbs y3 = A(Q.x, Q.z);
    x3 = M(x3, y3);
    y3 = A(t0, t2);
    y3 = S(x3, y3);
    Limbs z3 = M(b, t2);
    x3 = S(y3, z3);
    z3 = A(x3, x3);
    x3 = A(x3, z3);
    z3 = S(t1, x3);
    x3 = A(t1, x3);
    y3 = M(b, y3);
    t1 = A(t2, t2);
    t2 = A(t1, t2);
    y3 = S(y3, t2);
    y3 = S(y3, t0);
    t1 = A(y3, y3);
    y3 = A(t1, y3);
    t1 = A(t0, t0);
    t0 = A(t1, t0);
    t0 = S(t0, t2);
    t1 = M(t4, y3);
    t2 = M(t0, y3);
    y3 = M(x3, z3);
    y3 = A(y3, t2);
    x3 = M(x3, t3);
    x3 = S(x3, t1);
    z3 = M(z3, t4);
    t1 = M(t3, t0);
    z3 = A(z3, t1);
    return Point{x3, y3, z3};
}

Point multiply(const Limbs& k, const Point& a) {
    Point table[16];
    table[0] = infinity();
    table[1] = a;
    for (int i = 2; i < 16; ++i) table[i] = add(table[i - 1], a);
    Point q = infinity();
    for (int window = 63; window >= 0; --window) {
        for (int i = 0; i < 4; ++i) q = add(q, q);
        const uint64_t digit = (k[window / 16] >> (4 * (window % 16))) & 15;
        Point t{};
        for (uint64_t i = 0; i < 16; ++i) {
            const uint64_t mask = zeroMask(i ^ digit);
            t.x = select(mask, table[i].x, t.x);
            t.y = select(mask, table[i].y, t.y);
            t.z = select(mask, table[i].z, t.z);
        }
        q = add(q, t);
    }
    return q;
}

}  // namespace brindlow::crypto::p256
