// The disk token's writing operations: importing certificates with their keys (from a copy or a
// PKCS #12 file), handing stored pairs out for export, and deleting a certificate.
//
// An import never leaves a medium half changed. Each file is written to a temporary file beside
// its target, flushed, and renamed into place (a key before its certificate), with the file it
// replaces kept under a second name until the import closes. Every change of an open import is
// noted; a failure at any step puts back every file the import changed and removes the folders
// it made, so a copy of a signing and a key-management pair happens whole or not at all. All
// folders below the medium's top are opened from their parent without following a link, so
// nothing is ever written outside the medium's tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <cstring>
#include <string>
#include <vector>

#include "FileToken.h"
#include "ItemId.h"
#include "Logger.h"
#include "MediaNames.h"
#include "SGCipher.h"
#include "TokenKeys.h"
#include "TokenLog.h"
#include "TokenSuite.h"
#include "TokenTables.h"
#include "Util.h"

using brindlow::token::lastCharacter;
using brindlow::token::sameName;
using brindlow::token::spelledAs;
using namespace brindlow::token::keys;
using brindlow::token::suites::clearOutputs;
using brindlow::token::suites::handOut;
using brindlow::token::suites::selectPair;

namespace {

constexpr const char* kSignCert = "signCert.der";
constexpr const char* kSignKey = "signPri.key";
constexpr const char* kKmCert = "kmCert.der";
constexpr const char* kKmKey = "kmPri.key";
constexpr const char* kCaPubs = "CaPubs";
constexpr const char* kGPKISuffixes[] = {"_sig.cer", "_sig.key", "_env.cer", "_env.key"};
constexpr int kKeyFileIterations = 2048;
constexpr int kExportPurpose = 15;

// A file's bytes read from an open folder, wiped and released when they go.
struct ReadBytes {
    unsigned char* data = nullptr;
    unsigned int length = 0;
    int result = Util::MEDIA_NOT_FOUND;
    ReadBytes(int folder, const std::string& name) {
        result = Util::readFileAt(folder, name, Util::kMaxCertificateFileSize, &data, &length);
    }
    ReadBytes(const ReadBytes&) = delete;
    ReadBytes& operator=(const ReadBytes&) = delete;
    ~ReadBytes() {
        if (!data) return;
        TM_BASE(SGMemory_cleanse)(data, length);
        TM_BASE(SGOS_free)(data);
    }
    bool holds(const unsigned char* bytes, unsigned long size) const {
        return result == 0 && length == size && (size == 0 || std::memcmp(data, bytes, size) == 0);
    }
};

// A name taken from a certificate that becomes one file name: never empty, ".", ".." or with a
// separator or NUL in it.
bool isFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool fits(unsigned long length) {
    return length > 0 && length <= Util::kMaxCertificateFileSize;
}

bool exists(int folder, const std::string& name, struct stat* st) {
    return ::fstatat(folder, name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

// ---- The changes of an open import -----------------------------------------------------------

struct FileToken::ImportJournal {
    struct Step {
        enum Kind { MadeFolder, Wrote, Removed } kind = Wrote;
        int folder = -1;  // one of the journal's descriptors
        std::string name;
        Util::PreparedFile kept;  // what the entry held before (Wrote over a file, Removed)
    };

    std::vector<Step> steps;
    std::vector<int> folders;          // descriptors the steps use, closed with the journal
    int lastFolder = -1;               // the folder of the last import of the open import
    std::vector<std::string> holders;  // the holder of each pair imported, to tell the second

    ImportJournal() = default;
    ImportJournal(const ImportJournal&) = delete;
    ImportJournal& operator=(const ImportJournal&) = delete;
    ~ImportJournal() {
        for (int fd : folders) ::close(fd);
    }

    // A descriptor of the folder that lives as long as the journal, or -1.
    int hold(int folder) {
        const int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
        if (fd >= 0) folders.push_back(fd);
        return fd;
    }

    // Everything stays as written: the kept files go (a removal that fails is tried once more,
    // and logged when that fails too: the leftover is never listed, its name is a temporary one).
    void keep(Logger* logger) {
        for (Step& s : steps) {
            if (s.kept.temporary.empty()) continue;
            const char* name = s.kept.temporary.c_str();
            if (::unlinkat(s.folder, name, 0) != 0 && errno != ENOENT &&
                ::unlinkat(s.folder, name, 0) != 0 && errno != ENOENT)
                TOKEN_FATAL(logger, "%s - kept file not removed: %s (%s)", "importFinal", name,
                            std::strerror(errno));
            s.kept.temporary.clear();
        }
        steps.clear();
    }

    // Every step undone, the last first. False when something could not be put back (it is
    // logged, and a kept file that could not be renamed back stays under its temporary name).
    bool undo(Logger* logger) {
        bool whole = true;
        for (size_t i = steps.size(); i-- > 0;) {
            Step& s = steps[i];
            int rc = 0;
            switch (s.kind) {
                case Step::MadeFolder:
                    rc = ::unlinkat(s.folder, s.name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
                    break;
                case Step::Wrote:
                    if (!s.kept.temporary.empty())
                        rc = Util::commitFile(&s.kept) == 0 ? 0 : s.kept.error;
                    else
                        rc = ::unlinkat(s.folder, s.name.c_str(), 0) == 0 ? 0 : errno;
                    break;
                case Step::Removed:
                    rc = Util::commitFile(&s.kept) == 0 ? 0 : s.kept.error;
                    break;
            }
            if (rc != 0) {
                whole = false;
                TOKEN_FATAL(logger, "%s - not put back: %s (%s), kept as %s", "import",
                            s.name.c_str(), std::strerror(rc), s.kept.temporary.c_str());
                s.kept.temporary.clear();  // the only copy of the old content: it stays
            }
            Util::syncFolder(s.folder);
        }
        steps.clear();
        lastFolder = -1;
        holders.clear();
        return whole;
    }
};

namespace {

// One file to put in place: the new content prepared beside it and what it replaces kept.
struct Replacement {
    Util::PreparedFile next, kept;
    std::string name;
    Replacement() = default;
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    ~Replacement() {
        Util::discardFile(&next);
        Util::discardFile(&kept);
    }
};

// Keeps the present file name until the import closes: 0 or the errno. Only what was read whole
// is handed over for a copy; a file system without links cannot keep a file that was not.
int keepPresent(int folder, const std::string& name, Util::PreparedFile& kept) {
    ReadBytes old(folder, name);
    if (Util::keepFileAt(folder, name, old.result == 0 ? old.data : nullptr, old.length, &kept) !=
        0)
        return kept.error ? kept.error : EIO;
    return 0;
}

// Prepares the replacement of the entry name: 0 or the errno of the failure (a folder in the
// file's place, no room, no access).
int prepare(int folder, const std::string& name, const unsigned char* data, unsigned long length,
            Replacement& out) {
    out.name = name;
    struct stat st;
    if (exists(folder, name, &st)) {
        if (S_ISDIR(st.st_mode)) return EISDIR;
        if (int error = keepPresent(folder, name, out.kept)) return error;
    }
    if (Util::prepareFileAt(folder, name, data, static_cast<unsigned int>(length), &out.next) != 0)
        return out.next.error ? out.next.error : EIO;
    return 0;
}

// Renames the prepared file into place and notes it: 0 or the errno.
int commit(FileToken::ImportJournal& journal, int folder, Replacement& r) {
    if (Util::commitFile(&r.next) != 0) return r.next.error ? r.next.error : EIO;
    FileToken::ImportJournal::Step step;
    step.kind = FileToken::ImportJournal::Step::Wrote;
    step.folder = folder;
    step.name = r.name;
    step.kept = r.kept;
    r.kept.temporary.clear();  // the journal has it now
    journal.steps.push_back(std::move(step));
    return 0;
}

// Removes the entry name (kept until the import closes): 0 or the errno; 0 when it is absent.
int removeFile(FileToken::ImportJournal& journal, int folder, const std::string& name) {
    struct stat st;
    if (!exists(folder, name, &st)) return 0;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    FileToken::ImportJournal::Step step;
    step.kind = FileToken::ImportJournal::Step::Removed;
    step.folder = folder;
    step.name = name;
    if (int error = keepPresent(folder, name, step.kept)) return error;
    if (::unlinkat(folder, name.c_str(), 0) != 0) {
        const int error = errno;
        Util::discardFile(&step.kept);
        return error;
    }
    journal.steps.push_back(std::move(step));
    return 0;
}

}  // namespace

void FileToken::endImport(bool keep) {
    if (!journal) return;
    if (keep)
        journal->keep(logger);
    else
        journal->undo(logger);
    delete journal;
    journal = nullptr;
}

int FileToken::openImportFolder(const std::string& folder, bool gpki, ImportJournal& changes) {
    const std::vector<std::string>& roots = gpki ? gpkiFolders : npkiFolders;
    if (roots.empty()) return Util::MEDIA_NOT_FOUND;
    const std::string top = scanTop(roots.front());
    if (folder.size() <= top.size() || folder.compare(0, top.size(), top) != 0 ||
        folder[top.size()] != '/')
        return Util::MEDIA_OUTSIDE;
    // The home folder's NPKI and GPKI folders are the user's own, links included: made as paths.
    if (systemDrive && Util::createDirectory(Util::utf8ToWstring(top)) != 0)
        return Util::MEDIA_NOT_FOUND;
    int fd = Util::openFolderBelow(top, top);
    std::string rest = folder.substr(top.size() + 1);
    while (fd >= 0 && !rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string level = rest.substr(0, slash);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        if (level.empty()) continue;
        bool made = false;
        const int error = Util::makeFolderAt(fd, level, &made);
        if (error != 0) {
            ::close(fd);
            return error == ELOOP     ? Util::MEDIA_LINK
                   : error == ENOTDIR ? Util::MEDIA_WRONG_TYPE
                                      : Util::MEDIA_NOT_FOUND;
        }
        if (made) {
            ImportJournal::Step step;
            step.kind = ImportJournal::Step::MadeFolder;
            step.folder = changes.hold(fd);
            step.name = level;
            if (step.folder < 0) {
                ::unlinkat(fd, level.c_str(), AT_REMOVEDIR);
                ::close(fd);
                return Util::MEDIA_NOT_FOUND;
            }
            changes.steps.push_back(std::move(step));
        }
        const int next = Util::openFolderAt(fd, level);
        ::close(fd);
        fd = next;
    }
    return fd;
}

int FileToken::writeImportPair(ImportJournal& changes, int folder, const std::string& folderPath,
                               const std::string& certName, const unsigned char* cert,
                               unsigned long certLength, const std::string& keyName,
                               const unsigned char* key, unsigned long keyLength,
                               const std::string* kmNames, unsigned int keepNewer) {
    static constexpr const char* kName = "import";
    const int fd = changes.hold(folder);
    if (fd < 0) return TOKEN_ERR_WRITE;
    const auto names = Util::listFolderAt(fd);
    const std::string certEntry = spelledAs(names, certName);
    const std::string keyEntry = spelledAs(names, keyName);
    auto failed = [&](const std::string& name, int error) {
        TOKEN_FATAL(logger, "%s - file write error: %s (%s)", kName,
                    (folderPath + "/" + name).c_str(), std::strerror(error));
        return TOKEN_ERR_WRITE;
    };

    // A stored certificate of the role that is newer than the offered one stays.
    ReadBytes stored(fd, certEntry);
    if (keepNewer && stored.result == 0 && stored.length > 0 &&
        !checkCertificate(stored.data, stored.length, const_cast<unsigned char*>(cert),
                          static_cast<unsigned int>(certLength))) {
        TOKEN_FATAL(logger, "%s - the stored certificate is newer: %s...(%d)", kName,
                    (folderPath + "/" + certEntry).c_str(), TOKEN_ERR_STORED_NEWER);
        return TOKEN_ERR_STORED_NEWER;
    }

    // Everything that takes room or may be refused happens before the first rename.
    Replacement keyFile, certFile;
    if (key && keyLength) {
        if (int error = prepare(fd, keyEntry, key, keyLength, keyFile))
            return failed(keyEntry, error);
    }
    if (cert && certLength) {
        if (int error = prepare(fd, certEntry, cert, certLength, certFile))
            return failed(certEntry, error);
    }
    if (key && keyLength) {
        if (int error = commit(changes, fd, keyFile)) return failed(keyEntry, error);
    }
    if (cert && certLength) {
        if (int error = commit(changes, fd, certFile)) return failed(certEntry, error);
    }
    // The key-management pair of the certificate this one replaces would be left beside it.
    if (kmNames && !(stored.result == 0 && stored.holds(cert, certLength)) &&
        stored.result != Util::MEDIA_NOT_FOUND) {
        for (int i = 0; i < 2; ++i) {
            const std::string entry = spelledAs(names, kmNames[i]);
            if (int error = removeFile(changes, fd, entry)) return failed(entry, error);
        }
    }
    if (int error = Util::syncFolder(fd)) return failed(certEntry, error);
    return 0;
}

// ---- Import ----------------------------------------------------------------------------------

int FileToken::importInit(unsigned char* pin, unsigned long pinLength, InputPINHandler* handler,
                          InputPINHandler::InputPINPurpose purpose) {
    static constexpr const char* kName = "importInit";
    TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
    if (pin && pinLength) {
        const size_t length = ::strnlen(reinterpret_cast<const char*>(pin), pinLength);
        if (length >= sizeof importPIN) {
            // A longer password is refused, never cut: a cut one would protect the keys under a
            // password the user never typed.
            TOKEN_FATAL(logger, "%s - password longer than %u bytes...(%d)", kName,
                        static_cast<unsigned>(sizeof importPIN - 1), TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }
        std::memcpy(importPIN, pin, length);
    } else if (handler) {
        const int rc = handler->inputDoublePin(importPIN, tokenType, purpose);
        if (rc == 1) {
            TOKEN_FATAL(logger, "%s - input pin canceled...(%d)(%d)", kName,
                        TOKEN_ERR_PIN_CANCELLED, rc);
            TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
            return TOKEN_ERR_PIN_CANCELLED;
        }
        if (rc != 0) {
            TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
            return rc;
        }
        if (!std::memchr(importPIN, 0, sizeof importPIN)) {
            TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
            TOKEN_FATAL(logger, "%s - password longer than %u bytes...(%d)", kName,
                        static_cast<unsigned>(sizeof importPIN - 1), TOKEN_ERR_INVALID_DATA);
            return TOKEN_ERR_INVALID_DATA;
        }
    } else {
        TOKEN_FATAL(logger, "%s - do not input pin...(%d)(%d)", kName, TOKEN_ERR_NO_PIN, 0);
        return TOKEN_ERR_NO_PIN;
    }
    // Keys are never written under an empty password.
    if (!importPIN[0]) {
        TOKEN_FATAL(logger, "%s - empty password...(%d)", kName, TOKEN_ERR_NO_PIN);
        return TOKEN_ERR_NO_PIN;
    }
    endImport(true);
    journal = new (std::nothrow) ImportJournal;
    if (!journal) {
        TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
        return TOKEN_ERR_MEMORY;
    }
    return 0;
}

int FileToken::importFinal() {
    endImport(true);
    TM_BASE(SGMemory_cleanse)(importPIN, sizeof importPIN);
    importing = false;
    return 0;
}

int FileToken::import(unsigned char* privateKey, unsigned long privateKeyLength,
                      unsigned char* certificate, unsigned long certificateLength,
                      unsigned char* vidRandom, unsigned long vidRandomLength,
                      unsigned char* dsParameters, unsigned long dsParametersLength,
                      unsigned int keepNewer, const bool& replaceKM) {
    static constexpr const char* kName = "import";
    const size_t pinLength = ::strnlen(importPIN, sizeof importPIN);
    if (!journal || pinLength == 0 || pinLength == sizeof importPIN) {
        TOKEN_FATAL(logger, "%s - no import password: importInit first...(%d)", kName,
                    TOKEN_ERR_NO_PIN);
        return TOKEN_ERR_NO_PIN;
    }
    if (!privateKey || !fits(privateKeyLength) || !certificate || !fits(certificateLength) ||
        (vidRandom && vidRandomLength > UINT32_MAX) ||
        (dsParameters && dsParametersLength > UINT32_MAX)) {
        TOKEN_FATAL(logger, "%s - no key or certificate...(%d)", kName, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    if (!pkcs8Ready() || !TM_SERVICE_READY(SGPKCS5Encrypt) ||
        !TM_SERVICE_READY(SGPKCS8PrivateKeyInfo_Encode) ||
        !TM_SERVICE_READY(SGPKCS8EncryptedPrivateKeyInfo_Encode))
        return TOKEN_ERR_NOT_SUPPORTED;
    // Whatever fails from here takes back everything the open import wrote, so a pair never
    // stays without the others it came with.
    struct UndoUnlessDone {
        ImportJournal* changes;
        Logger* log;
        bool done = false;
        ~UndoUnlessDone() {
            if (!done) changes->undo(log);
        }
    } guard{journal, logger};

    // 1. The PrivateKeyInfo.
    SGBinary parameters{dsParameters, static_cast<uint32_t>(dsParametersLength)};
    SGBinary random{vidRandom, static_cast<uint32_t>(vidRandomLength)};
    SGPKCS8PrivateKeyInfo info{};
    const bool kcdsa = dsParameters && dsParametersLength;
    info.version = 0;
    info.algorithm = kcdsa ? SG_PKCS8_ALGORITHM_KCDSA2 : SG_PKCS8_ALGORITHM_RSA;
    info.parameters = kcdsa ? &parameters : nullptr;
    info.privateKey = SGBinary{privateKey, static_cast<uint32_t>(privateKeyLength)};
    info.randomNum = vidRandom && vidRandomLength ? &random : nullptr;
    SecretBinary plain;
    int rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Encode)(&plain.bin, &info);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - pkcs8 encode error: (%d)", kName, rc);
        return TOKEN_ERR_PKCS8_ENCODE;
    }

    // 2. Encrypted in the key-file profile, and opened again before anything is written.
    const bool npki = IsNPKI(certificate, certificateLength);
    SGPKCS5PBESParam profile{};
    profile.pbeType = SG_PBE_PBES2;
    profile.iterations = kKeyFileIterations;
    profile.cipherId = npki ? SG_CIPHER_SEED : SG_CIPHER_ARIA128;
    EncryptedKeyInfo encrypted;
    rc = TM_SERVICE(SGPKCS5Encrypt)(
        &encrypted.record, plain.bin.data, static_cast<int>(plain.bin.length),
        reinterpret_cast<const unsigned char*>(importPIN), static_cast<int>(pinLength), &profile);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - pkcs5 encrypt error: (%d)", kName, rc);
        return TOKEN_ERR_PKCS5_ENCRYPT;
    }
    SecretBinary keyFile;
    rc = TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Encode)(&keyFile.bin, &encrypted.record);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - pkcs8 encode error: (%d)", kName, rc);
        return TOKEN_ERR_PKCS8_ENCODE;
    }
    {
        EncryptedKeyInfo again;
        SecretBytes opened(encrypted.record.encryptedData.length);
        int openedLength = 0;
        rc = TM_SERVICE(SGPKCS8EncryptedPrivateKeyInfo_Decode)(&again.record, &keyFile.bin);
        if (rc == 0 && opened.data())
            rc = TM_SERVICE(SGPKCS5Decrypt)(opened.data(), &openedLength, &again.record,
                                            reinterpret_cast<const unsigned char*>(importPIN),
                                            static_cast<int>(pinLength));
        if (rc != 0 || !opened.data() || openedLength != static_cast<int>(plain.bin.length) ||
            std::memcmp(opened.data(), plain.bin.data, plain.bin.length) != 0) {
            TOKEN_FATAL(logger, "%s - the key file does not open into the key...(%d)", kName, rc);
            return TOKEN_ERR_PKCS5_ENCRYPT;
        }
    }

    // 3, 4. Where the pair goes, and under which names.
    std::wstring wideFolder;
    if (getPhysicalBasePath(wideFolder, certificate, certificateLength) != 0 ||
        wideFolder.empty()) {
        TOKEN_FATAL(logger, "%s - create directory error: %s", kName, "(no folder)");
        return TOKEN_ERR_WRITE;
    }
    const std::string folderPath = Util::wstringToUtf8(wideFolder);
    std::string base;
    if (!npki) {
        char cn[1024] = {};
        const std::string subject = getDNByCert(certificate, certificateLength);
        Util::parseDN(subject.c_str(), cn, sizeof cn, DNTYPE_CN);
        base = cn;
        if (!isFileName(base)) {
            TOKEN_FATAL(logger, "%s - the common name names no file: %s...(%d)", kName,
                        Util::logText(base).c_str(), TOKEN_ERR_NO_SUBJECT_ENTRY);
            return TOKEN_ERR_NO_SUBJECT_ENTRY;
        }
    }
    const std::string holder = folderPath + "/" + base;
    const bool secondOfHolder = std::find(journal->holders.begin(), journal->holders.end(),
                                          holder) != journal->holders.end();
    const bool signing = !secondOfHolder && IsDigitalSignature(certificate, certificateLength);
    const std::wstring wbase = Util::utf8ToWstring(base);
    auto name = [&](bool cert, bool sign) {
        return Util::wstringToUtf8(getCertFileName(npki, cert, sign, wbase));
    };
    const std::string kmNames[2] = {name(true, false), name(false, false)};

    const int folder = openImportFolder(folderPath, !npki, *journal);
    if (folder < 0) {
        TOKEN_FATAL(logger, "%s - create directory error: %s (%s)", kName, folderPath.c_str(),
                    Util::mediaResultText(folder));
        journal->undo(logger);
        return TOKEN_ERR_WRITE;
    }
    importFolder = wideFolder;
    if (signing && replaceKM) {
        // An earlier key-management pair never stays beside a new signing pair.
        const int fd = journal->hold(folder);
        const auto names = fd < 0 ? std::vector<std::string>() : Util::listFolderAt(fd);
        for (const auto& km : kmNames) {
            const int error = fd < 0 ? EBADF : removeFile(*journal, fd, spelledAs(names, km));
            if (error) {
                TOKEN_FATAL(logger, "%s - RemoveKmFiles is failed. - %s", kName,
                            std::strerror(error));
                ::close(folder);
                journal->undo(logger);
                return TOKEN_ERR_WRITE;
            }
        }
    }
    rc = writeImportPair(*journal, folder, folderPath, name(true, signing), certificate,
                         certificateLength, name(false, signing), keyFile.bin.data,
                         keyFile.bin.length, signing ? kmNames : nullptr, keepNewer);
    if (rc != 0) {
        ::close(folder);
        journal->undo(logger);
        return rc;
    }
    journal->lastFolder = journal->hold(folder);
    journal->holders.push_back(holder);
    ::close(folder);
    guard.done = true;
    return 0;
}

int FileToken::importCAPubs(unsigned char* data, unsigned long length) {
    static constexpr const char* kName = "importCAPubs";
    if (!data) return 0;
    if (!journal || journal->lastFolder < 0 || importFolder.empty()) {
        TOKEN_FATAL(logger, "%s - file write error: %s", kName, "(no open import)");
        return TOKEN_ERR_WRITE;
    }
    if (!fits(length)) {
        TOKEN_FATAL(logger, "%s - file write error: %s", kName, "(no data)");
        return TOKEN_ERR_WRITE;
    }
    const int fd = journal->lastFolder;
    const std::string entry = spelledAs(Util::listFolderAt(fd), kCaPubs);
    Replacement file;
    int error = prepare(fd, entry, data, length, file);
    if (!error) error = commit(*journal, fd, file);
    if (!error) error = Util::syncFolder(fd);
    if (error) {
        TOKEN_FATAL(logger, "%s - file write error: %s (%s)", kName,
                    (Util::wstringToUtf8(importFolder) + "/" + entry).c_str(),
                    std::strerror(error));
        journal->undo(logger);
        return TOKEN_ERR_WRITE;
    }
    return 0;
}

bool FileToken::RemoveKmFiles() {
    if (!journal || journal->lastFolder < 0 || importFolder.empty()) return false;
    const int fd = journal->lastFolder;
    const auto names = Util::listFolderAt(fd);
    for (const char* km : {kKmCert, kKmKey}) {
        if (removeFile(*journal, fd, spelledAs(names, km)) != 0) return false;
    }
    struct stat st;
    return !exists(fd, spelledAs(names, kKmCert), &st) &&
           !exists(fd, spelledAs(names, kKmKey), &st);
}

int FileToken::import(unsigned char* signKey, unsigned long signKeyLength, unsigned char* signCert,
                      unsigned long signCertLength, unsigned char* kmKey, unsigned long kmKeyLength,
                      unsigned char* kmCert, unsigned long kmCertLength, unsigned char* caPubs,
                      unsigned long caPubsLength) {
    static constexpr const char* kName = "import";
    if (!signKey || !fits(signKeyLength) || !signCert || !fits(signCertLength) ||
        (kmKey && kmKeyLength > Util::kMaxCertificateFileSize) ||
        (kmCert && kmCertLength > Util::kMaxCertificateFileSize) ||
        (caPubs && caPubsLength > Util::kMaxCertificateFileSize)) {
        TOKEN_FATAL(logger, "%s - no signing pair...(%d)", kName, TOKEN_ERR_INVALID_DATA);
        return TOKEN_ERR_INVALID_DATA;
    }
    std::wstring wideFolder;
    const int where = getPhysicalBasePath(wideFolder, signCert, signCertLength);
    if (where != 0 || wideFolder.empty()) {
        TOKEN_FATAL(logger, "%s - create directory error: %s", kName, "(no folder)");
        return where == TOKEN_ERR_INVALID_DATA ? TOKEN_ERR_INVALID_DATA : TOKEN_ERR_WRITE;
    }
    const std::string folderPath = Util::wstringToUtf8(wideFolder);
    const bool npki = IsNPKI(signCert, signCertLength);
    std::string base;
    if (!npki) {
        char cn[1024] = {};
        Util::parseDN(getDNByCert(signCert, signCertLength).c_str(), cn, sizeof cn, DNTYPE_CN);
        base = cn;
        if (!isFileName(base)) {
            TOKEN_FATAL(logger, "%s - the common name names no file: %s...(%d)", kName,
                        Util::logText(base).c_str(), TOKEN_ERR_NO_SUBJECT_ENTRY);
            return TOKEN_ERR_NO_SUBJECT_ENTRY;
        }
    }
    const std::wstring wbase = Util::utf8ToWstring(base);
    auto name = [&](bool cert, bool sign) {
        return Util::wstringToUtf8(getCertFileName(npki, cert, sign, wbase));
    };
    const std::string kmNames[2] = {name(true, false), name(false, false)};

    // A transaction of its own: all of it is written, or nothing.
    ImportJournal changes;
    const int folder = openImportFolder(folderPath, !npki, changes);
    if (folder < 0) {
        TOKEN_FATAL(logger, "%s - create directory error: %s (%s)", kName, folderPath.c_str(),
                    Util::mediaResultText(folder));
        changes.undo(logger);
        return TOKEN_ERR_WRITE;
    }
    int rc = writeImportPair(changes, folder, folderPath, name(true, true), signCert,
                             signCertLength, name(false, true), signKey, signKeyLength, kmNames, 0);
    if (rc == 0 && ((kmCert && kmCertLength) || (kmKey && kmKeyLength)))
        rc = writeImportPair(changes, folder, folderPath, kmNames[0], kmCert, kmCertLength,
                             kmNames[1], kmKey, kmKeyLength, nullptr, 0);
    if (rc == 0 && caPubs && caPubsLength) {
        const int fd = changes.hold(folder);
        Replacement file;
        const std::string entry = spelledAs(Util::listFolderAt(fd), kCaPubs);
        int error = fd < 0 ? EBADF : prepare(fd, entry, caPubs, caPubsLength, file);
        if (!error) error = commit(changes, fd, file);
        if (!error) error = Util::syncFolder(fd);
        if (error) {
            TOKEN_FATAL(logger, "%s - file write error: %s (%s)", kName,
                        (folderPath + "/" + entry).c_str(), std::strerror(error));
            rc = TOKEN_ERR_WRITE;
        }
    }
    ::close(folder);
    if (rc != 0) {
        changes.undo(logger);
        return rc == TOKEN_ERR_STORED_NEWER ? rc : TOKEN_ERR_WRITE;
    }
    changes.keep(logger);
    return 0;
}

int FileToken::importEncryptedPrivateKeyInfo(unsigned char* signKey, unsigned long signKeyLength,
                                             unsigned char* signCert, unsigned long signCertLength,
                                             unsigned char* kmKey, unsigned long kmKeyLength,
                                             unsigned char* kmCert, unsigned long kmCertLength,
                                             InputPINHandler*) {
    const int rc = import(signKey, signKeyLength, signCert, signCertLength, kmKey, kmKeyLength,
                          kmCert, kmCertLength, nullptr, 0);
    if (rc != 0)
        TOKEN_FATAL(logger, "%s - import failed...(%d)", "importEncryptedPrivateKeyInfo", rc);
    return rc;
}

// ---- Export ----------------------------------------------------------------------------------

int FileToken::exportCertificateAndKey(unsigned char** key, unsigned long* keyLength,
                                       unsigned char** certificate,
                                       unsigned long* certificateLength, InputPINHandler* handler,
                                       const char* suiteItemId, const char* pairItemId) {
    static constexpr const char* kName = "exportCertificateAndKey";
    clearOutputs(key, keyLength, certificate, certificateLength);
    if (!key || !keyLength || !certificate || !certificateLength) return TOKEN_ERR_INVALID_DATA;
    const SGBinary *cert = nullptr, *stored = nullptr;
    int rc = selectPair(logger, kName, findCert(suiteItemId), pairItemId, false, &cert, &stored);
    if (rc != 0) return rc;
    if (!handler) {
        TOKEN_FATAL(logger, "%s - do not input pin...(%d)(%d)", kName, TOKEN_ERR_NO_PIN, 0);
        return TOKEN_ERR_NO_PIN;
    }
    PinArray pin;
    rc = handler->inputPIN(pin.data, tokenType,
                           static_cast<InputPINHandler::InputPINPurpose>(kExportPurpose));
    if (rc == 1) {
        TOKEN_FATAL(logger, "%s - input pin canceled...(%d)(%d)", kName, TOKEN_ERR_PIN_CANCELLED,
                    rc);
        return TOKEN_ERR_PIN_CANCELLED;
    }
    if (rc != 0) return rc;
    if (!pin.terminated()) return TOKEN_ERR_WRONG_PIN;
    PlainKeyInfo info;
    rc = decryptPrivateKeyFromPKCS8(&info.record, nullptr, nullptr, nullptr, stored->data,
                                    stored->length, pin.bytes(), pin.length(), TOKEN_KEY_INFO);
    if (rc != 0) {
        // Only a key the password does not open is a wrong password.
        TOKEN_FATAL(logger, "%s - decrypt private key from PKCS8 failed...(%d)", kName, rc);
        return rc == TOKEN_ERR_KEY_DECRYPT ? TOKEN_ERR_WRONG_PIN : rc;
    }
    SecretBinary der;
    rc = TM_SERVICE(SGPKCS8PrivateKeyInfo_Encode)(&der.bin, &info.record);
    if (rc != 0) {
        TOKEN_FATAL(logger, "%s - PKCS8 private key info encode failed...(%d)", kName, rc);
        return rc;
    }
    return handOut(der.bin, *cert, key, keyLength, certificate, certificateLength);
}

int FileToken::exportCertificateAndEncryptPrivateKey(unsigned char** key, unsigned long* keyLength,
                                                     unsigned char** certificate,
                                                     unsigned long* certificateLength,
                                                     const char* suiteItemId,
                                                     const char* pairItemId, InputPINHandler*) {
    static constexpr const char* kName = "exportCertificateAndEncryptPrivateKey";
    clearOutputs(key, keyLength, certificate, certificateLength);
    if (!key || !keyLength || !certificate || !certificateLength) return TOKEN_ERR_INVALID_DATA;
    const SGBinary *cert = nullptr, *stored = nullptr;
    int rc = selectPair(logger, kName, findCert(suiteItemId), pairItemId, true, &cert, &stored);
    if (rc != 0) return rc;
    return handOut(*stored, *cert, key, keyLength, certificate, certificateLength);
}

// ---- Deletion --------------------------------------------------------------------------------

int FileToken::deleteCertificate(const char* itemId, InputPINHandler*) {
    static constexpr const char* kName = "deleteCertificate";
    CertificateSuite* suite = findCert(itemId);
    if (!suite || !suite->path) {
        TOKEN_FATAL(logger, "%s - find cert failed...(%d)()", kName, TOKEN_ERR_NO_CERTIFICATE);
        return TOKEN_ERR_NO_CERTIFICATE;
    }
    const std::string path = suite->path;
    const bool gpki = suite->pkiType == PKI_TYPE_GPKI;
    auto refuse = [&](const char* why) {
        TOKEN_FATAL(logger, "%s - %s: %s...(%d)", kName, why, path.c_str(), TOKEN_ERR_DELETE);
        return TOKEN_ERR_DELETE;
    };
    // The folder that holds the suite's entry (the USER folder, or the GPKI class folder), opened
    // level by level without following a link.
    KeyFolder parent;
    if (openFolderOf(path, parent) != 0) return refuse("folder not opened (a link?)");
    const std::string entry = path.substr(path.rfind('/') + 1);
    const auto parentNames = Util::listFolderAt(parent.fd);

    if (gpki) {
        // The certificate on disk must be the one listed.
        const std::string certName = spelledAs(parentNames, entry + kGPKISuffixes[0]);
        ReadBytes onDisk(parent.fd, certName);
        if (!suite->signCert || !onDisk.holds(suite->signCert->data, suite->signCert->length))
            return refuse("the certificate on disk is not the listed one");
        auto isSuiteFile = [&](const std::string& name) {
            for (const char* suffix : kGPKISuffixes)
                if (sameName(name, entry + suffix)) return true;
            return false;
        };
        for (const auto& name : parentNames) {
            if (!isSuiteFile(name)) continue;
            if (::unlinkat(parent.fd, name.c_str(), 0) != 0 && errno != ENOENT) {
                TOKEN_FATAL(logger, "%s - file delete error: %s (%s)", "deleteFile",
                            (parent.path + "/" + name).c_str(), std::strerror(errno));
                return TOKEN_ERR_DELETE;
            }
        }
        for (const auto& name : Util::listFolderAt(parent.fd))
            if (isSuiteFile(name)) return refuse("a file of the suite is left");
    } else {
        // A holder folder that is a link is refused: nothing it leads to is deleted.
        const int holder = Util::openFolderAt(parent.fd, entry);
        if (holder < 0) return refuse("holder folder not opened (a link?)");
        {
            const auto names = Util::listFolderAt(holder);
            ReadBytes onDisk(holder, spelledAs(names, kSignCert));
            ::close(holder);
            if (!suite->signCert || !onDisk.holds(suite->signCert->data, suite->signCert->length))
                return refuse("the certificate on disk is not the listed one");
        }
        if (const int error = Util::deleteFolderAt(parent.fd, entry)) {
            TOKEN_FATAL(logger, "%s - directory delete error: %s(%d)", "deleteDir", path.c_str(),
                        error);
            return TOKEN_ERR_DELETE;
        }
        struct stat st;
        if (exists(parent.fd, entry, &st)) return refuse("the holder folder is left");
    }
    Util::syncFolder(parent.fd);
    eraseCertificateAndKey(itemId);
    releaseSuite(suite);
    return 0;
}
