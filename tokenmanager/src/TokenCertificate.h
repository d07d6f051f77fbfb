// A certificate decoded through the Service table, released when it goes out of scope.
#pragma once

#include <cstdint>

#include "SGBinary.h"
#include "SGPKCSError.h"
#include "SGX509Certificate.h"
#include "TokenTables.h"

namespace brindlow::token {

inline bool certificatesReady() {
    return TM_SERVICE_READY(SGX509Certificate_FromBinary) &&
           TM_SERVICE_READY(SGX509Certificate_Clear) &&
           TM_SERVICE_READY(SGX509Certificate_GetEntry);
}

class DecodedCertificate {
  public:
    DecodedCertificate() = default;
    DecodedCertificate(const DecodedCertificate&) = delete;
    DecodedCertificate& operator=(const DecodedCertificate&) = delete;
    ~DecodedCertificate() {
        if (handle_.certificate) TM_SERVICE(SGX509Certificate_Clear)(&handle_);
    }

    // 0, the certificate layer's code, or kLibraryUnavailable after a failed self-test.
    int decode(const unsigned char* der, unsigned long length) {
        if (!certificatesReady()) return kLibraryUnavailable;
        if (!der || length == 0 || length > UINT32_MAX) return SG_PKI_ERR_ARGUMENT;
        const SGBinary binary{const_cast<unsigned char*>(der), static_cast<uint32_t>(length)};
        return TM_SERVICE(SGX509Certificate_FromBinary)(&handle_, &binary);
    }

    SGX509Certificate* handle() { return &handle_; }
    bool empty() const { return handle_.certificate == nullptr; }

  private:
    SGX509Certificate handle_{};
};

}  // namespace brindlow::token
