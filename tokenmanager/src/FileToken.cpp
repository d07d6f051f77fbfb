#include "FileToken.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <cwctype>

#include <unistd.h>

#include "ItemId.h"
#include "MediaNames.h"
#include "Logger.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "TokenCertificate.h"
#include "TokenLog.h"
#include "TokenSuite.h"
#include "TokenTables.h"
#include "Util.h"

namespace {

using brindlow::token::DecodedCertificate;
using brindlow::token::identifierPart;
using brindlow::token::lastCharacter;
using brindlow::token::sameName;
using brindlow::token::spelledAs;
using brindlow::token::suites::releasePart;

constexpr const char* kNPKIFolder = "NPKI";
constexpr const char* kGPKIFolder = "GPKI";
constexpr const char* kGPKICertificateFolder = "Certificate";
constexpr const char* kUserFolder = "USER";
constexpr const char* kSignCert = "signCert.der";
constexpr const char* kSignKey = "signPri.key";
constexpr const char* kKmCert = "kmCert.der";
constexpr const char* kKmKey = "kmPri.key";
constexpr const char* kCaPubs = "CaPubs";
constexpr const char* kGPKISignCert = "_sig.cer";
constexpr const char* kGPKISignKey = "_sig.key";
constexpr const char* kGPKIKmCert = "_env.cer";
constexpr const char* kGPKIKmKey = "_env.key";
constexpr const char* kGPKIIssuer = "Government of Korea";
constexpr size_t kGPKIIssuerLength = 19;
constexpr unsigned int kTextSize = 1024;
// What one listing keeps of a medium at most: real media hold a few MiB.
constexpr uint64_t kMaxListedBytes = 64ull << 20;

// The CA folders scanned for user certificates, in three passes: the first six, then KECA, then
// KSIGN. The other program variant scans Lindsign before yessign.
constexpr const char* kFirstPass[] = {"yessign",   "Lindsign", "TradeSign",
                                      "CrossCert", "KICA",     "INIPASS"};
constexpr const char* kSecondPass = "KECA";
constexpr const char* kThirdPass = "KSIGN";

// The names in a folder other than "." and "..", in the order the folder gives them; nothing
// when the folder cannot be opened.
std::optional<std::vector<std::string>> listFolder(const std::string& folder) {
    SGOSDir* dir = TM_BASE(SGOS_opendir)((folder + "/").c_str());
    if (!dir) return std::nullopt;
    std::vector<std::string> names;
    for (;;) {
        SGOSDirEntry entry{};
        SGOSDirEntry* result = nullptr;
        if (TM_BASE(SGOS_readdir_r)(dir, &entry, &result) != 0 || !result) break;
        // A 256-character name arrives without its terminator.
        std::string name(entry.name, ::strnlen(entry.name, sizeof entry.name));
        if (name.empty() || name == "." || name == "..") continue;
        names.push_back(std::move(name));
    }
    TM_BASE(SGOS_closedir)(dir);
    return names;
}

std::string childPath(const std::string& folder, const std::string& name) {
    const auto names = listFolder(folder);
    return folder + "/" + (names ? spelledAs(*names, name) : name);
}

// An open folder of a medium, closed with the object.
class Folder {
  public:
    explicit Folder(int fd) : fd_(fd) {}
    ~Folder() {
        if (fd_ >= 0) ::close(fd_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    bool open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The MediaResult of a failed open.
    int result() const { return fd_ >= 0 ? 0 : fd_; }

  private:
    int fd_;
};

// The medium's root that a scanned path lies below: the longest folder of the list that is a
// prefix of it at a "/".
const std::string* rootOf(const std::vector<std::string>& roots, const std::string& path) {
    const std::string* found = nullptr;
    for (const auto& root : roots) {
        if (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
            path[root.size()] == '/' && (!found || root.size() > found->size()))
            found = &root;
    }
    return found;
}

}  // namespace

// The folder that holds a listing's holder folders (a USER folder) or GPKI files (a class
// folder), opened below the scan's top without following links and kept open for the paths that
// follow in it.
class FileToken::ParentFolder {
  public:
    ParentFolder() = default;
    ParentFolder(const ParentFolder&) = delete;
    ParentFolder& operator=(const ParentFolder&) = delete;
    ~ParentFolder() { close(); }

    // The open parent of path, one of the roots' scans: a descriptor or a MediaResult.
    int open(const FileToken& token, const std::vector<std::string>& roots,
             const std::string& path) {
        const std::string parent = path.substr(0, path.rfind('/'));
        if (fd_ >= 0 && parent == path_) return fd_;
        close();
        path_ = parent;
        const std::string* root = rootOf(roots, path);
        fd_ = root ? Util::openFolderBelow(token.scanTop(*root), parent) : Util::MEDIA_OUTSIDE;
        return fd_;
    }
    // The names in the open parent, listed once.
    const std::vector<std::string>& names() {
        if (!listed_ && fd_ >= 0) names_ = Util::listFolderAt(fd_);
        listed_ = true;
        return names_;
    }

  private:
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        names_.clear();
        listed_ = false;
    }

    std::string path_;
    int fd_ = -1;
    std::vector<std::string> names_;
    bool listed_ = false;
};

namespace {

char* ownText(const std::string& text) {
    auto* copy =
        static_cast<char*>(TM_BASE(SGOS_calloc)(static_cast<uint32_t>(text.size() + 1), 1));
    if (copy) std::memcpy(copy, text.data(), text.size());
    return copy;
}

CertificateSuite* newSuite(const std::string& path, int pkiType) {
    auto* suite = static_cast<CertificateSuite*>(TM_BASE(SGOS_calloc)(sizeof(CertificateSuite), 1));
    if (!suite) return nullptr;
    suite->path = ownText(path);
    suite->pkiType = pkiType;
    if (!suite->path) {
        TM_BASE(SGOS_free)(suite);
        return nullptr;
    }
    return suite;
}

// One item id of a listed row: the identifier (at most 127 characters) and the digit.
void setItemId(char (&out)[128], const std::string& identifier, char digit) {
    std::memset(out, 0, sizeof out);
    const size_t n = std::min<size_t>(identifier.size(), sizeof out - 1);
    std::memcpy(out, identifier.data(), n);
    if (n + 1 < sizeof out) out[n] = digit;
}

// One folder name taken from outside (a certificate, a caller): it must stay one level below its
// parent, so no separator, no "." or ".." and nothing empty.
bool isFolderName(std::wstring_view name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    return name.find_first_of(std::wstring_view(L"/\\\0", 3)) == std::wstring_view::npos;
}

// The value of the first attribute named `name` ("o=", "dc=") in a DN text with "," between its
// RDNs, starting at an attribute (the start, or after "," or "+"), up to the next "," or the end.
std::optional<std::wstring> attributeValue(const std::wstring& dn, std::wstring_view name,
                                           size_t* from = nullptr) {
    size_t at = from ? *from : 0;
    while ((at = dn.find(name, at)) != std::wstring::npos) {
        if (at == 0 || dn[at - 1] == L',' || dn[at - 1] == L'+') {
            const size_t start = at + name.size();
            const size_t end = std::min(dn.find(L',', start), dn.size());
            if (from) *from = end;
            return dn.substr(start, end - start);
        }
        at += name.size();
    }
    if (from) *from = dn.size();
    return std::nullopt;
}

// Whether a value of the subject holds a backslash of its own. The rendering escapes "#+,;<=>"
// with one and leaves a value's own backslash as it is, so a backslash before anything else is
// the value's; the backslashes are dropped afterwards, so this is the one place to see them.
bool hasLiteralBackslash(SGX509Certificate* certificate) {
    char raw[kTextSize] = {};
    if (TM_SERVICE(SGX509Certificate_GetEntry)(certificate, raw, sizeof raw, SG_X509_ENTRY_SUBJECT,
                                               0) != 0)
        return false;  // the rendering of the caller fails the same way
    for (const char* p = raw; *p; ++p) {
        if (*p != '\\') continue;
        if (!p[1] || !std::strchr("#+,;<=>", p[1])) return true;
        ++p;  // an escape and the character it escapes
    }
    return false;
}

bool equalsIgnoringCase(const std::wstring& a, const wchar_t* b) {
    const std::wstring_view bv(b);
    if (a.size() != bv.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(bv[i])) return false;
    return true;
}

}  // namespace

// ---- Construction --------------------------------------------------------------------------

FileToken::FileToken(const char* root, const char* name)
    : Token(name, "DISK DRIVE", InputPINHandler::TOKEN_TYPE_DISK),
      journal(nullptr),
      rootName(ownText(root ? root : "")),
      suites(new SuiteMap),
      systemDrive(false),
      importPIN{} {}

FileToken::~FileToken() {
    endImport(true);
    clearCertificateAndKey();
    delete suites;
    if (rootName) TM_BASE(SGOS_free)(rootName);
    TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
}

void FileToken::setPKIDir(std::string base) {
    const std::string npki = base + "/" + kNPKIFolder;
    const std::string gpki = base + "/" + kGPKIFolder + "/" + kGPKICertificateFolder;
    npkiFolders.push_back(npki);
    gpkiFolders.push_back(gpki);
    std::printf("pkidir:%s\n", npki.c_str());
    if (TM_BASE(SGOS_access)(npki.c_str(), 0) == 0) std::printf("exist");
    std::printf("]");
    std::printf("pkidir:%s\n", gpki.c_str());
    if (TM_BASE(SGOS_access)(gpki.c_str(), 0) == 0) std::printf("exist");
}

void FileToken::setSystemDrive(bool value) {
    systemDrive = value;
}

void FileToken::setNPKIDir(std::vector<char*> folders) {
    for (const char* folder : folders)
        if (folder) npkiFolders.emplace_back(folder);
}

void FileToken::setGPKIDir(std::vector<char*> folders) {
    for (const char* folder : folders)
        if (folder) gpkiFolders.emplace_back(folder);
}

// ---- Suites --------------------------------------------------------------------------------

std::string FileToken::identifierOf(const std::string& path) {
    return brindlow::token::suites::sha1Identifier(path.data(), path.size());
}

void FileToken::releaseSuite(CertificateSuite* suite) {
    brindlow::token::suites::releaseSuite(suite);
}

CertificateSuite* FileToken::findCert(const char* itemId) {
    const std::string identifier = identifierPart(itemId);
    if (identifier.empty() || !suites) return nullptr;
    const auto it = suites->find(identifier);
    return it == suites->end() ? nullptr : it->second;
}

bool FileToken::addCertificateAndKey(CertificateSuite* suite, const char* path) {
    if (!path) return false;
    const std::string identifier = identifierOf(path);
    return !identifier.empty() && addCertificateAndKey(identifier.c_str(), suite);
}

bool FileToken::addCertificateAndKey(const char* identifier, CertificateSuite* suite) {
    if (!identifier || !*identifier || !suite || !suites) return false;
    return suites->emplace(identifier, suite).second;
}

void FileToken::eraseCertificateAndKey(const char* itemId) {
    const std::string identifier = identifierPart(itemId);
    if (!identifier.empty() && suites) suites->erase(identifier);
}

void FileToken::clearCertificateAndKey() {
    if (!suites) return;
    for (auto& [identifier, suite] : *suites) releaseSuite(suite);
    suites->clear();
}

int FileToken::sizeCertificateAndKey() {
    return suites ? static_cast<int>(suites->size()) : 0;
}

// ---- Scans ---------------------------------------------------------------------------------
//
// Below the NPKI and GPKI folders (on a removable medium, below its root) nothing is followed:
// every level is opened from its parent's descriptor without following a symbolic link, and
// certificate and key files are read only as regular files within a bound. A link is skipped
// with a log line, so a medium can never list, read or later write anything outside its own
// tree. The home folder's NPKI and GPKI folders may be links of the user's own.

// Logs an entry that a scan skips for what the medium holds in its place: a link, a FIFO or a
// device where a file is expected, a file too large to be a certificate or key. Entries that are
// merely missing, and stray files where a folder may be, are skipped silently.
void FileToken::logSkipped(const char* operation, const std::string& path, int result,
                           bool fileExpected) {
    if (result == Util::MEDIA_LINK || result == Util::MEDIA_TOO_LARGE ||
        result == Util::MEDIA_SHORT_READ || (fileExpected && result == Util::MEDIA_WRONG_TYPE))
        TOKEN_FATAL(logger, "%s - skipped %s (%s)", operation, path.c_str(),
                    Util::mediaResultText(result));
}

std::string FileToken::scanTop(const std::string& folder) const {
    if (systemDrive) return folder;
    // The medium's root is where its own tree begins: the NPKI and GPKI folders below it are the
    // medium's too, and are not followed either.
    for (const std::string suffix :
         {std::string("/") + kNPKIFolder,
          std::string("/") + kGPKIFolder + "/" + kGPKICertificateFolder}) {
        if (folder.size() > suffix.size() &&
            folder.compare(folder.size() - suffix.size(), suffix.size(), suffix) == 0)
            return folder.substr(0, folder.size() - suffix.size());
    }
    return folder;
}

FileToken::KeyFolder::~KeyFolder() {
    if (fd >= 0) ::close(fd);
}

// The key files are written where the listing read them: their folder is opened the same way,
// without following a link below the medium's top, so a medium cannot have them written
// anywhere else.
int FileToken::openKeyFolder(const CertificateSuite& suite, KeyFolder& folder) {
    const std::string path = suite.path ? suite.path : "";
    std::string signName = kSignKey, kmName = kKmKey;
    int rc;
    if (suite.pkiType == PKI_TYPE_GPKI) {
        const std::string stem = path.substr(path.rfind('/') + 1);
        signName = stem + kGPKISignKey;
        kmName = stem + kGPKIKmKey;
        rc = openFolderOf(path, folder);
    } else {
        rc = openFolderOf(path + "/" + kSignKey, folder);
    }
    if (rc != 0) return rc;
    const auto names = Util::listFolderAt(folder.fd);
    folder.signName = spelledAs(names, signName);
    folder.kmName = spelledAs(names, kmName);
    return 0;
}

int FileToken::openFolderOf(const std::string& file, KeyFolder& folder) {
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos) return Util::MEDIA_OUTSIDE;
    const std::string* root = rootOf(npkiFolders, file);
    if (!root) root = rootOf(gpkiFolders, file);
    if (!root) return Util::MEDIA_OUTSIDE;
    folder.path = file.substr(0, slash);
    folder.fd = Util::openFolderBelow(scanTop(*root), folder.path);
    return folder.fd < 0 ? folder.fd : 0;
}

std::vector<std::string> FileToken::getNPKICertificatePaths() {
    std::vector<std::string> paths;
    // The certificate folders of one CA folder's USER folder, in directory order.
    auto scanCA = [this, &paths](const std::string& npki, const char* ca) {
        Folder root(Util::openFolderBelow(scanTop(npki), npki));
        if (!root.open()) return;
        const std::string caName = spelledAs(Util::listFolderAt(root.fd()), ca);
        Folder caFolder(Util::openFolderAt(root.fd(), caName));
        logSkipped("getNPKICertificatePaths", npki + "/" + caName, caFolder.result(), false);
        if (!caFolder.open()) return;
        const std::string userName = spelledAs(Util::listFolderAt(caFolder.fd()), kUserFolder);
        Folder user(Util::openFolderAt(caFolder.fd(), userName));
        const std::string userPath = npki + "/" + caName + "/" + userName;
        logSkipped("getNPKICertificatePaths", userPath, user.result(), false);
        if (!user.open()) return;
        for (const auto& holder : Util::listFolderAt(user.fd())) {
            const std::string folder = userPath + "/" + holder;
            Folder h(Util::openFolderAt(user.fd(), holder));
            logSkipped("getNPKICertificatePaths", folder, h.result(), false);
            if (!h.open()) continue;  // not a folder
            const auto files = Util::listFolderAt(h.fd());
            const bool hasCert = std::any_of(files.begin(), files.end(),
                                             [](const auto& f) { return sameName(f, kSignCert); });
            const bool hasKey = std::any_of(files.begin(), files.end(),
                                            [](const auto& f) { return sameName(f, kSignKey); });
            if (hasCert && hasKey) paths.push_back(folder);
        }
    };
    std::vector<const char*> first(std::begin(kFirstPass), std::end(kFirstPass));
    if (getProgramName() == 1) std::swap(first[0], first[1]);
    for (const auto& npki : npkiFolders)
        for (const char* ca : first) scanCA(npki, ca);
    for (const auto& npki : npkiFolders) scanCA(npki, kSecondPass);
    for (const auto& npki : npkiFolders) scanCA(npki, kThirdPass);
    return paths;
}

std::vector<std::string> FileToken::getGPKICertificatePaths(bool class1) {
    std::vector<std::string> bases;
    for (const auto& gpki : gpkiFolders) {
        Folder root(Util::openFolderBelow(scanTop(gpki), gpki));
        if (!root.open()) continue;
        const std::string className =
            spelledAs(Util::listFolderAt(root.fd()), class1 ? "class1" : "class2");
        Folder folder(Util::openFolderAt(root.fd(), className));
        logSkipped("getGPKICertificatePaths", gpki + "/" + className, folder.result(), false);
        if (!folder.open()) continue;
        for (const auto& name : Util::listFolderAt(folder.fd())) {
            if (name.find(kGPKISignCert) == std::string::npos) continue;
            const std::string path = gpki + "/" + className + "/" + name;
            bases.push_back(path.substr(0, path.size() - std::strlen(kGPKISignCert)));
        }
    }
    return bases;
}

SGBinary* FileToken::readPart(int folder, const std::string& folderPath,
                              const std::vector<std::string>& names, const std::string& name) {
    const std::string spelled = spelledAs(names, name);
    unsigned char* data = nullptr;
    unsigned int length = 0;
    const int rc = Util::readFileAt(folder, spelled, Util::kMaxCertificateFileSize, &data, &length);
    if (rc != 0) {
        // A missing part is normal; anything else the medium holds in its place is logged.
        logSkipped("readPart", folderPath + "/" + spelled, rc, true);
        return nullptr;
    }
    SGBinary* bin = length ? TM_BASE(SGBinary_New)(0) : nullptr;
    if (bin && TM_BASE(SGBinary_Set)(bin, data, length) != 0) {
        TM_BASE(SGBinary_Free)(bin);
        bin = nullptr;
    }
    // Key files are encrypted, but their bytes are wiped all the same.
    TM_BASE(SGMemory_cleanse)(data, length);
    TM_BASE(SGOS_free)(data);
    return bin;
}

CertificateSuite* FileToken::getNPKICertificateSuite(const std::string& folder,
                                                     ParentFolder& parents) {
    const int parent = parents.open(*this, npkiFolders, folder);
    Folder holder(parent >= 0 ? Util::openFolderAt(parent, folder.substr(folder.rfind('/') + 1))
                              : parent);
    CertificateSuite* suite = newSuite(folder, PKI_TYPE_NPKI);
    if (!suite) return nullptr;
    if (holder.open()) {
        const auto names = Util::listFolderAt(holder.fd());
        auto part = [&](const char* name) { return readPart(holder.fd(), folder, names, name); };
        suite->signCert = part(kSignCert);
        suite->signKey = part(kSignKey);
        suite->kmCert = part(kKmCert);
        suite->kmKey = part(kKmKey);
        suite->caPubs = part(kCaPubs);
    }

    DecodedCertificate sign;
    if (!suite->signCert || !suite->signKey ||
        sign.decode(suite->signCert->data, suite->signCert->length) != 0) {
        TOKEN_FATAL(logger, " %s - valid certificate failed (%s)", "getNPKICertificateSuite",
                    folder.c_str());
        releaseSuite(suite);
        return nullptr;
    }
    if (suite->kmCert) {
        DecodedCertificate km;
        if (km.decode(suite->kmCert->data, suite->kmCert->length) != 0 || !suite->kmKey) {
            TOKEN_FATAL(logger, " %s - valid km certificate failed (%s)", "getNPKICertificateSuite",
                        folder.c_str());
            releasePart(suite->kmCert, false);
            releasePart(suite->kmKey, true);
        }
    }
    return suite;
}

CertificateSuite* FileToken::getGPKICertificateSuite(const std::string& base,
                                                     ParentFolder& parents) {
    const size_t slash = base.rfind('/');
    const std::string folder = base.substr(0, slash);
    const std::string stem = base.substr(slash + 1);
    const int opened = parents.open(*this, gpkiFolders, base);
    CertificateSuite* suite = newSuite(base, PKI_TYPE_GPKI);
    if (!suite) return nullptr;
    if (opened >= 0) {
        const auto& names = parents.names();
        auto part = [&](const char* suffix) {
            return readPart(opened, folder, names, stem + suffix);
        };
        suite->signCert = part(kGPKISignCert);
        suite->signKey = part(kGPKISignKey);
        suite->kmCert = part(kGPKIKmCert);
        suite->kmKey = part(kGPKIKmKey);
    }

    DecodedCertificate sign;
    if (!suite->signCert || sign.decode(suite->signCert->data, suite->signCert->length) != 0) {
        releaseSuite(suite);
        return nullptr;
    }
    char issuer[kTextSize] = {};
    char organization[kTextSize] = {};
    const int rc = Util::X509Certificate_GetEntry_Remove_SpecialChar(
        sign.handle(), issuer, sizeof issuer, SG_X509_ENTRY_ISSUER, 0);
    if (rc == 0) Util::parseDN(issuer, organization, sizeof organization, DNTYPE_O);
    if (rc != 0 || TM_BASE(SGOS_strncasecmp)(organization, kGPKIIssuer, kGPKIIssuerLength) != 0) {
        TOKEN_FATAL(logger, "%s - is not GPKI Certificate (%s)", "getGPKICertificateSuite",
                    organization);
        releaseSuite(suite);
        return nullptr;
    }
    return suite;
}

// ---- Listing -------------------------------------------------------------------------------

int FileToken::getCertificateList(ShortCertificate** list, unsigned int* count, int filter,
                                  InputPINHandler*, const char*) {
    // Set first, so that no path leaves the caller with a stale pointer to release.
    if (list) *list = nullptr;
    if (count) *count = 0;
    clearCertificateAndKey();
    if (!list || !count) return TOKEN_ERR_INVALID_DATA;

    const auto bits = static_cast<unsigned int>(filter);
    const bool npki = bits <= 1 || (bits & 0x1);
    const bool gpkiClass2 = bits > 1 && (bits & 0x10);
    const bool gpkiClass1 = bits > 1 && (bits & 0x100);

    const std::vector<std::string> npkiPaths = getNPKICertificatePaths();
    const std::vector<std::string> class2Bases = getGPKICertificatePaths(false);
    const std::vector<std::string> class1Bases = getGPKICertificatePaths(true);
    if (npkiPaths.empty() && class2Bases.empty() && class1Bases.empty()) {
        TOKEN_INFO(logger, "getCertificateList - Could not find user certificate & privatekey");
        return 0;
    }

    // Every valid suite is kept, listed or not, so that later lookups find deselected kinds.
    // However many holder folders a medium makes, what the listing keeps in memory is bounded.
    std::vector<std::string> rows;
    uint64_t held = 0;
    bool full = false;
    auto take = [&](const std::string& path, auto make, bool listed) {
        if (full) return;
        if (held > kMaxListedBytes) {
            full = true;
            TOKEN_FATAL(logger, "%s - listing stopped: more than %u MiB of certificates and keys",
                        "getCertificateList", static_cast<unsigned>(kMaxListedBytes >> 20));
            return;
        }
        CertificateSuite* suite = make(path);
        if (!suite) return;
        for (const SGBinary* part :
             {suite->signCert, suite->signKey, suite->kmCert, suite->kmKey, suite->caPubs})
            if (part) held += part->length;
        const std::string identifier = identifierOf(path);
        if (identifier.empty() || !addCertificateAndKey(identifier.c_str(), suite)) {
            // A path met twice keeps its first suite and its one row.
            releaseSuite(suite);
            return;
        }
        if (listed) rows.push_back(identifier);
    };
    // The holders of one USER folder, and the bases of one class folder, come one after the
    // other: their folder is opened once for all of them.
    ParentFolder parents;
    auto npkiSuite = [&](const std::string& path) {
        return getNPKICertificateSuite(path, parents);
    };
    auto gpkiSuite = [&](const std::string& base) {
        return getGPKICertificateSuite(base, parents);
    };
    for (const auto& path : npkiPaths) take(path, npkiSuite, npki);
    for (const auto& base : class2Bases) take(base, gpkiSuite, gpkiClass2);
    for (const auto& base : class1Bases) take(base, gpkiSuite, gpkiClass1);

    if (rows.empty()) return 0;  // no block to release for no rows
    auto* rowsOut = reinterpret_cast<ShortCertificate*>(
        allocMemory(static_cast<unsigned int>(rows.size() * sizeof(ShortCertificate))));
    if (!rowsOut) {
        TOKEN_FATAL(logger, "%s - memory allocation failed...(%d)", "getCertificateList",
                    TOKEN_ERR_MEMORY);
        return TOKEN_ERR_MEMORY;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        ShortCertificate& row = rowsOut[i];
        setItemId(row.signCertID, rows[i], TOKEN_ITEM_SIGN_CERT);
        setItemId(row.signKeyID, rows[i], TOKEN_ITEM_SIGN_KEY);
        const CertificateSuite* suite = findCert(row.signCertID);
        if (!suite) continue;
        row.pkiType = suite->pkiType;
        if (suite->kmCert)
            setItemId(row.kmCertID, rows[i], TOKEN_ITEM_KM_CERT);
        else
            std::memcpy(row.kmCertID, row.signCertID, sizeof row.kmCertID);
        if (suite->kmKey)
            setItemId(row.kmKeyID, rows[i], TOKEN_ITEM_KM_KEY);
        else
            std::memcpy(row.kmKeyID, row.signKeyID, sizeof row.kmKeyID);
        generateShortCertificateFromBinary(&row, suite->signCert->data, suite->signCert->length,
                                           suite->kmCert ? suite->kmCert->data : nullptr,
                                           suite->kmCert ? suite->kmCert->length : 0);
    }
    *list = rowsOut;
    *count = static_cast<unsigned int>(rows.size());
    return 0;
}

int FileToken::getCertificate(const char* itemId, unsigned char** der, unsigned long* length) {
    if (der) *der = nullptr;
    if (length) *length = 0;
    const CertificateSuite* suite = findCert(itemId);
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", "getCertificate",
                    TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!der || !length) return TOKEN_ERR_INVALID_DATA;
    const SGBinary* certificate = nullptr;
    switch (lastCharacter(itemId)) {
        case TOKEN_ITEM_SIGN_CERT:
        case TOKEN_ITEM_SIGN_KEY:
            certificate = suite->signCert;
            break;
        case TOKEN_ITEM_KM_CERT:
        case TOKEN_ITEM_KM_KEY:
            certificate = suite->kmCert;
            break;
        default:
            break;
    }
    if (!certificate || !certificate->data) return 0;
    *der = duplicateMemory(certificate->data, certificate->length);
    if (!*der) return TOKEN_ERR_MEMORY;
    *length = certificate->length;
    return 0;
}

int FileToken::getPath(const char* itemId, unsigned char** path, unsigned long* length) {
    if (path) *path = nullptr;
    if (length) *length = 0;
    const CertificateSuite* suite = findCert(itemId);
    if (!suite) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", "getPath", TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    if (!path || !length) return TOKEN_ERR_INVALID_DATA;
    std::string folder;
    if (suite->pkiType == PKI_TYPE_GPKI) {
        if (gpkiFolders.empty()) return TOKEN_ERR_NO_CERTIFICATE;
        folder = gpkiFolders.front() + "/class2";
    } else {
        folder = suite->path ? suite->path : "";
    }
    *path = duplicateMemory(reinterpret_cast<unsigned char*>(folder.data()),
                            static_cast<unsigned int>(folder.size()));
    if (!*path) return TOKEN_ERR_MEMORY;
    *length = folder.size();
    return 0;
}

char* FileToken::getNPKIRoot() {
    return npkiFolders.empty() ? nullptr : npkiFolders.front().data();
}

bool FileToken::checkNPKI(const char* itemId) {
    const CertificateSuite* suite = findCert(itemId);
    return !suite || suite->pkiType != PKI_TYPE_GPKI;
}

// ---- Writing targets -----------------------------------------------------------------------

int FileToken::getPhysicalBasePath(std::wstring& out, unsigned char* certificate,
                                   const unsigned long& certificateLength) {
    out.clear();
    DecodedCertificate decoded;
    const int rc = decoded.decode(certificate, certificateLength);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - invalid cert(%d)(%d)", "getPhysicalBasePath", rc,
                    TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }

    // GPKI: the subject's O= value is exactly the government's; anything unreadable is NPKI.
    char subject[kTextSize] = {};
    char organization[kTextSize] = {};
    if (Util::X509Certificate_GetEntry_Remove_SpecialChar(decoded.handle(), subject, sizeof subject,
                                                          SG_X509_ENTRY_SUBJECT, 0) == 0 &&
        subject[0]) {
        Util::parseDN(subject, organization, sizeof organization, DNTYPE_O);
        if (std::strcmp(organization, kGPKIIssuer) == 0) {
            if (gpkiFolders.empty()) return TOKEN_ERR_NO_SUBJECT_ENTRY;
            out = Util::utf8ToWstring(gpkiFolders.front() + "/class2");
            return 0;
        }
    }

    std::memset(subject, 0, sizeof subject);
    if (Util::X509Certificate_GetEntry_Remove_SpecialChar(decoded.handle(), subject, sizeof subject,
                                                          SG_X509_ENTRY_SUBJECT,
                                                          SG_X509_FLAG_LOWER_CASE) != 0 ||
        npkiFolders.empty() || hasLiteralBackslash(decoded.handle())) {
        TOKEN_FATAL(logger, "%s - cert has unknown entry(%s)(%d)", "getPhysicalBasePath", "subject",
                    TOKEN_ERR_NO_SUBJECT_ENTRY);
        return TOKEN_ERR_NO_SUBJECT_ENTRY;
    }

    // The folder name: the subject with every blank after a comma removed.
    std::wstring name;
    for (wchar_t c : Util::utf8ToWstring(subject)) {
        // However many: the last kept character stays the comma.
        if (c == L' ' && !name.empty() && name.back() == L',') continue;
        name += c;
    }

    std::wstring ca;
    if (auto o = attributeValue(name, L"o=")) {
        ca = *o;
    } else {
        size_t from = 0;
        while (auto dc = attributeValue(name, L"dc=", &from)) {
            if (equalsIgnoringCase(*dc, L"seoulmetro")) {
                ca = L"KSIGN";
                break;
            }
        }
    }
    // Text from a certificate never leaves the NPKI tree.
    if (!isFolderName(ca) || !isFolderName(name)) {
        TOKEN_FATAL(logger, "%s - cert has unknown entry(%s)(%d)", "getPhysicalBasePath", subject,
                    TOKEN_ERR_NO_SUBJECT_ENTRY);
        return TOKEN_ERR_NO_SUBJECT_ENTRY;
    }

    // Folders that exist already are used as they are spelled on the medium.
    const std::string npki = npkiFolders.front();
    const std::string caFolder = childPath(npki, Util::wstringToUtf8(ca));
    const std::string userFolder = childPath(caFolder, kUserFolder);
    const std::string holder = childPath(userFolder, Util::wstringToUtf8(name));
    out = Util::utf8ToWstring(holder);
    return 0;
}

int FileToken::enableToken(const char* caName) {
    if (npkiFolders.empty() || !caName || !isFolderName(Util::utf8ToWstring(caName))) {
        TOKEN_FATAL(logger, "%s - create CA directory error: %s", "enableToken",
                    caName ? caName : "");
        return 1;
    }
    const std::string npki = npkiFolders.front();
    if (Util::createDirectory(Util::utf8ToWstring(npki)) != 0) {
        TOKEN_FATAL(logger, "%s - create NPKI directory error: %s", "enableToken", npki.c_str());
        return 1;
    }
    const std::string ca = childPath(npki, caName);
    if (Util::createDirectory(Util::utf8ToWstring(ca)) != 0) {
        TOKEN_FATAL(logger, "%s - create CA directory error: %s", "enableToken", ca.c_str());
        return 1;
    }
    const std::string user = childPath(ca, kUserFolder);
    if (Util::createDirectory(Util::utf8ToWstring(user)) != 0) {
        TOKEN_FATAL(logger, "%s - create USER directory error: %s", "enableToken", user.c_str());
        return 1;
    }
    const std::wstring dummy = Util::utf8ToWstring(user + "/dummy.txt");
    unsigned char bytes[] = {'q', 'v', '_', 'd', 'u', 'm', 'm', 'y'};
    if (int rc = Util::writeFile(dummy, bytes, sizeof bytes); rc != 0) {
        TOKEN_FATAL(logger, "%s - SGFile_Write error: %s, %d", "enableToken",
                    Util::wstringToUtf8(dummy).c_str(), rc);
        return 1;
    }
    Util::deleteFile(dummy);
    return 0;
}

int FileToken::accessCert(const char* itemId) {
    char* path = nullptr;
    const int rc = Token::getPath(itemId, &path);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - getPath error: %d", "accessCert", rc);
        return rc;
    }
    if (!path) {
        TOKEN_FATAL(logger, "%s - memory allocation failed", "accessCert");
        return TOKEN_ERR_MEMORY;
    }
    const std::string folder = path;
    freeMemory(path, 0);
    const auto names = listFolder(folder).value_or(std::vector<std::string>{});
    for (const char* file : {kSignCert, kSignKey, kKmCert, kKmKey}) {
        const std::wstring target = Util::utf8ToWstring(folder + "/" + spelledAs(names, file));
        if (!Util::fileExist(target)) continue;
        if (int result = Util::checkFileAuth(target); result != 0) {
            TOKEN_FATAL(logger, "%s - %s access error: %s, %d", "accessCert", file,
                        Util::wstringToUtf8(target).c_str(), result);
            return 1;
        }
    }
    return 0;
}

// ---- Fixed answers -------------------------------------------------------------------------

int FileToken::notSupported(const char* operation) {
    TOKEN_FATAL(logger, "%s - not supported...(%d)", operation, TOKEN_ERR_NOT_SUPPORTED);
    return TOKEN_ERR_NOT_SUPPORTED;
}

int FileToken::initToken(unsigned char*, unsigned long, unsigned char*) {
    return TOKEN_ERR_INIT_NOT_SUPPORTED;
}

int FileToken::setPIN(unsigned char*, unsigned long, unsigned char*, unsigned long) {
    return TOKEN_ERR_SETPIN_NOT_SUPPORTED;
}

int FileToken::finalizeToken() {
    return 0;
}

int FileToken::getTokenGrade() {
    return 0;
}

int FileToken::getTokenStatus() {
    return 0;
}

int FileToken::pushCertificate(InputPINHandler*, const char*, const unsigned char*, unsigned long,
                               const unsigned char*, unsigned long) {
    return TOKEN_ERR_NOT_SUPPORTED;
}

int FileToken::setTokenOptions(void*) {
    return TOKEN_ERR_NOT_SUPPORTED;
}
