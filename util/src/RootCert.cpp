#include "RootCert.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "Sha256.h"
#include "WideFile.h"

namespace {

constexpr long kMaxRootSize = 10240;

}  // namespace

RootCert::RootCert(const std::wstring& commonName, const std::wstring& targetPath,
                   const std::wstring& srcPath)
    : cn_(commonName), target_(targetPath), src_(srcPath) {}

RootCert::~RootCert() = default;

FILE* RootCert::wfopen(const wchar_t* path, const wchar_t* mode) {
    return ::wfopen(path, mode);
}

void RootCert::bin_to_strhex(unsigned char* bin, unsigned int size, char* out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < size; ++i) {
        out[2 * i] = kDigits[bin[i] >> 4];
        out[2 * i + 1] = kDigits[bin[i] & 0x0F];
    }
}

int RootCert::readFile(const std::wstring& path, unsigned char** data, unsigned int* size) {
    if (!data || !size) return -2;
    *data = nullptr;
    *size = 0;
    FILE* f = wfopen(path.c_str(), L"rb");
    if (!f) return -1;
    long length = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
    if (length < 0) {
        std::fclose(f);
        return -3;
    }
    if (length > kMaxRootSize) {
        std::fclose(f);
        return -6;
    }
    std::rewind(f);
    auto* buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(length) + 1, 1));
    if (!buffer) {
        std::fclose(f);
        return -2;
    }
    size_t total = 0;
    while (total < static_cast<size_t>(length)) {
        const size_t n = std::fread(buffer + total, 1, static_cast<size_t>(length) - total, f);
        if (n == 0) {
            std::free(buffer);
            std::fclose(f);
            return -3;
        }
        total += n;
    }
    std::fclose(f);
    *data = buffer;
    *size = static_cast<unsigned int>(total);
    return 0;
}

int RootCert::writeFile(std::wstring path, unsigned char* data, unsigned int size) {
    const std::string p = wstringToString(path);
    if (p.empty()) return -1;
    return replaceFileContents(p, data, size);
}

std::wstring RootCert::MakeHash(const std::wstring& path) {
    std::wstring text;
    unsigned char* data = nullptr;
    unsigned int size = 0;
    if (readFile(path, &data, &size) == 0 && size > 0) {
        Sha256Context ctx;
        Sha256_Init(&ctx);
        Sha256_Update(&ctx, data, size);
        unsigned char digest[32];
        Sha256_Final(&ctx, digest);
        char hex[65] = {};
        bin_to_strhex(digest, sizeof(digest), hex);
        text.assign(hex, hex + 64);
    }
    std::free(data);
    return text;
}

bool RootCert::CheckEqualHash() {
    return MakeHash(src_) == MakeHash(target_);
}

bool RootCert::CheckExistFile(const std::wstring& path) {
    const std::string p = wstringToString(path);
    struct stat st;
    return !p.empty() && stat(p.c_str(), &st) == 0;
}

bool RootCert::CopyFiletoTarget() {
    unsigned char* data = nullptr;
    unsigned int size = 0;
    // An empty source is nothing to trust: it is not installed.
    bool ok = readFile(src_, &data, &size) == 0 && size > 0 && writeFile(target_, data, size) == 0;
    std::free(data);
    return ok;
}

CRootCertManager::CRootCertManager() : map_(new std::map<std::wstring, RootCert*>) {}

CRootCertManager::~CRootCertManager() {
    InitMapRootCert();
    delete map_;
}

void CRootCertManager::InitMapRootCert() {
    for (auto& [name, cert] : *map_) delete cert;
    map_->clear();
}

void CRootCertManager::AddMapRootCert(const std::wstring& derName, RootCert* cert) {
    if (!cert) return;
    if (!map_->emplace(derName, cert).second) delete cert;
}

RootCert* CRootCertManager::GetRootCertByDerName(const std::wstring& derName) {
    const auto it = map_->find(derName);
    return it == map_->end() ? nullptr : it->second;
}

int CRootCertManager::GetCountMapRootCert() const {
    return static_cast<int>(map_->size());
}

bool CRootCertManager::IsAllFileExist() {
    for (auto& [name, cert] : *map_)
        if (!cert->CheckExistFile(cert->GetTargetPath()) || !cert->CheckEqualHash()) return false;
    return true;
}

std::wstring GroupFingerprint(const std::wstring& hash) {
    std::wstring out;
    for (size_t i = 0; i < hash.size(); ++i) {
        if (i > 0 && i % 4 == 0) out += L' ';
        out += hash[i];
    }
    return out;
}

void CRootCertManager::GetStringHashValue(std::wstring& out) {
    out.clear();
    for (const NPKIRow& row : NPKI_KISA) {
        RootCert* cert = GetRootCertByDerName(row.fileName);
        if (!cert) continue;
        if (cert->CheckExistFile(cert->GetTargetPath()) && cert->CheckEqualHash()) continue;
        out += cert->GetCN() + L" [SHA 256]\n" + GroupFingerprint(cert->GetHash()) + L"\n\n";
    }
}
