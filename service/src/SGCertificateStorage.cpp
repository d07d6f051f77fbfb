#include "SGCertificateStorage.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "AuthorityKeyIdentifier.h"
#include "CRLDistributionPoints.h"
#include "Certificate.h"
#include "Extensions.h"
#include "SGLDAP.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGX509Extension.h"
#include "SGX509Text.h"
#include "SubjectKeyIdentifier.h"

using namespace brindlow::service;

// The records cross the table interface: their layout is fixed.
static_assert(offsetof(SGCertificateSetList, set) == 0);
static_assert(offsetof(SGCertificateSetList, next) == sizeof(SGCertificateSet));
static_assert(sizeof(SGCertificateSetList) == 96);
static_assert(offsetof(SGCertificateStorage, type) == 0);
static_assert(offsetof(SGCertificateStorage, first) == 8);
static_assert(sizeof(SGCertificateStorage) == 64);
static_assert(sizeof(SGCertificateStorageIssuerSerial) == 32);

namespace {

// The NPKI authority folders, in the order tested.
constexpr const char* kNpkiAuthorities[] = {"KISA",      "KICA",     "yessign",
                                            "CrossCert", "Lindsign", "TradeSign"};

// --- Folders and files -----------------------------------------------------------------------

struct FolderEntry {
    std::string name;
    bool folder = false;
    bool file = false;  // a regular file; links are neither
};

// Names compared ignoring case over at most 256 characters.
bool sameName(const std::string& name, const char* wanted) {
    return SG_GBW(SGOS_strncasecmp)(name.c_str(), wanted, 256) == 0;
}

// The entries of a folder other than "." and "..": false when it cannot be opened; *last gets
// the last directory-reading result (0 when the folder was read to its end).
bool listFolder(std::vector<FolderEntry>& out, const std::string& path, int* last = nullptr) {
    SGOSDir* dir = SG_GBW(SGOS_opendir)(path.c_str());
    if (!dir) return false;
    int result = 0;
    for (;;) {
        SGOSDirEntry entry;
        std::memset(&entry, 0, sizeof entry);
        SGOSDirEntry* next = nullptr;
        result = SG_GBW(SGOS_readdir_r)(dir, &entry, &next);
        if (result != 0 || !next) break;
        FolderEntry item;
        item.name.assign(entry.name, strnlen(entry.name, sizeof entry.name));
        if (item.name.empty() || item.name == "." || item.name == "..") continue;
        item.folder = (entry.type & SGOS_DT_DIR) != 0;
        item.file = (entry.type & SGOS_DT_FILE) != 0;
        out.push_back(std::move(item));
    }
    SG_GBW(SGOS_closedir)(dir);
    if (last) *last = result;
    return true;
}

// Frees the bytes with the scope; key bytes are wiped.
struct FileBytes {
    SGBinary bytes{};
    bool secret = false;
    ~FileBytes() {
        if (secret)
            SG_GBW(SGBinary_Cleanse)(&bytes);
        else
            SG_GBW(SGBinary_Reset)(&bytes);
    }
    const SGBinary* get() const { return bytes.data ? &bytes : nullptr; }
};

// A whole regular file of at most SG_CERTSTORE_FILE_MAX bytes. Non-blocking, so that a pipe put
// in place of the file is refused instead of waited on, and never through a symbolic link, so a
// medium cannot make the storage read a file outside its tree. The base table's open has no
// no-follow flag, so this one open is the platform's own.
bool readRegularFile(FileBytes& out, const std::string& path) {
    // Names compared ignoring case can match twice in one folder: the first file read stays.
    if (out.bytes.data) return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = SG_GBW(SGOS_fstat)(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
              static_cast<unsigned long long>(st.st_size) <= SG_CERTSTORE_FILE_MAX;
    unsigned char* buffer = nullptr;
    const auto size = ok ? static_cast<uint32_t>(st.st_size) : 0u;
    if (ok) ok = (buffer = static_cast<unsigned char*>(SG_GBW(SGMemory_malloc)(size))) != nullptr;
    for (uint32_t done = 0; ok && done < size;) {
        const ssize_t n = SG_GBW(SGOS_read)(fd, buffer + done, size - done);
        if (n <= 0)
            ok = false;
        else
            done += static_cast<uint32_t>(n);
    }
    SG_GBW(SGOS_close)(fd);
    if (!ok) {
        if (buffer) {
            SG_GBW(SGMemory_cleanse)(buffer, size);
            SG_GBW(SGMemory_free)(buffer);
        }
        return false;
    }
    out.bytes.data = buffer;
    out.bytes.length = size;
    return true;
}

bool hasBytes(const SGBinary* binary) {
    return binary && binary->data && binary->length > 0;
}

bool folderText(std::string& out, const SGBinary* folder) {
    if (!hasBytes(folder)) return false;
    out.assign(reinterpret_cast<const char*>(folder->data), folder->length);
    if (!out.empty() && out.back() == '\0') out.pop_back();
    return !out.empty() && out.find('\0') == std::string::npos;
}

// --- Elements --------------------------------------------------------------------------------

SGCertificateSetList* newElement() {
    return static_cast<SGCertificateSetList*>(
        SG_GBW(SGMemory_calloc)(1, sizeof(SGCertificateSetList)));
}

void freeElement(SGCertificateSetList* element) {
    SGCertificateSet_Clear(&element->set);
    SG_GBW(SGMemory_free)(element);
}

void appendElement(SGCertificateStorage* storage, SGCertificateSetList* element) {
    element->next = nullptr;
    SGCertificateSetList** link = &storage->first;
    while (*link) link = &(*link)->next;
    *link = element;
}

// Moves a single node into the set (the head when it is empty, else a new last node).
bool moveNode(SGCertificateSet* head, SGCertificateSet* single) {
    SGCertificateSet* node = head;
    if (head->type != 0) {
        node = static_cast<SGCertificateSet*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGCertificateSet)));
        if (!node) return false;
    }
    *node = *single;
    node->prev = node->next = nullptr;
    std::memset(single, 0, sizeof *single);
    if (node != head) {
        SGCertificateSet* last = head;
        while (last->next) last = last->next;
        last->next = node;
        node->prev = last;
    }
    return true;
}

// Adds a node for a certificate read from a file into the set; a file that is not a
// certificate gives no node.
void addFileNode(SGCertificateSet* set, int type, const SGBinary* certificate, const SGBinary* key,
                 const std::string& path) {
    SGCertificateSet node{};
    if (SGCertificateSet_Add(&node, type, certificate, key, path.c_str(), "FROM=FILE") != 0 ||
        !node.x509Certificate.certificate || !moveNode(set, &node))
        SGCertificateSet_Clear(&node);
}

// A set of the reader becomes an element of the storage; an empty one is dropped.
void addSetElement(SGCertificateStorage* storage, SGCertificateSet* set) {
    if (set->type == 0) return;
    SGCertificateSetList* element = newElement();
    if (!element) {
        SGCertificateSet_Clear(set);
        return;
    }
    element->set = *set;
    // The head moved: the second node points back to its new place.
    if (element->set.next) element->set.next->prev = &element->set;
    std::memset(set, 0, sizeof *set);
    appendElement(storage, element);
}

// --- Readers ---------------------------------------------------------------------------------

void readCaFile(SGCertificateStorage* storage, const std::string& path) {
    FileBytes bytes;
    if (!readRegularFile(bytes, path)) return;
    SGCertificateSet set{};
    addFileNode(&set, SG_CERTSET_CA, bytes.get(), nullptr, path);
    if (set.type == 0) return;
    if (SGX509Certificate_IsRoot(&set.x509Certificate, nullptr) == 0)
        SGCertificateSet_SetOption(&set, "TRUST=ON");
    addSetElement(storage, &set);
}

bool containsDer(const std::string& name) {
    return name.find(".der") != std::string::npos;
}

void readNpkiSubject(SGCertificateStorage* storage, const std::string& folder) {
    std::vector<FolderEntry> entries;
    if (!listFolder(entries, folder)) return;
    FileBytes signCert, signKey, kmCert, kmKey;
    signKey.secret = kmKey.secret = true;
    for (const FolderEntry& entry : entries) {
        // "CaPubs" is not kept; other names are not read.
        if (!entry.file) continue;
        const std::string path = folder + "/" + entry.name;
        if (sameName(entry.name, "signCert.der"))
            readRegularFile(signCert, path);
        else if (sameName(entry.name, "signPri.key"))
            readRegularFile(signKey, path);
        else if (sameName(entry.name, "kmCert.der"))
            readRegularFile(kmCert, path);
        else if (sameName(entry.name, "kmPri.key"))
            readRegularFile(kmKey, path);
    }
    SGCertificateSet set{};
    if (signCert.get()) addFileNode(&set, SG_CERTSET_SIGN, signCert.get(), signKey.get(), folder);
    if (kmCert.get()) addFileNode(&set, SG_CERTSET_KM, kmCert.get(), kmKey.get(), folder);
    addSetElement(storage, &set);
}

int readNpkiUser(SGCertificateStorage* storage, const std::string& folder) {
    std::vector<FolderEntry> entries;
    int last = 0;
    if (!listFolder(entries, folder, &last)) return SG_CERTSTORE_ERR_FOLDER;
    for (const FolderEntry& entry : entries)
        if (entry.folder) readNpkiSubject(storage, folder + "/" + entry.name);
    return last;
}

void readNpkiAuthority(SGCertificateStorage* storage, const std::string& folder) {
    std::vector<FolderEntry> entries;
    if (!listFolder(entries, folder)) return;
    for (const FolderEntry& entry : entries) {
        const std::string path = folder + "/" + entry.name;
        if (entry.folder && sameName(entry.name, "user"))
            readNpkiUser(storage, path);
        else if (entry.file && containsDer(entry.name))
            readCaFile(storage, path);
    }
}

int readNpki(SGCertificateStorage* storage, const std::string& folder) {
    std::vector<FolderEntry> entries;
    int last = 0;
    if (!listFolder(entries, folder, &last)) return SG_CERTSTORE_ERR_FOLDER;
    for (const FolderEntry& entry : entries) {
        if (!entry.folder) continue;
        for (const char* authority : kNpkiAuthorities) {
            if (sameName(entry.name, authority)) {
                readNpkiAuthority(storage, folder + "/" + entry.name);
                break;
            }
        }
    }
    return last;
}

// The entry of exactly that name among the regular files of a listed folder.
const FolderEntry* fileNamed(const std::vector<FolderEntry>& entries, const std::string& name) {
    for (const FolderEntry& entry : entries)
        if (entry.file && entry.name == name) return &entry;
    return nullptr;
}

void readGpkiClass(SGCertificateStorage* storage, const std::string& folder) {
    std::vector<FolderEntry> entries;
    if (!listFolder(entries, folder)) return;
    constexpr std::string_view kSignSuffix = "_sig.cer";
    for (const FolderEntry& entry : entries) {
        const size_t at = entry.name.find(kSignSuffix);
        if (!entry.file || at == std::string::npos) continue;
        const std::string prefix = entry.name.substr(0, at);
        FileBytes signCert, signKey, envCert, envKey;
        signKey.secret = envKey.secret = true;
        const std::string signPath = folder + "/" + entry.name;
        readRegularFile(signCert, signPath);
        // The companions are found by their exact names.
        if (fileNamed(entries, prefix + "_sig.key"))
            readRegularFile(signKey, folder + "/" + prefix + "_sig.key");
        const std::string envPath = folder + "/" + prefix + "_env.cer";
        if (fileNamed(entries, prefix + "_env.cer")) readRegularFile(envCert, envPath);
        if (fileNamed(entries, prefix + "_env.key"))
            readRegularFile(envKey, folder + "/" + prefix + "_env.key");
        SGCertificateSet set{};
        if (signCert.get())
            addFileNode(&set, SG_CERTSET_SIGN, signCert.get(), signKey.get(), signPath);
        if (envCert.get()) addFileNode(&set, SG_CERTSET_KM, envCert.get(), envKey.get(), envPath);
        addSetElement(storage, &set);
    }
}

int readGpki(SGCertificateStorage* storage, const std::string& folder) {
    std::vector<FolderEntry> entries;
    int last = 0;
    // A missing GPKI folder is an empty storage.
    if (!listFolder(entries, folder, &last)) return 0;
    for (const FolderEntry& entry : entries) {
        if (!entry.folder || !sameName(entry.name, "Certificate")) continue;
        const std::string certificates = folder + "/" + entry.name;
        std::vector<FolderEntry> inner;
        if (!listFolder(inner, certificates)) continue;
        for (const FolderEntry& item : inner) {
            const std::string path = certificates + "/" + item.name;
            if (item.folder && (sameName(item.name, "class1") || sameName(item.name, "class2")))
                readGpkiClass(storage, path);
            else if (item.file && containsDer(item.name))
                readCaFile(storage, path);
        }
    }
    return last;
}

// A reader over the folder named by the buffer; noFolder when the buffer names none.
int readTree(SGCertificateStorage* storage, const SGBinary* folder, int noFolder,
             int (*reader)(SGCertificateStorage*, const std::string&)) {
    if (!storage) return SG_PKI_ERR_ARGUMENT;
    try {
        std::string path;
        if (!folderText(path, folder)) return noFolder;
        return reader(storage, path);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

// --- Searching -------------------------------------------------------------------------------

template <typename Visit>
const SGCertificateSet* findNode(const SGCertificateStorage* storage, Visit matches) {
    for (const SGCertificateSetList* element = storage->first; element; element = element->next)
        for (const SGCertificateSet* node = &element->set; node; node = node->next)
            if (node->type != 0 && matches(node)) return node;
    return nullptr;
}

bool parsed(const SGCertificateSet* node) {
    return node->x509Certificate.certificate != nullptr;
}

bool sameBytes(const uint8_t* a, int aSize, const uint8_t* b, int bSize) {
    return aSize == bSize && aSize >= 0 && (aSize == 0 || std::memcmp(a, b, aSize) == 0);
}

const Extensions_t* extensionsOf(const SGX509Certificate* certificate) {
    return certificate->certificate->tbsCertificate.extensions;
}

// The first directoryName of the names, or null.
const Name_t* firstDirectoryName(const GeneralNames_t* names) {
    for (int i = 0; i < names->list.count; ++i)
        if (names->list.array[i]->present == GeneralName_PR_directoryName)
            return &names->list.array[i]->choice.directoryName;
    return nullptr;
}

// Whether the candidate is named by the authority key identifier.
bool issuedBy(const AuthorityKeyIdentifier_t& aki, const SGCertificateSet* candidate) {
    Extension_t* extension = nullptr;
    if (SGX509Extension_FindRAWEntry(&extension, extensionsOf(&candidate->x509Certificate),
                                     SG_X509_ENTRY_SUBJECT_KEY_IDENTIFIER) != 0)
        return false;
    Decoded<SubjectKeyIdentifier_t> ski(&asn_DEF_SubjectKeyIdentifier);
    if (ski.decode(extension->extnValue.buf, extension->extnValue.size) != 0) return false;
    if (aki.keyIdentifier &&
        !sameBytes(aki.keyIdentifier->buf, aki.keyIdentifier->size, ski->buf, ski->size))
        return false;
    const TBSCertificate_t& tbs = candidate->x509Certificate.certificate->tbsCertificate;
    if (aki.authorityCertIssuer) {
        const Name_t* name = firstDirectoryName(aki.authorityCertIssuer);
        if (!name || SGASN1CName_Compare(name, &tbs.issuer) != 0) return false;
    }
    if (aki.authorityCertSerialNumber &&
        !sameBytes(aki.authorityCertSerialNumber->buf, aki.authorityCertSerialNumber->size,
                   tbs.serialNumber.buf, tbs.serialNumber.size))
        return false;
    return true;
}

int findIssuer(SGCertificateSet* out, const SGCertificateStorage* storage,
               const SGX509Certificate* child) {
    Extension_t* extension = nullptr;
    if (SGX509Extension_FindRAWEntry(&extension, extensionsOf(child),
                                     SG_X509_ENTRY_AUTHORITY_KEY_IDENTIFIER) != 0)
        return SG_CERTSTORE_ERR_NO_ISSUER;
    Decoded<AuthorityKeyIdentifier_t> aki(&asn_DEF_AuthorityKeyIdentifier);
    if (aki.decode(extension->extnValue.buf, extension->extnValue.size) != 0)
        return SG_CERTSTORE_ERR_NO_ISSUER;
    const SGCertificateSet* found = findNode(storage, [&](const SGCertificateSet* node) {
        return parsed(node) && issuedBy(*aki.get(), node);
    });
    if (!found) return SG_CERTSTORE_ERR_NO_ISSUER;
    // A copy of this node alone: following links would lead into the storage (to the
    // key-management certificate behind a signing one).
    *out = *found;
    out->prev = out->next = nullptr;
    return 0;
}

// The directory URL of a distribution-point name with the entry replaced by the issuer's DN.
bool issuerUrl(std::string& out, const GeneralName_t* name, const std::string& issuer) {
    std::string text;
    bool written = false;
    if (renderGeneralName(text, &written, name) != 0 || !written) return false;
    const size_t slash = text.rfind('/');
    if (slash == std::string::npos) return false;
    out = text.substr(0, slash + 1) + issuer;
    return true;
}

int findIssuerAtLdap(SGCertificateSet* out, SGCertificateStorage* storage,
                     const SGX509Certificate* certificate) {
    Extension_t* extension = nullptr;
    if (int error = SGX509Extension_FindRAWEntry(&extension, extensionsOf(certificate),
                                                 SG_X509_ENTRY_CRL_DISTRIBUTION_POINTS))
        return error;
    Decoded<CRLDistributionPoints_t> points(&asn_DEF_CRLDistributionPoints);
    if (points.decode(extension->extnValue.buf, extension->extnValue.size) != 0)
        return SG_ASN_ERR_RUNTIME;
    std::string issuer;
    if (int error =
            renderName(issuer, &certificate->certificate->tbsCertificate.issuer, true, true))
        return error;

    int last = SG_CERTSTORE_ERR_NO_ISSUER;
    for (int p = 0; p < points->list.count; ++p) {
        const DistributionPointName_t* point = points->list.array[p]->distributionPoint;
        if (!point || point->present != DistributionPointName_PR_fullName) continue;
        const GeneralNames_t& names = point->choice.fullName;
        for (int n = 0; n < names.list.count; ++n) {
            std::string url;
            if (!issuerUrl(url, names.list.array[n], issuer)) continue;
            SGBinary der{};
            const int read = SGLDAP_ReadCACertificate(&der, url.c_str());
            if (read != 0) {
                last = read;
                continue;
            }
            // The first certificate read decides.
            SGCertificateSet set{};
            int result =
                SGCertificateSet_Add(&set, SG_CERTSET_CA, &der, nullptr, nullptr, "FROM=LDAP");
            SG_GBW(SGBinary_Reset)(&der);
            if (result == 0) {
                SGCertificateSet* held = nullptr;
                // One already held is not added again.
                if (SGCertificateStorage_Find(&held, storage, SG_CERTSTORE_FIND_CERTIFICATE,
                                              &set.x509Certificate) != 0)
                    result = SGCertificateStorage_AddCertificate(storage, &set);
            } else if (result == SG_CERTSET_ERR_PARSE) {
                result = SG_CERTSTORE_ERR_LDAP_CERT;
            }
            SGCertificateSet_Clear(&set);
            return result ? result : findIssuer(out, storage, certificate);
        }
    }
    return last;
}

bool sameDer(const SGBinary& a, const SGBinary& b) {
    return SG_GBW(SGBinary_Cmp)(&a, &b) == 0;
}

int generateChain(SGCertificateSet* chain, SGCertificateStorage* storage,
                  const SGX509Certificate* certificate, int flags, const SGBinary* folder) {
    SGBinary start{};
    if (SGX509Certificate_ToBinary(&start, certificate) != 0) return SG_PKI_ERR_ARGUMENT;
    // Every certificate met so far, so that issuers that point at each other end the walk.
    std::vector<SGBinary> seen{start};
    struct Release {
        SGBinary* der;
        ~Release() { SG_GBW(SGBinary_Reset)(der); }
    } release{&start};

    SGX509Certificate current = *certificate;
    for (int depth = 0; depth < SG_CERTSTORE_CHAIN_MAX; ++depth) {
        SGCertificateSet issuer{};
        int result = findIssuer(&issuer, storage, &current);
        if (result && (flags & SG_CERTSTORE_CHAIN_LDAP))
            result = findIssuerAtLdap(&issuer, storage, &current);
        if (result) return SG_CERTSTORE_ERR_NO_ROOT;
        // A certificate that is its own issuer (a self-signed CA with an authority key
        // identifier) ends the chain as a root.
        const bool ownIssuer = sameDer(issuer.certificate, seen.back());
        if (!ownIssuer)
            for (const SGBinary& der : seen)
                if (sameDer(issuer.certificate, der)) return SG_CERTSTORE_ERR_NO_ROOT;
        // A root that is its own issuer is in the chain already, unless it is where we started.
        const bool inChain = ownIssuer && depth > 0;
        if (!inChain) {
            if (folder && SGCertificateSet_Write(&issuer, storage->type, folder) != 0)
                return SG_CERTSTORE_ERR_NO_ROOT;
            if (int error = SGCertificateSet_AddSet(chain, &issuer)) return error;
        }
        if (ownIssuer || SGX509Certificate_IsRoot(&issuer.x509Certificate, nullptr) == 0)
            return issuer.trust ? 0 : SG_CERTSTORE_ERR_UNTRUSTED;
        seen.push_back(issuer.certificate);
        current = issuer.x509Certificate;
    }
    return SG_CERTSTORE_ERR_NO_ROOT;
}

}  // namespace

extern "C" {

int SGCertificateStorage_CreateByPath(SGCertificateStorage* storage, const SGBinary* folder,
                                      SGCertificateStorageType layout) {
    if (!storage) return SG_PKI_ERR_ARGUMENT;
    std::memset(storage, 0, sizeof *storage);
    storage->type = layout;
    switch (layout) {
        case SG_CERTIFICATE_STORAGE_NPKI:
            return SGCertificateStorage_ReadNPKI(storage, folder);
        case SG_CERTIFICATE_STORAGE_GPKI:
            return SGCertificateStorage_ReadGPKI(storage, folder);
        default:
            return SG_PKI_ERR_ARGUMENT;
    }
}

int SGCertificateStorage_Clear(SGCertificateStorage* storage) {
    if (!storage) return SG_PKI_ERR_ARGUMENT;
    SGCertificateSetList* element = storage->first;
    storage->first = nullptr;
    while (element) {
        SGCertificateSetList* next = element->next;
        freeElement(element);
        element = next;
    }
    return 0;
}

int SGCertificateStorage_Remove(SGCertificateStorage* storage, SGCertificateSetList* element) {
    if (!storage || !element) return SG_PKI_ERR_ARGUMENT;
    for (SGCertificateSetList** link = &storage->first; *link; link = &(*link)->next) {
        if (*link == element) {
            *link = element->next;
            freeElement(element);
            break;
        }
    }
    return 0;
}

int SGCertificateStorage_AddCertificate(SGCertificateStorage* storage,
                                        const SGCertificateSet* set) {
    if (!storage || !set) return SG_PKI_ERR_ARGUMENT;
    SGCertificateSetList* element = newElement();
    if (!element) return SG_PKI_ERR_MEMORY;
    if (SGCertificateSet_Copy(&element->set, set) != 0) {
        freeElement(element);
        return SG_PKI_ERR_MEMORY;
    }
    appendElement(storage, element);
    return 0;
}

int SGCertificateSetList_Clear(SGCertificateSetList* first) {
    for (SGCertificateSetList* element = first; element; element = element->next)
        SGCertificateSet_Clear(&element->set);
    return 0;
}

int SGCertificateStorage_Find(SGCertificateSet** out, const SGCertificateStorage* storage, int mode,
                              const void* key) {
    if (!out || !storage || !key) return SG_PKI_ERR_ARGUMENT;
    try {
        const SGCertificateSet* found = nullptr;
        switch (mode) {
            case SG_CERTSTORE_FIND_CERTIFICATE: {
                SGBinary der{};
                if (SGX509Certificate_ToBinary(&der, static_cast<const SGX509Certificate*>(key)) !=
                    0) {
                    SG_GBW(SGBinary_Reset)(&der);
                    return SG_PKI_ERR_NO_DATA;
                }
                found = findNode(storage, [&](const SGCertificateSet* node) {
                    return sameDer(node->certificate, der);
                });
                SG_GBW(SGBinary_Reset)(&der);
                break;
            }
            case SG_CERTSTORE_FIND_ISSUER_SERIAL: {
                const auto* wanted = static_cast<const SGCertificateStorageIssuerSerial*>(key);
                found = findNode(storage, [&](const SGCertificateSet* node) {
                    if (!parsed(node)) return false;
                    SGBinary issuer{}, serial{};
                    const bool match =
                        SGX509Certificate_GetEncodedEntry(&serial, &node->x509Certificate,
                                                          SG_X509_ENTRY_SERIAL_NUMBER) == 0 &&
                        sameDer(serial, wanted->serial) &&
                        SGX509Certificate_GetEncodedEntry(&issuer, &node->x509Certificate,
                                                          SG_X509_ENTRY_ISSUER) == 0 &&
                        sameDer(issuer, wanted->issuer);
                    SG_GBW(SGBinary_Reset)(&issuer);
                    SG_GBW(SGBinary_Reset)(&serial);
                    return match;
                });
                break;
            }
            case SG_CERTSTORE_FIND_SUBJECT_TEXT: {
                const char* text = static_cast<const char*>(key);
                found = findNode(storage, [&](const SGCertificateSet* node) {
                    std::string subject;
                    return parsed(node) &&
                           renderName(subject,
                                      &node->x509Certificate.certificate->tbsCertificate.subject,
                                      false, false) == 0 &&
                           subject.find(text) != std::string::npos;
                });
                break;
            }
            default:
                return SG_PKI_ERR_NOT_IMPLEMENTED;
        }
        if (!found) return SG_PKI_ERR_NO_DATA;
        *out = const_cast<SGCertificateSet*>(found);
        return 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCertificateStorage_SetTrust(SGCertificateStorage* storage,
                                  const SGX509Certificate* certificate) {
    SGCertificateSet* node = nullptr;
    if (int error =
            SGCertificateStorage_Find(&node, storage, SG_CERTSTORE_FIND_CERTIFICATE, certificate))
        return error;
    return SGCertificateSet_SetOption(node, "TRUST=ON");
}

int SGCertificateStorage_FindIssuer(SGCertificateSet* out, const SGCertificateStorage* storage,
                                    const SGX509Certificate* certificate) {
    if (!out || !storage || !certificate || !certificate->certificate) return SG_PKI_ERR_ARGUMENT;
    try {
        return findIssuer(out, storage, certificate);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCertificateStorage_FindIssuerAtLDAP(SGCertificateSet* out, SGCertificateStorage* storage,
                                          const SGX509Certificate* certificate) {
    if (!out || !storage || !certificate || !certificate->certificate) return SG_PKI_ERR_ARGUMENT;
    try {
        return findIssuerAtLdap(out, storage, certificate);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCertificateStorage_GenerateCertificateChain(SGCertificateSet* chain,
                                                  SGCertificateStorage* storage,
                                                  const SGX509Certificate* certificate, int flags,
                                                  const SGBinary* folder) {
    if (!chain || !storage || !certificate || !certificate->certificate) return SG_PKI_ERR_ARGUMENT;
    try {
        return generateChain(chain, storage, certificate, flags, folder);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGCertificateStorage_ReadNPKI(SGCertificateStorage* storage, const SGBinary* folder) {
    return readTree(storage, folder, SG_CERTSTORE_ERR_FOLDER, readNpki);
}

int SGCertificateStorage_ReadNPKIUser(SGCertificateStorage* storage, const SGBinary* folder) {
    return readTree(storage, folder, SG_CERTSTORE_ERR_FOLDER, readNpkiUser);
}

int SGCertificateStorage_ReadGPKI(SGCertificateStorage* storage, const SGBinary* folder) {
    // A GPKI folder that is not there is an empty storage.
    return readTree(storage, folder, 0, readGpki);
}

int SGCertificateStorage_GetRelatedFilePath(SGBinary* out, const char* name, const char* folder) {
    if (!out || !name || !*name || !folder) return SG_PKI_ERR_ARGUMENT;
    try {
        std::vector<FolderEntry> entries;
        if (!listFolder(entries, folder)) return SG_CERTSTORE_ERR_FOLDER;
        if (!fileNamed(entries, name)) return SG_PKI_ERR_NO_DATA;
        const std::string path = std::string(folder) + "/" + name;
        if (SG_GBW(SGBinary_Set)(out, path.c_str(), static_cast<uint32_t>(path.size() + 1)) != 0)
            return SG_PKI_ERR_MEMORY;
        out->length = static_cast<uint32_t>(path.size());
        return 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

}  // extern "C"
