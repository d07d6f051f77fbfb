#include "SGValidationSupport.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "Clock.h"
#include "SGDSKey.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGX509Certificate.h"

namespace brindlow::service {

namespace {

// SHA-1, the digest the library pairs with KCDSA signatures.
constexpr int kKcdsaDigest = 3;

// One DER header at p (within end): the tag, and the contents' place. False when it does not
// fit or uses a length form DER does not allow.
bool readHeader(const uint8_t* p, const uint8_t* end, uint8_t* tag, const uint8_t** contents,
                size_t* length) {
    if (end - p < 2) return false;
    *tag = p[0];
    size_t n = p[1];
    p += 2;
    if (n & 0x80) {
        const size_t bytes = n & 0x7F;
        if (bytes == 0 || bytes > sizeof(size_t) || static_cast<size_t>(end - p) < bytes)
            return false;
        n = 0;
        for (size_t i = 0; i < bytes; ++i) n = n << 8 | *p++;
    }
    if (static_cast<size_t>(end - p) < n) return false;
    *contents = p;
    *length = n;
    return true;
}

bool cryptoReady() {
    for (int slot :
         {SGCryptoSlot_SGDSKey_Decode, SGCryptoSlot_SGDSKey_Clear, SGCryptoSlot_SGDS_Verify})
        if (!_gcw[slot]) return false;
    return true;
}

bool generalizedSeconds(time_t* out, const GeneralizedTime_t* time) {
    // The runtime answers -1 both for an error and for the second before 1970.
    errno = EPERM;
    const time_t value = asn_GT2time(time, nullptr, 1);
    if (value == static_cast<time_t>(-1) && errno != EPERM) return false;
    *out = value;
    return true;
}

}  // namespace

time_t validationNow() {
    return brindlow::platform::clockNow().tv_sec;
}

bool timeSeconds(time_t* out, const Time_t* time) {
    if (!out || !time) return false;
    switch (time->present) {
        case Time_PR_generalTime:
            return time->choice.generalTime.buf &&
                   generalizedSeconds(out, &time->choice.generalTime);
        case Time_PR_utcTime: {
            const UTCTime_t& utc = time->choice.utcTime;
            char text[32];
            if (!utc.buf || utc.size < 11 || utc.size > 23) return false;
            // The century the two-digit year stands for.
            const bool nineteen = utc.buf[0] >= '5';
            text[0] = nineteen ? '1' : '2';
            text[1] = nineteen ? '9' : '0';
            std::memcpy(text + 2, utc.buf, static_cast<size_t>(utc.size));
            GeneralizedTime_t generalized{};
            generalized.buf = reinterpret_cast<uint8_t*>(text);
            generalized.size = utc.size + 2;
            return generalizedSeconds(out, &generalized);
        }
        default:
            return false;
    }
}

bool signedPart(const uint8_t** part, size_t* partLength, const uint8_t* der, size_t length) {
    if (!der || !part || !partLength) return false;
    const uint8_t* end = der + length;
    uint8_t tag = 0;
    const uint8_t* outer = nullptr;
    size_t outerLength = 0;
    if (!readHeader(der, end, &tag, &outer, &outerLength) || tag != 0x30) return false;
    const uint8_t* inner = nullptr;
    size_t innerLength = 0;
    if (!readHeader(outer, outer + outerLength, &tag, &inner, &innerLength) || tag != 0x30)
        return false;
    *part = outer;
    *partLength = static_cast<size_t>(inner - outer) + innerLength;
    return true;
}

int verifySignature(const uint8_t* signedBytes, size_t signedLength, const BIT_STRING_t& signature,
                    const AlgorithmIdentifier_t& algorithm, const SubjectKey& key, int keyError,
                    int defaultDigest) {
    int signatureKind = 0, digest = 0;
    if (SGASN1CAlgorithmIdentifier_ToCrypto(nullptr, &signatureKind, &digest, nullptr,
                                            &algorithm) != 0)
        return SG_PKI_ERR_NOT_IMPLEMENTED;
    const bool rsa = key.kind == SG_X509_KEY_RSA;
    const bool kcdsa = key.kind == SG_X509_KEY_KCDSA || key.kind == SG_X509_KEY_KCDSA2;
    if (signatureKind == SG_ASN1C_KEY_RSA) {
        // An RSA signature names its digest; the bare key algorithm names none.
        if (digest <= 0) digest = defaultDigest;
        if (!rsa || digest <= 0) return SG_PKI_ERR_NOT_IMPLEMENTED;
    } else if (signatureKind == SG_ASN1C_KEY_KCDSA) {
        if (!kcdsa) return SG_PKI_ERR_NOT_IMPLEMENTED;
        digest = defaultDigest > 0 ? defaultDigest : kKcdsaDigest;
    } else {
        return SG_PKI_ERR_NOT_IMPLEMENTED;
    }
    if (!signature.buf || signature.size <= 0 || !key.bits || key.bitsLength == 0)
        return SG_ASN_ERR_MALFORMED;
    if (!cryptoReady()) return SG_PKI_ERR_INTERNAL;

    SGDSKey dsKey;
    std::memset(&dsKey, 0, sizeof dsKey);
    if (SG_GCW(SGDSKey_Decode)(&dsKey, key.bits, static_cast<int>(key.bitsLength),
                               rsa ? SG_DSKEY_RSA_PUBLIC : SG_DSKEY_KCDSA_PUBLIC) != 0)
        return keyError;
    SGDSParameter parameter;
    std::memset(&parameter, 0, sizeof parameter);
    parameter.key = &dsKey;
    if (rsa) {
        parameter.kind = SG_DS_RSASSA_PKCS1_V15;
        parameter.v15HashId = digest;
    } else {
        parameter.kind = SG_DS_KCDSA;
        parameter.kcdsaHashId = digest;
        // NULL parameters carry no domain.
        const bool domain = key.parameters && key.parametersLength > 0 &&
                            !(key.parametersLength == 2 && key.parameters[0] == 0x05);
        if (domain) {
            parameter.kcdsaDomainParameters = key.parameters;
            parameter.kcdsaDomainParametersLength = static_cast<uint32_t>(key.parametersLength);
        }
    }
    const int result = SG_GCW(SGDS_Verify)(signature.buf, signature.size, signedBytes,
                                           static_cast<int>(signedLength), &parameter);
    SG_GCW(SGDSKey_Clear)(&dsKey);
    return result;
}

}  // namespace brindlow::service
