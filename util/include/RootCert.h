// The KISA root certificates: each root the installer carries, with its fingerprint, and the
// manager that decides whether the user has to confirm them.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "NPKITable.h"

class RootCert {
  public:
    RootCert(const std::wstring& commonName, const std::wstring& targetPath,
             const std::wstring& srcPath);
    virtual ~RootCert();

    std::wstring GetCN() const { return cn_; }
    std::wstring GetTargetPath() const { return target_; }
    std::wstring GetSrcPath() const { return src_; }
    std::wstring GetHash() const { return hash_; }
    void SetHash(const std::wstring& hash) { hash_ = hash; }

    // 64 upper-case hexadecimal digits of the file's SHA-256; "" when the file cannot be read,
    // is empty or is larger than 10240 bytes.
    std::wstring MakeHash(const std::wstring& path);
    // The source's and the target's fingerprints, computed afresh, are equal.
    bool CheckEqualHash();
    bool CheckExistFile(const std::wstring& path);
    // Installs the source at the target; true when written whole.
    bool CopyFiletoTarget();

    // 0 with the bytes (release with free) and their count; -1 cannot open, -6 larger than
    // 10240 bytes, -2 no memory, -3 a read failed before the size was reached.
    int readFile(const std::wstring& path, unsigned char** data, unsigned int* size);
    // 0; -1 cannot be created; -2 not written whole (the old file stays as it was).
    int writeFile(std::wstring path, unsigned char* data, unsigned int size);
    FILE* wfopen(const wchar_t* path, const wchar_t* mode);
    // Two upper-case hexadecimal digits per byte, no terminator.
    void bin_to_strhex(unsigned char* bin, unsigned int size, char* out);

  private:
    std::wstring cn_;
    std::wstring target_;
    std::wstring src_;
    std::wstring hash_;
};

class CRootCertManager {
  public:
    CRootCertManager();
    ~CRootCertManager();
    CRootCertManager(const CRootCertManager&) = delete;
    CRootCertManager& operator=(const CRootCertManager&) = delete;

    // Deletes every root and empties the map.
    void InitMapRootCert();
    // Takes cert over; a name already present keeps its object and cert is deleted.
    void AddMapRootCert(const std::wstring& derName, RootCert* cert);
    RootCert* GetRootCertByDerName(const std::wstring& derName);
    int GetCountMapRootCert() const;
    // True when every root is installed with the content the installer carries.
    bool IsAllFileExist();
    // The text the user confirms: for each root that needs installing, in table order,
    // "<CN> [SHA 256]", a line feed, the fingerprint in sixteen groups of four, two line feeds.
    void GetStringHashValue(std::wstring& out);

  private:
    std::map<std::wstring, RootCert*>* map_;
};

// The fingerprint in groups of four digits separated by single blanks.
std::wstring GroupFingerprint(const std::wstring& hash);
