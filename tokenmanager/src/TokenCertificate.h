// A certificate decoded through the Service table, released when it goes out of scope.
#pragma once

#include <cstdint>
#include <string>

#include "SGBinary.h"
#include "SGPKCSError.h"
#include "SGX509Certificate.h"
#include "SGX520Name.h"
#include "TokenTables.h"
#include "Util.h"

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

// The largest rendering of an entry that is read whole: a name of any certificate that a medium
// may hold renders within it.
constexpr unsigned int kLargestEntryText = 1024 * 1024;

// The whole text of an entry (names without backslashes), however long it renders, read first
// into room bytes and into larger buffers while it does not fit: 0, or the certificate layer's
// code.
inline int entryText(SGX509Certificate* certificate, int entry, int option, unsigned int room,
                     std::string& out) {
    std::string text(room, '\0');
    int rc = Util::X509Certificate_GetEntry_Remove_SpecialChar(certificate, text.data(), room,
                                                               entry, option);
    for (room = 16 * 1024;
         (rc == SG_X520_ERR_TOO_LONG || rc == SG_PKI_ERR_OUT_OF_RANGE) && room <= kLargestEntryText;
         room *= 4) {
        text.assign(room, '\0');
        rc = Util::X509Certificate_GetEntry_Remove_SpecialChar(certificate, text.data(), room,
                                                               entry, option);
    }
    if (rc == 0) out.assign(text.c_str());
    return rc;
}

}  // namespace brindlow::token
