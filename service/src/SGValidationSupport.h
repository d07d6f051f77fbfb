// Internal to CRL checking and path validation: the instant a check runs at, times read as RFC
// 5280 reads them, the signed part of a DER structure as it was signed, and the verification of
// a signature with a given subject key.
#pragma once

#include <time.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SGASN1C.h"
#include "SGCRL.h"

namespace brindlow::service {

// Now, from the platform clock (tests fix it there).
time_t validationNow();

// The instant of a Time. UTCTime years 50 to 99 are 1950 to 1999, as certificates and lists mean
// them; false for a Time without alternative or one that does not read.
bool timeSeconds(time_t* out, const Time_t* time);

// The first element inside the outer SEQUENCE of a DER value: the TBSCertificate or TBSCertList
// exactly as its signer saw it. False when the bytes do not hold a SEQUENCE that starts with one.
bool signedPart(const uint8_t** part, size_t* partLength, const uint8_t* der, size_t length);

// A subject public key to verify with: its key kind (SG_X509_KEY_*), the subjectPublicKey bits
// and the algorithm parameters (KCDSA domain parameters), none of them owned.
struct SubjectKey {
    int kind = 0;
    const uint8_t* bits = nullptr;
    size_t bitsLength = 0;
    const uint8_t* parameters = nullptr;
    size_t parametersLength = 0;
};

// Verifies a signature over the signed bytes with the key, by the algorithm the signature names
// (RSA PKCS #1 v1.5 with its digest, or KCDSA). An algorithm that names no digest (bare
// rsaEncryption, KCDSA) takes defaultDigest when it is given; without it bare rsaEncryption is
// refused and KCDSA uses SHA-1. 0 when it holds; 10010 for an algorithm of another kind or one
// that does not fit the key; keyError when the key does not load; the crypto layer's code
// otherwise (an invalid signature among them).
int verifySignature(const uint8_t* signedBytes, size_t signedLength, const BIT_STRING_t& signature,
                    const AlgorithmIdentifier_t& algorithm, const SubjectKey& key, int keyError,
                    int defaultDigest = 0);

// SGCRL_CheckCertificate with the certificate's issuer chain already built from the storage
// (issuer first, root last), as path validation holds it: the chain is not built again.
int checkRevocation(SGCRLStatus* status, const SGX509Certificate* certificate,
                    SGCertificateStorage* storage,
                    const std::vector<const SGX509Certificate*>& issuers);

}  // namespace brindlow::service
