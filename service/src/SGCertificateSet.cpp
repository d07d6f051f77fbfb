#include "SGCertificateSet.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Certificate.h"
#include "SGBigInteger.h"
#include "SGFile.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGX509Text.h"

using namespace brindlow::service;

// The node crosses the table interface: its layout is fixed.
static_assert(sizeof(SGBinary) == 16);
static_assert(offsetof(SGCertificateSet, type) == 0);
static_assert(offsetof(SGCertificateSet, certificate) == 8);
static_assert(offsetof(SGCertificateSet, x509Certificate) == 24);
static_assert(offsetof(SGCertificateSet, parsed) == 32);
static_assert(offsetof(SGCertificateSet, privateKey) == 40);
static_assert(offsetof(SGCertificateSet, path) == 56);
static_assert(offsetof(SGCertificateSet, trust) == 64);
static_assert(offsetof(SGCertificateSet, origin) == 68);
static_assert(offsetof(SGCertificateSet, prev) == 72);
static_assert(offsetof(SGCertificateSet, next) == 80);
static_assert(sizeof(SGCertificateSet) == 88);
static_assert(sizeof(SGCertificateStorageType) == sizeof(int));

namespace {

// Releases what a node holds (the key wiped) and zeroes it; the links are zeroed too.
void clearNode(SGCertificateSet* node) {
    SG_GBW(SGBinary_Reset)(&node->certificate);
    if (node->x509Certificate.certificate) SGX509Certificate_Clear(&node->x509Certificate);
    SG_GBW(SGBinary_Cleanse)(&node->privateKey);
    if (node->path) SG_GBW(SGMemory_free)(node->path);
    std::memset(node, 0, sizeof *node);
}

SGCertificateSet* lastNode(SGCertificateSet* head) {
    SGCertificateSet* node = head;
    while (node->next) node = node->next;
    return node;
}

bool hasBytes(const SGBinary* binary) {
    return binary && binary->data && binary->length > 0;
}

char* copyText(const char* text) {
    const size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(SG_GBW(SGMemory_malloc)(length + 1));
    if (copy) std::memcpy(copy, text, length + 1);
    return copy;
}

// Type 899: CA (root when IsRoot says so), else signing when keyUsage allows digitalSignature.
int classify(const SGX509Certificate* certificate) {
    if (SGX509Certificate_IsCA(certificate, nullptr) == 1)
        return SGX509Certificate_IsRoot(certificate, nullptr) == 0 ? SG_CERTSET_ROOT
                                                                   : SG_CERTSET_CA;
    char usage[256] = "";
    SGX509Certificate_GetEntry(certificate, usage, sizeof usage, SG_X509_ENTRY_KEY_USAGE, 0);
    return SG_GBW(SGOS_strstr)(usage, "digitalSignature") ? SG_CERTSET_SIGN : SG_CERTSET_KM;
}

// --- Writing ---------------------------------------------------------------------------------

// Certificate text that becomes one name in a folder: never a separator, a parent reference,
// NUL or nothing.
bool isPathComponent(std::string_view name) {
    if (name.empty() || name == "." || name.find("..") != std::string_view::npos) return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

int subjectText(std::string& out, const SGCertificateSet* node) {
    // Entry 7 with flags 1: lower-case attribute names, ", " between the RDNs.
    return renderName(out, &node->x509Certificate.certificate->tbsCertificate.subject, true, false);
}

// Creates the folder (owner-only) when it is missing.
int makeFolder(const std::string& folder) {
    if (SG_GBW(SGOS_access)(folder.c_str(), 0) == 0) return 0;
    return SG_GBW(SGOS_mkdir)(folder.c_str(), SGOS_S_IRWXU) == 0 ? 0 : SG_CERTSET_ERR_FOLDER;
}

int writeFile(const std::string& path, const SGBinary& bytes) {
    return SG_GBW(SGFile_WriteBinary)(path.c_str(), &bytes);
}

// A key file is replaced through the atomic writer, which keeps the mode of the file it
// replaces; a new one is made owner-only first.
int writeKey(const std::string& path, const SGBinary& bytes) {
    bool created = false;
    if (SG_GBW(SGOS_access)(path.c_str(), 0) != 0) {
        const int fd = SG_GBW(SGOS_open)(path.c_str(), SGOS_O_CREAT | SGOS_O_EXCL | SGOS_O_WRONLY,
                                         SGOS_S_IRUSR | SGOS_S_IWUSR);
        if (fd >= 0) {
            SG_GBW(SGOS_close)(fd);
            created = true;
        }
    }
    const int result = writeFile(path, bytes);
    if (result && created) SG_GBW(SGOS_unlink)(path.c_str());
    return result;
}

// The serial number in decimal.
int decimalSerial(std::string& out, const SGCertificateSet* node) {
    const INTEGER_t& serial = node->x509Certificate.certificate->tbsCertificate.serialNumber;
    if (!serial.buf || serial.size <= 0) return SG_ASN_ERR_MALFORMED;
    if (!_gcw[SGCryptoSlot_SGBigInteger_NewAsBinary] || !_gcw[SGCryptoSlot_SGBigInteger_ToASCII] ||
        !_gcw[SGCryptoSlot_SGBigInteger_Free])
        return SG_PKI_ERR_INTERNAL;
    SGBigInteger* number = nullptr;
    if (SG_GCW(SGBigInteger_NewAsBinary)(&number, serial.buf, serial.size) != 0 || !number)
        return SG_PKI_ERR_MEMORY;
    char text[128];
    unsigned int length = sizeof text;
    const int result = SG_GCW(SGBigInteger_ToASCII)(text, &length, number);
    SG_GCW(SGBigInteger_Free)(number);
    if (result) return SG_PKI_ERR_INTERNAL;
    out.assign(text, length);
    return 0;
}

// The NPKI folder of the authority named in the subject, in the order tested.
const char* npkiAuthority(const std::string& subject) {
    static constexpr struct {
        const char* attribute;
        const char* folder;
    } kAuthorities[] = {{"o=yessign", "yessign"},   {"o=KISA", "KISA"},
                        {"o=Lindsign", "Lindsign"}, {"o=TradeSign", "TradeSign"},
                        {"o=KICA", "KICA"},         {"o=CrossCert", "CrossCert"}};
    for (const auto& authority : kAuthorities)
        if (subject.find(authority.attribute) != std::string::npos) return authority.folder;
    return nullptr;
}

bool isCaNode(const SGCertificateSet* node) {
    return node->type == SG_CERTSET_CA || node->type == SG_CERTSET_ROOT;
}

// A user set holds signing and key-management certificates only; anything else would have no
// file name.
bool onlyUserNodes(const SGCertificateSet* head) {
    for (const SGCertificateSet* node = head; node; node = node->next)
        if (node->type != SG_CERTSET_SIGN && node->type != SG_CERTSET_KM) return false;
    return true;
}

int writeCaFile(const std::string& path, const SGCertificateSet* head) {
    // Every node goes to the one file, so the last one remains.
    for (const SGCertificateSet* node = head; node; node = node->next)
        if (int error = writeFile(path, node->certificate)) return error;
    return 0;
}

// Each user node's certificate and key (when it has one) under the names of its type.
int writeUserFiles(const SGCertificateSet* head, const std::string& signCert,
                   const std::string& signKey, const std::string& kmCert,
                   const std::string& kmKey) {
    for (const SGCertificateSet* node = head; node; node = node->next) {
        const bool sign = node->type == SG_CERTSET_SIGN;
        if (hasBytes(&node->certificate))
            if (int error = writeFile(sign ? signCert : kmCert, node->certificate)) return error;
        if (hasBytes(&node->privateKey))
            if (int error = writeKey(sign ? signKey : kmKey, node->privateKey)) return error;
    }
    return 0;
}

int writeNpki(const SGCertificateSet* head, const std::string& base, const std::string& subject) {
    const char* authority = npkiAuthority(subject);
    if (!authority) return SG_PKI_ERR_ARGUMENT;
    const std::string caFolder = base + "/" + authority;
    if (isCaNode(head)) {
        char ski[256];
        if (int error = SGX509Certificate_GetEntry(&head->x509Certificate, ski, sizeof ski,
                                                   SG_X509_ENTRY_SUBJECT_KEY_IDENTIFIER, 0))
            return error;
        std::string serial;
        if (int error = decimalSerial(serial, head)) return error;
        const std::string name = std::string(ski) + "_" + serial + ".der";
        if (!*ski || !isPathComponent(name)) return SG_PKI_ERR_ARGUMENT;
        if (int error = makeFolder(caFolder)) return error;
        return writeCaFile(caFolder + "/" + name, head);
    }
    if (!onlyUserNodes(head) || !isPathComponent(subject)) return SG_PKI_ERR_ARGUMENT;
    const std::string userFolder = caFolder + "/USER";
    const std::string folder = userFolder + "/" + subject;
    for (const std::string& f : {caFolder, userFolder, folder})
        if (int error = makeFolder(f)) return error;
    return writeUserFiles(head, folder + "/signCert.der", folder + "/signPri.key",
                          folder + "/kmCert.der", folder + "/kmPri.key");
}

// The value of the subject's first RDN: after the first "=" of the text before the first ",".
std::string firstRdnValue(const std::string& subject) {
    const std::string first = subject.substr(0, subject.find(','));
    const size_t equals = first.find('=');
    return equals == std::string::npos ? std::string() : first.substr(equals + 1);
}

int writeGpki(const SGCertificateSet* head, const std::string& base, const std::string& subject) {
    const std::string certificateFolder = base + "/Certificate";
    const std::string value = firstRdnValue(subject);
    if (isCaNode(head)) {
        const std::string name = value + ".der";
        if (!isPathComponent(value) || !isPathComponent(name)) return SG_PKI_ERR_ARGUMENT;
        if (int error = makeFolder(certificateFolder)) return error;
        return writeCaFile(certificateFolder + "/" + name, head);
    }
    const std::string prefixName = (subject.find("cn") == std::string::npos ? "ORG" : "") + value;
    if (!onlyUserNodes(head) || !isPathComponent(value) || !isPathComponent(prefixName))
        return SG_PKI_ERR_ARGUMENT;
    const std::string classFolder =
        certificateFolder +
        (subject.find("ou=people") != std::string::npos ? "/class2" : "/class1");
    for (const std::string& f : {certificateFolder, classFolder})
        if (int error = makeFolder(f)) return error;
    const std::string prefix = classFolder + "/" + prefixName;
    return writeUserFiles(head, prefix + "_sig.cer", prefix + "_sig.key", prefix + "_env.cer",
                          prefix + "_env.key");
}

// The base folder's text: its bytes, without a terminating NUL.
bool folderText(std::string& out, const SGBinary* folder) {
    if (!hasBytes(folder)) return false;
    out.assign(reinterpret_cast<const char*>(folder->data), folder->length);
    if (!out.empty() && out.back() == '\0') out.pop_back();
    return !out.empty() && out.find('\0') == std::string::npos;
}

}  // namespace

extern "C" {

int SGCertificateSet_SetOption(SGCertificateSet* node, const char* options) {
    if (!node) return SG_PKI_ERR_ARGUMENT;
    if (!options) return 0;
    if (SG_GBW(SGOS_strstr)(options, "FROM=FILE"))
        node->origin = SG_CERTSET_FROM_FILE;
    else if (SG_GBW(SGOS_strstr)(options, "FROM=LDAP"))
        node->origin = SG_CERTSET_FROM_LDAP;
    if (SG_GBW(SGOS_strstr)(options, "TRUST=ON"))
        node->trust = 1;
    else if (SG_GBW(SGOS_strstr)(options, "TRUST=OFF"))
        node->trust = 0;
    return 0;
}

int SGCertificateSet_Add(SGCertificateSet* head, int type, const SGBinary* certificate,
                         const SGBinary* privateKey, const char* path, const char* options) {
    // A node of type 0 would read as an empty head and be overwritten by the next Add.
    if (!head || type < 1) return SG_PKI_ERR_ARGUMENT;
    const bool hasCertificate = hasBytes(certificate);
    SGX509Certificate parsed{};
    const int parseResult = hasCertificate ? SGX509Certificate_FromBinary(&parsed, certificate) : 0;
    if (type == SG_CERTSET_CLASSIFY) {
        if (!hasCertificate) return SG_PKI_ERR_ARGUMENT;
        // Without a parsed certificate there is nothing to classify, so nothing is added.
        if (parseResult) return SG_CERTSET_ERR_PARSE;
        type = classify(&parsed);
    }

    const bool intoHead = head->type == 0;
    SGCertificateSet* node =
        intoHead
            ? head
            : static_cast<SGCertificateSet*>(SG_GBW(SGMemory_calloc)(1, sizeof(SGCertificateSet)));
    if (!node) {
        if (parsed.certificate) SGX509Certificate_Clear(&parsed);
        return SG_PKI_ERR_MEMORY;
    }
    if (intoHead) std::memset(head, 0, sizeof *head);
    auto fail = [&](int error) {
        if (parsed.certificate) SGX509Certificate_Clear(&parsed);
        clearNode(node);
        if (!intoHead) SG_GBW(SGMemory_free)(node);
        return error;
    };
    node->type = type;
    if (hasCertificate &&
        SG_GBW(SGBinary_Set)(&node->certificate, certificate->data, certificate->length) != 0)
        return fail(SG_PKI_ERR_MEMORY);
    if (hasCertificate && parseResult == 0) {
        if (hasBytes(privateKey) &&
            SG_GBW(SGBinary_Set)(&node->privateKey, privateKey->data, privateKey->length) != 0)
            return fail(SG_PKI_ERR_MEMORY);
        if (path && !(node->path = copyText(path))) return fail(SG_PKI_ERR_MEMORY);
        node->x509Certificate = parsed;
        node->parsed = parsed.certificate;
        parsed.certificate = nullptr;
        SGCertificateSet_SetOption(node, options);
    } else if (!hasCertificate) {
        if (hasBytes(privateKey) &&
            SG_GBW(SGBinary_Set)(&node->privateKey, privateKey->data, privateKey->length) != 0)
            return fail(SG_PKI_ERR_MEMORY);
        if (path && !(node->path = copyText(path))) return fail(SG_PKI_ERR_MEMORY);
        SGCertificateSet_SetOption(node, options);
    }
    if (!intoHead) {
        SGCertificateSet* last = lastNode(head);
        last->next = node;
        node->prev = last;
    }
    return hasCertificate && parseResult ? SG_CERTSET_ERR_PARSE : 0;
}

int SGCertificateSet_AddSet(SGCertificateSet* destination, const SGCertificateSet* source) {
    if (!destination || !source) return SG_PKI_ERR_ARGUMENT;
    // Counted first, so a set appended to itself is copied once.
    unsigned int count = 0;
    SGCertificateSet_Count(&count, source);
    const SGCertificateSet* node = source;
    for (unsigned int i = 0; i < count && node; ++i, node = node->next) {
        if (node->type == 0) continue;  // an empty head
        const int result = SGCertificateSet_Add(destination, node->type, &node->certificate,
                                                &node->privateKey, node->path, nullptr);
        if (result != 0 && result != SG_CERTSET_ERR_PARSE) return result;
        SGCertificateSet* added = lastNode(destination);
        added->trust = node->trust;
        added->origin = node->origin;
    }
    return 0;
}

int SGCertificateSet_Remove(SGCertificateSet* head, SGCertificateSet* node) {
    (void)head;
    (void)node;
    return SG_PKI_ERR_NOT_IMPLEMENTED;
}

int SGCertificateSet_Copy(SGCertificateSet* destination, const SGCertificateSet* source) {
    if (!destination || !source) return SG_PKI_ERR_ARGUMENT;
    if (destination == source) return 0;
    SGCertificateSet_Clear(destination);
    return SGCertificateSet_AddSet(destination, source);
}

int SGCertificateSet_Clear(SGCertificateSet* head) {
    if (!head) return SG_PKI_ERR_ARGUMENT;
    SGCertificateSet* node = head->next;
    while (node) {
        SGCertificateSet* next = node->next;
        clearNode(node);
        SG_GBW(SGMemory_free)(node);
        node = next;
    }
    clearNode(head);
    return 0;
}

int SGCertificateSet_Count(unsigned int* count, const SGCertificateSet* head) {
    if (!count || !head) return SG_PKI_ERR_ARGUMENT;
    unsigned int n = 0;
    for (const SGCertificateSet* node = head; node; node = node->next) ++n;
    *count = n;
    return 0;
}

int SGCertificateSet_Write(const SGCertificateSet* head, SGCertificateStorageType layout,
                           const SGBinary* baseFolder) {
    if (!head || !baseFolder) return SG_PKI_ERR_ARGUMENT;
    if (layout != SG_CERTIFICATE_STORAGE_NPKI && layout != SG_CERTIFICATE_STORAGE_GPKI)
        return SG_CERTSET_ERR_LAYOUT;
    if (!head->x509Certificate.certificate) return SG_PKI_ERR_ARGUMENT;
    try {
        std::string base;
        if (!folderText(base, baseFolder)) return SG_PKI_ERR_ARGUMENT;
        std::string subject;
        if (int error = subjectText(subject, head)) return error;
        return layout == SG_CERTIFICATE_STORAGE_NPKI ? writeNpki(head, base, subject)
                                                     : writeGpki(head, base, subject);
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

}  // extern "C"
