// Run under valgrind's memcheck: the secret scalars are marked undefined, so any branch or
// memory address that depends on them is reported as a use of an undefined value. Covers the
// signing path (the fixed-base multiplication, the inversion modulo n and the arithmetic of s)
// and the generic multiplication, on the processor's BMI2/ADX path and on the portable one.
#include <valgrind/memcheck.h>

#include <cstdio>

#include "SGP256.h"

namespace p256 = brindlow::crypto::p256;
using p256::Limbs;

namespace {

// Results are data that depends on the secret; they may be looked at only once declared
// defined again, as the caller of the arithmetic would output them.
template <typename T>
void reveal(T& value) {
    VALGRIND_MAKE_MEM_DEFINED(&value, sizeof value);
}

void signingPath(const char* path) {
    const p256::Modulus& n = p256::order();
    Limbs k = {0x0123456789ABCDEFull, 0xFEDCBA9876543210ull, 0x0F1E2D3C4B5A6978ull,
               0x7766554433221100ull};
    Limbs d = {0x1111111122222222ull, 0x3333333344444444ull, 0x5555555566666666ull,
               0x0777777788888888ull};
    const Limbs e = {5, 6, 7, 8};
    VALGRIND_MAKE_MEM_UNDEFINED(&k, sizeof k);
    VALGRIND_MAKE_MEM_UNDEFINED(&d, sizeof d);

    // R = k G, as signing computes it, and its affine x (the inversion of Z included).
    p256::Point r = p256::multiplyBase(k);
    Limbs zInverse = p256::invert(r.z, p256::field());
    Limbs x = p256::fromMont(p256::mul(r.x, zInverse, p256::field()), p256::field());
    reveal(x);  // r = x mod n is published
    const Limbs rValue = p256::reduceOnce(x, n);

    // s = k^-1 (e + d r) mod n.
    const Limbs kInverse = p256::invert(p256::toMont(k, n), n);
    const Limbs dr = p256::mul(p256::toMont(d, n), p256::toMont(rValue, n), n);
    const Limbs sum = p256::add(p256::toMont(e, n), dr, n);
    Limbs s = p256::fromMont(p256::mul(kInverse, sum, n), n);
    reveal(s);

    // The generic multiplication of any point by a secret scalar.
    p256::Point q = p256::multiply(k, p256::generator());
    reveal(q);
    std::printf("%s: r %016llx s %016llx q %016llx\n", path,
                static_cast<unsigned long long>(rValue[0]), static_cast<unsigned long long>(s[0]),
                static_cast<unsigned long long>(q.x[0]));
}

}  // namespace

int main() {
    p256::setAdx(true);
    if (p256::usesAdx()) signingPath("adx");
    p256::setAdx(false);
    signingPath("portable");
    return 0;
}
