// Hand-made DER for the password-based encryption and PKCS #8 tests: the builder of the X.509
// tests, with the two pieces these tests add.
#pragma once

#include <string>

#include "X509TestUtil.h"

namespace der {

using namespace x509test;

// INTEGER with the content bytes as given (for values beyond 64 bits).
inline Bytes integerBytes(const Bytes& content) {
    return tlv(0x02, content);
}

inline Bytes algorithm(const std::string& dotted, const Bytes& parameters = {}) {
    return seq({oid(dotted), parameters});
}

}  // namespace der
