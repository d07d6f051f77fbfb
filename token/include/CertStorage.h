// One NPKI or GPKI certificate storage of the PKI layer over a folder of the user's Preferences
// folder, and the process-wide storage of each kind, through which chains are built.
#ifndef TOKEN_CERT_STORAGE_H
#define TOKEN_CERT_STORAGE_H

#include <string>

#include "SGBinary.h"
#include "SGCertificateStorage.h"
#include "SGX509Certificate.h"
#include "TokenDefs.h"

class TOKEN_EXPORT CertStorage {
  public:
    // The NPKI folder of the home folder, "<HOME>/Library/Preferences/NPKI".
    CertStorage();
    // The GPKI folder ("<HOME>/Library/Preferences/GPKI") for type 1, the NPKI folder for type
    // 0, an empty path for any other type. A home folder whose path does not fit 2048 bytes
    // gives an empty path.
    explicit CertStorage(SGCertificateStorageType type);
    explicit CertStorage(const wchar_t* path);
    // Frees this object's own storage; the process-wide storages are freed once, at exit.
    ~CertStorage();
    CertStorage(const CertStorage&) = delete;
    CertStorage& operator=(const CertStorage&) = delete;

    // The storage of the type, made and read once on first use; null for a type other than 0
    // and 1. A folder that cannot be read leaves it empty.
    static CertStorage* getInstance(SGCertificateStorageType type);

    // Reads the type's process-wide storage again from this object's folder (it is emptied
    // first): the reader's result; 10001 for another type.
    int setCertStorage(SGCertificateStorageType type);
    // The issuers of the certificate up to a trusted root, fetched over LDAP when missing from
    // this storage and not saved: 0, 10352 or 10353 (the PKI layer's codes).
    int getCertificateChain(_SGCertificateSet* set, SGX509Certificate* certificate);
    // The node of this storage with that issuer Name and serial number (DER): 0 or 10004.
    int findCertificateByIssuerAndSerial(_SGCertificateSet** found, SGBinary* issuer,
                                         SGBinary* serial);

    static CertStorage* certStorageNPKI;
    static CertStorage* certStorageGPKI;

    std::wstring path;
    SGCertificateStorage storage;
};

#endif
