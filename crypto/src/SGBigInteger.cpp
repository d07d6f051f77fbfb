#include "SGBigInteger.h"

#include <openssl/err.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "SGBigIntegerInternal.h"
#include "SGCrypto.h"
#include "SGRandom.h"

namespace brindlow::crypto::bn {

namespace {

// Sieve of Eratosthenes up to the 2048th prime.
constexpr std::array<uint16_t, kSmallPrimeCount> makeSmallPrimes() {
    constexpr int kLimit = 17864;
    std::array<bool, kLimit> composite{};
    std::array<uint16_t, kSmallPrimeCount> primes{};
    int count = 0;
    for (int i = 2; i < kLimit && count < kSmallPrimeCount; ++i) {
        if (composite[i]) continue;
        primes[count++] = static_cast<uint16_t>(i);
        for (int j = i * i; j < kLimit; j += i) composite[j] = true;
    }
    return primes;
}

// A number has at most 0xFFFFFF 32-bit words.
constexpr long kMaxBits = 0xFFFFFFL * 32;

// Drops the dependency's error records after an expected failure, so later callers of the
// dependency in this thread do not see them.
template <typename T>
T failed(T result) {
    ERR_clear_error();
    return result;
}

// The pool a call was given, or a temporary one for the call.
class Pool {
  public:
    explicit Pool(BN_CTX* given) : ctx_(given) {
        if (!ctx_) {
            owned_.reset(BN_CTX_new());
            ctx_ = owned_.get();
        }
    }
    BN_CTX* get() const { return ctx_; }

  private:
    BN_CTX* ctx_;
    CtxPtr owned_;
};

// Per-thread values that the interface presents as shared: the constant one and the default
// pool of SGBigInteger_gcd. Sharing them between threads would race.
struct ThreadValues {
    BnPtr one;
    CtxPtr gcdPool;
};
thread_local ThreadValues tThread;

int words32(const BIGNUM* a) {
    return (BN_num_bits(a) + 31) / 32;
}

// The Montgomery contexts of recently used public moduli. Entries are shared, so an entry that
// falls out of the cache lives on while an operation still uses it.
struct MontEntry {
    BnPtr modulus;
    MontPtr mont;
};
constexpr size_t kMontCacheSize = 16;
std::mutex gMontMutex;
std::list<std::shared_ptr<MontEntry>> gMontCache;

}  // namespace

constexpr std::array<uint16_t, kSmallPrimeCount> kPrimeTable = makeSmallPrimes();
static_assert(kPrimeTable[1] == 3 && kPrimeTable[kSmallPrimeCount - 1] == 17863);
const std::array<uint16_t, kSmallPrimeCount> kSmallPrimes = kPrimeTable;

int drawRandom(unsigned char* buffer, size_t length) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    _SGRandom_add(reinterpret_cast<const unsigned char*>(&now), sizeof now);
    constexpr size_t kMaxDraw = 8192;
    for (size_t done = 0; done < length;) {
        const size_t chunk = length - done < kMaxDraw ? length - done : kMaxDraw;
        if (int r = _SGRandom_bytes(buffer + done, static_cast<int>(chunk))) return r;
        done += chunk;
    }
    return 0;
}

bool randomInRange(BIGNUM* r, const BIGNUM* range) {
    if (!r || !range || BN_is_negative(range) || BN_is_zero(range)) return false;
    const int bits = BN_num_bits(range);
    const size_t bytes = static_cast<size_t>(bits + 7) / 8;
    std::vector<unsigned char> buffer(bytes);
    BnPtr candidate(BN_new());
    if (!candidate) return false;
    const unsigned char topMask = static_cast<unsigned char>(0xFF >> (8 * bytes - bits));
    bool ok = false;
    // Each draw is below range with probability above one half.
    for (int attempt = 0; attempt < 128 && !ok; ++attempt) {
        if (drawRandom(buffer.data(), bytes) != 0) break;
        buffer[0] &= topMask;
        if (!BN_bin2bn(buffer.data(), static_cast<int>(bytes), candidate.get())) break;
        if (BN_cmp(candidate.get(), range) < 0) ok = BN_copy(r, candidate.get()) != nullptr;
    }
    SGCrypto_cleanse(buffer.data(), buffer.size());
    return ok;
}

int millerRabinRounds(int bits) {
    if (bits >= 2048) return 2;
    if (bits >= 1024) return 4;
    if (bits >= 512) return 7;
    return 20;
}

bool randomWitness(BIGNUM* witness, const BIGNUM* w, void*) {
    // [2, w - 2] is 2 + [0, w - 3).
    BnPtr range(BN_dup(w));
    return range && BN_sub_word(range.get(), 3) && randomInRange(witness, range.get()) &&
           BN_add_word(witness, 2);
}

int millerRabin(const BIGNUM* w, int rounds, BN_CTX* ctx, WitnessSource source, void* user) {
    if (!w || !ctx) return -1;
    if (BN_is_negative(w) || BN_num_bits(w) < 2) return 0;
    if (BN_is_word(w, 2) || BN_is_word(w, 3)) return 1;
    if (!BN_is_odd(w)) return 0;
    BN_CTX_start(ctx);
    BIGNUM* w1 = BN_CTX_get(ctx);
    BIGNUM* m = BN_CTX_get(ctx);
    BIGNUM* b = BN_CTX_get(ctx);
    BIGNUM* z = BN_CTX_get(ctx);
    MontPtr mont(BN_MONT_CTX_new());
    int result = -1;
    if (z && mont && BN_copy(w1, w) && BN_sub_word(w1, 1) && BN_MONT_CTX_set(mont.get(), w, ctx)) {
        // w - 1 = 2^a * m with m odd.
        int a = 1;
        while (!BN_is_bit_set(w1, a)) ++a;
        if (BN_rshift(m, w1, a)) {
            result = 1;
            for (int round = 0; round < rounds && result == 1; ++round) {
                if (!source(b, w, user) || !BN_mod_exp_mont(z, b, m, w, ctx, mont.get())) {
                    result = -1;
                    break;
                }
                if (BN_is_one(z) || BN_cmp(z, w1) == 0) continue;
                result = 0;
                for (int j = 1; j < a; ++j) {
                    if (!BN_mod_sqr(z, z, w, ctx)) {
                        result = -1;
                        break;
                    }
                    if (BN_cmp(z, w1) == 0) {
                        result = 1;
                        break;
                    }
                    if (BN_is_one(z)) break;
                }
            }
        }
    }
    BN_CTX_end(ctx);
    return result < 0 ? failed(-1) : result;
}

std::shared_ptr<BN_MONT_CTX> montgomeryFor(const BIGNUM* modulus, BN_CTX* ctx) {
    if (!modulus || BN_is_negative(modulus) || !BN_is_odd(modulus) || BN_is_one(modulus))
        return nullptr;
    {
        std::lock_guard lock(gMontMutex);
        for (auto it = gMontCache.begin(); it != gMontCache.end(); ++it) {
            if (BN_cmp((*it)->modulus.get(), modulus) == 0) {
                gMontCache.splice(gMontCache.begin(), gMontCache, it);
                const auto& entry = gMontCache.front();
                return {entry, entry->mont.get()};
            }
        }
    }
    auto entry = std::make_shared<MontEntry>();
    entry->modulus.reset(BN_dup(modulus));
    entry->mont.reset(BN_MONT_CTX_new());
    if (!entry->modulus || !entry->mont || !BN_MONT_CTX_set(entry->mont.get(), modulus, ctx))
        return failed(nullptr);
    std::lock_guard lock(gMontMutex);
    gMontCache.push_front(entry);
    if (gMontCache.size() > kMontCacheSize) gMontCache.pop_back();
    return {entry, entry->mont.get()};
}

}  // namespace brindlow::crypto::bn

using namespace brindlow::crypto::bn;

namespace {

// Incremental search from a random odd start: each step moves on by 2 past the values that a
// small table prime divides, keeping the residues so no step divides the whole number again.
class Sieve {
  public:
    bool start(const BIGNUM* base, int bits) {
        primes_.clear();
        residues_.clear();
        delta_ = 0;
        for (int i = 1; i < kSmallPrimeCount; ++i) {
            // Only primes below the lowest possible candidate may rule one out.
            if (bits <= 16 && kSmallPrimes[i] >= (1u << (bits - 1))) break;
            const BN_ULONG r = BN_mod_word(base, kSmallPrimes[i]);
            if (r == static_cast<BN_ULONG>(-1)) return false;
            primes_.push_back(kSmallPrimes[i]);
            residues_.push_back(static_cast<uint32_t>(r));
        }
        return true;
    }

    // The next candidate base + delta that no table prime divides; false past the search range.
    bool next(BIGNUM* candidate, const BIGNUM* base) {
        for (; delta_ <= kMaxDelta; delta_ += 2) {
            bool divisible = false;
            for (size_t i = 0; i < primes_.size() && !divisible; ++i)
                divisible = (residues_[i] + delta_) % primes_[i] == 0;
            if (divisible) continue;
            const bool ok = BN_copy(candidate, base) && BN_add_word(candidate, delta_);
            delta_ += 2;
            return ok;
        }
        return false;
    }

  private:
    static constexpr uint32_t kMaxDelta = 1u << 20;
    std::vector<uint16_t> primes_;
    std::vector<uint32_t> residues_;
    uint32_t delta_ = 0;
};

}  // namespace

extern "C" {

int SGBigIntegerContext_New(SGBigIntegerContext** pool) {
    if (!pool) return SG_CRYPTO_ERR_ARGUMENT;
    *pool = BN_CTX_new();
    if (!*pool) return failed(SG_CRYPTO_ERR_MEMORY);
    // An outermost frame, so values can be taken right away.
    BN_CTX_start(*pool);
    return 0;
}

int SGBigIntegerContext_Free(SGBigIntegerContext* pool) {
    BN_CTX_free(pool);
    return 0;
}

int SGBigIntegerContext_get(SGBigInteger** number, SGBigIntegerContext* pool) {
    if (!number || !pool) return SG_CRYPTO_ERR_ARGUMENT;
    *number = BN_CTX_get(pool);
    if (!*number) ERR_clear_error();
    return 0;
}

int SGBigIntegerContext_Start(SGBigIntegerContext* pool) {
    if (!pool) return SG_CRYPTO_ERR_ARGUMENT;
    BN_CTX_start(pool);
    return 0;
}

int SGBigIntegerContext_End(SGBigIntegerContext* pool) {
    if (!pool) return SG_CRYPTO_ERR_ARGUMENT;
    BN_CTX_end(pool);
    return 0;
}

int SGBigInteger_New(SGBigInteger** number) {
    if (!number) return SG_CRYPTO_ERR_ARGUMENT;
    *number = BN_new();
    return *number ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

int SGBigInteger_isZero(const SGBigInteger* a) {
    return a && BN_is_zero(a) ? 1 : 0;
}

int SGBigInteger_Zero(SGBigInteger* a) {
    if (!a) return SG_CRYPTO_ERR_ARGUMENT;
    BN_zero(a);
    return 0;
}

int SGBigInteger_Free(SGBigInteger* a) {
    // The record is opaque: the dependency's own non-removable wipe covers its words.
    BN_clear_free(a);
    return 0;
}

int SGBigInteger_copy(SGBigInteger* a, const SGBigInteger* b) {
    if (!a || !b) return SG_CRYPTO_ERR_ARGUMENT;
    return BN_copy(a, b) ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

int SGBigInteger_NewAsBinary(SGBigInteger** number, const unsigned char* bytes, int length) {
    if (!number) return SG_CRYPTO_ERR_ARGUMENT;
    *number = nullptr;
    if (length < 0 || (!bytes && length > 0)) return SG_CRYPTO_ERR_ARGUMENT;
    *number = BN_bin2bn(bytes, length, nullptr);
    return *number ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

int SGBigInteger_ToBinary(unsigned char* buffer, unsigned int* length, const SGBigInteger* a) {
    if (!a) return SG_CRYPTO_ERR_ARGUMENT;
    const int n = BN_num_bytes(a);
    if (buffer) BN_bn2bin(a, buffer);
    if (length) *length = static_cast<unsigned int>(n);
    return 0;
}

int SGBigInteger_ToNBinary(unsigned char* buffer, int n, const SGBigInteger* a) {
    if (!a) return SG_CRYPTO_ERR_ARGUMENT;
    if (!buffer) return 0;
    const int bytes = BN_num_bytes(a);
    const int pad = n > bytes ? n - bytes : 0;
    std::memset(buffer, 0, static_cast<size_t>(pad));
    BN_bn2bin(a, buffer + pad);
    return 0;
}

int SGBigInteger_ToWord(unsigned int* word, const SGBigInteger* a) {
    if (!word || !a) return SG_CRYPTO_ERR_ARGUMENT;
    // The low 32 bits of the magnitude; BN_get_word saturates above its own word size.
    unsigned char low[4] = {};
    BnPtr mask(BN_dup(a));
    if (!mask) return failed(SG_CRYPTO_ERR_MEMORY);
    BN_set_negative(mask.get(), 0);
    if (BN_num_bits(mask.get()) > 32 && !BN_mask_bits(mask.get(), 32))
        return failed(SG_CRYPTO_ERR_MEMORY);
    BN_bn2binpad(mask.get(), low, 4);
    uint32_t value =
        (uint32_t{low[0]} << 24) | (uint32_t{low[1]} << 16) | (uint32_t{low[2]} << 8) | low[3];
    if (BN_is_negative(a)) value = 0u - value;
    *word = value;
    return 0;
}

int SGBigInteger_FromBinary(SGBigInteger* a, const unsigned char* bytes, unsigned int length) {
    if (!a || (!bytes && length > 0)) return -22;
    if (length > static_cast<unsigned int>(kMaxBits / 8)) return -1;
    return BN_bin2bn(bytes, static_cast<int>(length), a) ? 0 : failed(-1);
}

int SGBigInteger_ToASCII(char* buffer, unsigned int* length, const SGBigInteger* a) {
    if (!length) return SG_CRYPTO_ERR_ARGUMENT;
    if (!a) return SG_CRYPTO_ERR_ARGUMENT;
    char* text = BN_bn2dec(a);
    if (!text) return failed(SG_CRYPTO_ERR_MEMORY);
    const size_t n = std::strlen(text);
    int result = 0;
    if (buffer) {
        if (*length < n + 1) {
            result = -1;
        } else {
            std::memcpy(buffer, text, n + 1);
        }
    }
    *length = static_cast<unsigned int>(n);
    OPENSSL_free(text);
    return result;
}

int SGBigInteger_FromASCII(SGBigInteger* a, const char* text) {
    if (!a || !text) return 0;
    bool negative = false;
    if (*text == '-') {
        negative = true;
        ++text;
    }
    bool hex = false;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        hex = true;
        text += 2;
    }
    // Digits only, at least one: trailing text is an error rather than silently dropped.
    size_t n = 0;
    while (text[n] && (hex ? std::isxdigit(static_cast<unsigned char>(text[n]))
                           : std::isdigit(static_cast<unsigned char>(text[n]))))
        ++n;
    if (n == 0 || text[n] != '\0' || n > static_cast<size_t>(kMaxBits / 4)) return 0;
    BIGNUM* target = a;
    const int parsed = hex ? BN_hex2bn(&target, text) : BN_dec2bn(&target, text);
    if (parsed != static_cast<int>(n)) return failed(0);
    BN_set_negative(a, negative ? 1 : 0);
    return 1;
}

int SGBigInteger_NewAsASCII(SGBigInteger** a, const char* text) {
    if (!a) return 0;
    const bool created = *a == nullptr;
    if (created && !(*a = BN_new())) return failed(0);
    const int r = SGBigInteger_FromASCII(*a, text);
    if (!r && created) {
        BN_free(*a);
        *a = nullptr;
    }
    return r;
}

int SGBigInteger_dup(SGBigInteger** copy, const SGBigInteger* a) {
    if (!copy || !a) return SG_CRYPTO_ERR_ARGUMENT;
    *copy = BN_dup(a);
    return *copy ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

int SGBigInteger_Print(const SGBigInteger* a) {
    if (!a) return SG_CRYPTO_ERR_ARGUMENT;
    char* text = BN_bn2dec(a);
    if (!text) return failed(SG_CRYPTO_ERR_MEMORY);
    std::printf("(%s)\n", text);
    OPENSSL_free(text);
    return 0;
}

int SGBigInteger_PrintAsHex(const SGBigInteger* a) {
    if (!a) return SG_CRYPTO_ERR_ARGUMENT;
    char* text = BN_bn2hex(a);
    if (!text) return failed(SG_CRYPTO_ERR_MEMORY);
    std::printf("%s\n", text);
    OPENSSL_free(text);
    return 0;
}

int SGBigInteger_ToHex(char* buffer, const SGBigInteger* a) {
    if (!buffer || !a) return SG_CRYPTO_ERR_ARGUMENT;
    static const char kDigits[] = "0123456789abcdef";
    const int n = BN_num_bytes(a);
    char* out = buffer;
    if (n == 0) {
        std::strcpy(out, "0");
        return 0;
    }
    std::vector<unsigned char> bytes(static_cast<size_t>(n));
    BN_bn2bin(a, bytes.data());
    if (BN_is_negative(a)) *out++ = '-';
    for (unsigned char byte : bytes) {
        *out++ = kDigits[byte >> 4];
        *out++ = kDigits[byte & 15];
    }
    *out = '\0';
    return 0;
}

int SGBigInteger_isBitSet(const SGBigInteger* a, unsigned int n) {
    if (!a || n > static_cast<unsigned int>(kMaxBits)) return 0;
    return BN_is_bit_set(a, static_cast<int>(n)) ? 1 : 0;
}

int SGBigInteger_setBit(SGBigInteger* a, unsigned int n) {
    if (!a) return SG_CRYPTO_ERR_ARGUMENT;
    if (n >= static_cast<unsigned int>(kMaxBits)) return SG_CRYPTO_ERR_MEMORY;
    return BN_set_bit(a, static_cast<int>(n)) ? 0 : failed(SG_CRYPTO_ERR_MEMORY);
}

int SGBigInteger_clearBit(SGBigInteger* a, unsigned int n) {
    if (!a) return SG_CRYPTO_ERR_ARGUMENT;
    // Beyond the value there is nothing to clear.
    if (n < static_cast<unsigned int>(BN_num_bits(a))) BN_clear_bit(a, static_cast<int>(n));
    return 0;
}

int SGBigInteger_leftshift(SGBigInteger* r, const SGBigInteger* a, int n) {
    if (!r || !a || n < 0 || BN_num_bits(a) + static_cast<long>(n) > kMaxBits) return 0;
    return BN_lshift(r, a, n) ? 1 : failed(0);
}

int SGBigInteger_rightshift(SGBigInteger* r, const SGBigInteger* a, int n) {
    if (!r || !a || n < 0) return -1;
    return BN_rshift(r, a, n) ? 0 : failed(-1);
}

int SGBigInteger_isOne(const SGBigInteger* a) {
    return a && BN_is_one(a) ? 1 : 0;
}

SGBigInteger* SGBigInteger_One(void) {
    if (!tThread.one) tThread.one.reset(BN_new());
    if (tThread.one) BN_one(tThread.one.get());
    return tThread.one.get();
}

int SGBigInteger_set_word(SGBigInteger* a, unsigned int w) {
    if (!a) return -1;
    return BN_set_word(a, w) ? 0 : failed(-1);
}

void SGBigInteger_set_negative(SGBigInteger* a, int flag) {
    if (a) BN_set_negative(a, flag != 0 && !BN_is_zero(a) ? 1 : 0);
}

int SGBigInteger_ucmp(const SGBigInteger* a, const SGBigInteger* b) {
    if (!a || !b) return SGBigInteger_cmp(a, b);
    const int wa = words32(a), wb = words32(b);
    if (wa != wb) return wa - wb;
    const int c = BN_ucmp(a, b);
    return c > 0 ? 1 : (c < 0 ? -1 : 0);
}

int SGBigInteger_cmp(const SGBigInteger* a, const SGBigInteger* b) {
    if (!a || !b) return a ? -1 : (b ? 1 : 0);
    const int c = BN_cmp(a, b);
    return c > 0 ? 1 : (c < 0 ? -1 : 0);
}

int SGBigInteger_random(SGBigInteger* r, unsigned int bits, int top, int bottom) {
    if (bits > static_cast<unsigned int>(kMaxBits)) return SG_CRYPTO_ERR_MEMORY;
    const size_t n = (bits + 7) / 8;
    std::vector<unsigned char> bytes(n);
    if (n > 0) {
        if (SGLFSR_GenerateRandom(bytes.data(), static_cast<int>(n)) != 0)
            return SG_CRYPTO_ERR_MEMORY;
        const int k = static_cast<int>(bits % 8);
        if (top == 0) {
            bytes[0] |= static_cast<unsigned char>(1u << k);
        } else if (top != -1) {
            if (k > 0) {
                bytes[0] |= static_cast<unsigned char>(3u << (k - 1));
            } else {
                bytes[0] = 1;
                if (n > 1) bytes[1] |= 0x80;
            }
        }
        bytes[0] &= static_cast<unsigned char>(0xFF >> (7 - k));
        if (bottom) bytes[n - 1] |= 1;
    }
    int result = 0;
    if (r && !BN_bin2bn(bytes.data(), static_cast<int>(n), r))
        result = failed(SG_CRYPTO_ERR_MEMORY);
    if (n > 0) SGCrypto_cleanse(bytes.data(), n);
    return result;
}

int SGBigInteger_randomInRange(SGBigInteger* r, const SGBigInteger* range) {
    return randomInRange(r, range) ? 1 : 0;
}

int SGBigInteger_pseudoRandomInRange(SGBigInteger* r, const SGBigInteger* range) {
    return randomInRange(r, range) ? 1 : 0;
}

int SGBigInteger_gcd(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                     SGBigIntegerContext* pool) {
    if (!r || !a || !b) return 1;
    if (!pool) {
        if (!tThread.gcdPool) tThread.gcdPool.reset(BN_CTX_new());
        pool = tThread.gcdPool.get();
        if (!pool) return failed(1);
    }
    return BN_gcd(r, a, b, pool) ? 0 : failed(1);
}

int SGBigInteger_mul(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                     SGBigIntegerContext* pool) {
    if (!r || !a || !b) return 0;
    Pool p(pool);
    return p.get() && BN_mul(r, a, b, p.get()) ? 1 : failed(0);
}

int SGBigInteger_div(SGBigInteger* quotient, SGBigInteger* remainder, const SGBigInteger* a,
                     const SGBigInteger* d, SGBigIntegerContext* pool) {
    if (!a || !d || BN_is_zero(d) || (quotient && quotient == remainder)) return 0;
    Pool p(pool);
    return p.get() && BN_div(quotient, remainder, a, d, p.get()) ? 1 : failed(0);
}

int SGBigInteger_mod(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* m,
                     SGBigIntegerContext* pool) {
    if (!r) return 0;
    return SGBigInteger_div(nullptr, r, a, m, pool);
}

int SGBigInteger_mod_inverse(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* m,
                             SGBigIntegerContext* pool) {
    if (!r || !a || !m || BN_is_zero(m)) return -1;
    Pool p(pool);
    return p.get() && BN_mod_inverse(r, a, m, p.get()) ? 1 : failed(-1);
}

int SGBigInteger_exp(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* p,
                     SGBigIntegerContext* pool) {
    if (!r || !a || !p || BN_is_negative(p)) return 0;
    // The result has about bits(a) * p bits; refuse what cannot fit a number.
    if (!BN_is_zero(a) && !BN_is_one(a) &&
        (BN_num_bits(p) > 31 ||
         static_cast<double>(BN_num_bits(a)) * static_cast<double>(BN_get_word(p)) > kMaxBits))
        return 0;
    Pool c(pool);
    return c.get() && BN_exp(r, a, p, c.get()) ? 1 : failed(0);
}

int SGBigInteger_mod_add(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                         const SGBigInteger* m, SGBigIntegerContext* pool) {
    if (!r || !a || !b || !m || BN_is_zero(m)) return 0;
    Pool p(pool);
    return p.get() && BN_mod_add(r, a, b, m, p.get()) ? 1 : failed(0);
}

int SGBigInteger_mod_sub(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                         const SGBigInteger* m, SGBigIntegerContext* pool) {
    if (!r || !a || !b || !m || BN_is_zero(m)) return 0;
    Pool p(pool);
    return p.get() && BN_mod_sub(r, a, b, m, p.get()) ? 1 : failed(0);
}

int SGBigInteger_mod_exp(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* p,
                         const SGBigInteger* m, SGBigIntegerContext* pool) {
    if (!r || !a || !p || !m || BN_is_zero(m) || BN_is_negative(p)) return 0;
    Pool c(pool);
    return c.get() && BN_mod_exp(r, a, p, m, c.get()) ? 1 : failed(0);
}

int SGBigInteger_mod_mul(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b,
                         const SGBigInteger* m, SGBigIntegerContext* pool) {
    if (!r || !a || !b || !m || BN_is_zero(m)) return 0;
    Pool p(pool);
    return p.get() && BN_mod_mul(r, a, b, m, p.get()) ? 1 : failed(0);
}

int SGBigInteger_sqr(SGBigInteger* r, const SGBigInteger* a, SGBigIntegerContext* pool) {
    if (!r || !a) return 0;
    Pool p(pool);
    return p.get() && BN_sqr(r, a, p.get()) ? 1 : failed(0);
}

int SGBigInteger_add(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b) {
    if (!r || !a || !b) return 0;
    const bool agree = BN_is_negative(a) == BN_is_negative(b);
    if (!BN_add(r, a, b)) return failed(0);
    return agree ? 1 : -1;
}

int SGBigInteger_usub(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b) {
    if (!r || !a || !b || BN_ucmp(a, b) < 0) return 0;
    return BN_usub(r, a, b) ? 1 : failed(0);
}

int SGBigInteger_sub(SGBigInteger* r, const SGBigInteger* a, const SGBigInteger* b) {
    if (!r || !a || !b) return 0;
    return BN_sub(r, a, b) ? 1 : failed(0);
}

int SGBigInteger_mul_word(SGBigInteger* a, unsigned int w) {
    if (!a) return -1;
    return BN_mul_word(a, w) ? 0 : failed(-1);
}

int SGBigInteger_add_word(SGBigInteger* a, unsigned int w) {
    if (!a) return -1;
    if (w == 0) return 1;
    return BN_add_word(a, w) ? 0 : failed(-1);
}

int SGBigInteger_sub_word(SGBigInteger* a, unsigned int w) {
    if (!a) return -1;
    return BN_sub_word(a, w) ? 0 : failed(-1);
}

unsigned int SGBigInteger_mod_word(const SGBigInteger* a, unsigned int w) {
    if (!a || w == 0) return 0xFFFFFFFFu;
    return static_cast<unsigned int>(BN_mod_word(a, w));
}

unsigned int SGBigInteger_div_word(SGBigInteger* a, unsigned int w) {
    if (!a || w == 0) return 0xFFFFFFFFu;
    return static_cast<unsigned int>(BN_div_word(a, w));
}

int SGBigInteger_isPrime(const SGBigInteger* a) {
    if (!a) return -1;
    CtxPtr ctx(BN_CTX_new());
    if (!ctx) return failed(-1);
    return millerRabin(a, millerRabinRounds(BN_num_bits(a)), ctx.get(), &randomWitness, nullptr);
}

int SGBigInteger_GeneratePrime(SGBigInteger* r, int bits) {
    if (!r || bits < 2 || bits > 65536) return 0;
    if (bits == 2) return BN_set_word(r, 3) ? 1 : failed(0);
    CtxPtr ctx(BN_CTX_new());
    BnPtr base(BN_new()), candidate(BN_new());
    if (!ctx || !base || !candidate) return failed(0);
    const size_t bytes = static_cast<size_t>(bits + 7) / 8;
    const int k = (bits - 1) % 8;  // position of the top bit in the first byte
    std::vector<unsigned char> buffer(bytes);
    const int rounds = millerRabinRounds(bits);
    Sieve sieve;
    int result = -1;
    while (result < 0) {
        if (drawRandom(buffer.data(), bytes) != 0) break;
        // Exactly bits bits with the two top bits set, and odd.
        buffer[0] &= static_cast<unsigned char>(0xFF >> (7 - k));
        buffer[0] |= static_cast<unsigned char>(1u << k);
        if (k > 0) {
            buffer[0] |= static_cast<unsigned char>(1u << (k - 1));
        } else {
            buffer[1] |= 0x80;
        }
        buffer[bytes - 1] |= 1;
        if (!BN_bin2bn(buffer.data(), static_cast<int>(bytes), base.get()) ||
            !sieve.start(base.get(), bits))
            break;
        while (sieve.next(candidate.get(), base.get())) {
            if (BN_num_bits(candidate.get()) != bits) break;  // ran over the top: start again
            const int prime =
                millerRabin(candidate.get(), rounds, ctx.get(), &randomWitness, nullptr);
            if (prime == 0) continue;
            result = prime == 1 && BN_copy(r, candidate.get()) ? 1 : 0;
            break;
        }
    }
    SGCrypto_cleanse(buffer.data(), buffer.size());
    return result == 1 ? 1 : failed(0);
}

int SGBigInteger_TrivialDivide(const SGBigInteger* a) {
    if (!a) return 0;
    for (int i = 1; i < kSmallPrimeCount; ++i) {
        // Only primes below the value itself.
        if (BN_num_bits(a) <= 16 && BN_get_word(a) <= kSmallPrimes[i]) break;
        if (BN_mod_word(a, kSmallPrimes[i]) == 0) return -1;
    }
    return 0;
}

int SGBigInteger_GetNumberOfBits(const SGBigInteger* a) {
    return a ? BN_num_bits(a) : 0;
}

int SGBigInteger_GetNumberOfBytes(const SGBigInteger* a) {
    return a ? BN_num_bytes(a) : 0;
}

}  // extern "C"
