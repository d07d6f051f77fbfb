#include "CertStorage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "Logger.h"
#include "Platform.h"
#include "SGCertificateSet.h"
#include "SGPKCSError.h"
#include "TokenLog.h"
#include "TokenTables.h"
#include "Util.h"

using brindlow::token::kLibraryUnavailable;

CertStorage* CertStorage::certStorageNPKI = nullptr;
CertStorage* CertStorage::certStorageGPKI = nullptr;

namespace {

// Guards the two process-wide storages: the daemon's worker threads reach them as well.
std::mutex gInstanceMutex;
std::once_flag gReleaseAtExit;

Logger* logger() {
    return Logger::getInstance(LOGGER_TYPE_SECURITY_SERVICE);
}

// "<HOME>/Library/Preferences/<kind>"; a home folder whose path does not fit the buffer gives
// no folder rather than a cut one.
std::wstring preferencesFolder(const char* kind) {
    char buffer[2048];
    const std::string home = brindlow::platform::homeDirectory();
    const int n =
        std::snprintf(buffer, sizeof buffer, "%s/Library/Preferences/%s", home.c_str(), kind);
    if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) return std::wstring();
    return Util::stringToWstring(buffer);
}

// The process-wide storages last until the process ends and are freed exactly once then.
void releaseInstances() {
    std::lock_guard lock(gInstanceMutex);
    for (CertStorage** instance : {&CertStorage::certStorageNPKI, &CertStorage::certStorageGPKI}) {
        CertStorage* storage = *instance;
        *instance = nullptr;
        delete storage;
    }
}

bool storageReady() {
    return TM_SERVICE_READY(SGCertificateStorage_CreateByPath) &&
           TM_SERVICE_READY(SGCertificateStorage_Clear);
}

// Empties the storage and reads the folder into it.
int load(SGCertificateStorage* storage, const std::wstring& path, SGCertificateStorageType type) {
    if (!storageReady()) return kLibraryUnavailable;
    TM_SERVICE(SGCertificateStorage_Clear)(storage);
    std::string text = Util::wstringToUtf8(path);
    SGBinary folder{reinterpret_cast<unsigned char*>(text.data()),
                    static_cast<uint32_t>(text.size())};
    return TM_SERVICE(SGCertificateStorage_CreateByPath)(storage, &folder, type);
}

}  // namespace

CertStorage::CertStorage() : path(preferencesFolder("NPKI")) {
    std::memset(&storage, 0, sizeof storage);
}

CertStorage::CertStorage(SGCertificateStorageType type)
    : path(type == SG_CERTIFICATE_STORAGE_GPKI   ? preferencesFolder("GPKI")
           : type == SG_CERTIFICATE_STORAGE_NPKI ? preferencesFolder("NPKI")
                                                 : std::wstring()) {
    std::memset(&storage, 0, sizeof storage);
}

CertStorage::CertStorage(const wchar_t* path) : path(path ? path : L"") {
    std::memset(&storage, 0, sizeof storage);
}

CertStorage::~CertStorage() {
    // Only this object's own storage: the process-wide ones may still be in use.
    if (storageReady()) TM_SERVICE(SGCertificateStorage_Clear)(&storage);
}

CertStorage* CertStorage::getInstance(SGCertificateStorageType type) {
    if (type != SG_CERTIFICATE_STORAGE_NPKI && type != SG_CERTIFICATE_STORAGE_GPKI) return nullptr;
    std::lock_guard lock(gInstanceMutex);
    const bool npki = type == SG_CERTIFICATE_STORAGE_NPKI;
    CertStorage*& instance = npki ? certStorageNPKI : certStorageGPKI;
    if (instance) return instance;
    if (npki) TOKEN_DEBUG(logger(), "%s - getInstance start ...", "getInstance");
    CertStorage* made =
        npki ? new (std::nothrow) CertStorage() : new (std::nothrow) CertStorage(type);
    if (!made) return nullptr;
    std::call_once(gReleaseAtExit, [] { std::atexit(releaseInstances); });
    instance = made;
    if (npki) TOKEN_DEBUG(logger(), "setCertStorage...");
    TOKEN_DEBUG(logger(), "setCertStorage end...");
    // A folder that cannot be read leaves the storage empty.
    load(&made->storage, made->path, type);
    if (npki) TOKEN_DEBUG(logger(), "setCertStorage end...");
    return made;
}

int CertStorage::setCertStorage(SGCertificateStorageType type) {
    CertStorage* instance = getInstance(type);
    if (!instance) return SG_PKI_ERR_ARGUMENT;
    std::lock_guard lock(gInstanceMutex);
    const int result = load(&instance->storage, path, type);
    TOKEN_DEBUG(logger(), "setCertStorage end...");
    return result;
}

int CertStorage::getCertificateChain(_SGCertificateSet* set, SGX509Certificate* certificate) {
    TOKEN_DEBUG(logger(), "%s - getCertificateChain start ...", "getCertificateChain");
    int result = kLibraryUnavailable;
    if (TM_SERVICE_READY(SGCertificateStorage_GenerateCertificateChain))
        result = TM_SERVICE(SGCertificateStorage_GenerateCertificateChain)(
            set, &storage, certificate, SG_CERTSTORE_CHAIN_LDAP, nullptr);
    TOKEN_DEBUG(logger(), "%s - getCertificateChain end(%d) ...", "getCertificateChain", result);
    return result;
}

int CertStorage::findCertificateByIssuerAndSerial(_SGCertificateSet** found, SGBinary* issuer,
                                                  SGBinary* serial) {
    if (!issuer || !serial) return SG_PKI_ERR_ARGUMENT;
    if (!TM_SERVICE_READY(SGCertificateStorage_Find)) return kLibraryUnavailable;
    SGCertificateStorageIssuerSerial key{*issuer, *serial};
    return TM_SERVICE(SGCertificateStorage_Find)(found, &storage, SG_CERTSTORE_FIND_ISSUER_SERIAL,
                                                 &key);
}
