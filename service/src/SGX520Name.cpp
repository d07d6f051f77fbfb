#include "SGX520Name.h"

#include <climits>
#include <cstring>
#include <mutex>
#include <string>

#include "SGASNObjectID.h"
#include "SGOS.h"
#include "SGPKCSError.h"
#include "SGServiceInternal.h"
#include "SGX509Text.h"

using namespace brindlow::service;

namespace {

struct Row {
    int oidId;
    const char* name;
    int valueType;
};

// The attribute table in its fixed order; "-" marks attributes that have no name of their own.
constexpr Row kRows[] = {
    {109, "CN", SG_X520_DIRECTORY_STRING},
    {110, "SN", SG_X520_DIRECTORY_STRING},
    {111, "-", SG_X520_PRINTABLE_STRING},
    {112, "C", SG_X520_PRINTABLE_STRING},
    {113, "L", SG_X520_DIRECTORY_STRING},
    {114, "S/ST", SG_X520_DIRECTORY_STRING},
    {115, "STREET", SG_X520_DIRECTORY_STRING},
    {116, "O", SG_X520_DIRECTORY_STRING},
    {117, "OU", SG_X520_DIRECTORY_STRING},
    {118, "T/TITLE", SG_X520_DIRECTORY_STRING},
    {119, "-", SG_X520_DIRECTORY_STRING},
    {120, "G/GIVENNAME", SG_X520_DIRECTORY_STRING},
    {121, "I/INITIALS", SG_X520_DIRECTORY_STRING},
    {122, "-", SG_X520_DIRECTORY_STRING},
    {123, "-", SG_X520_NO_VALUE},
    {124, "-", SG_X520_PRINTABLE_STRING},
    {125, "-", SG_X520_DIRECTORY_STRING},
    {126, "DC", SG_X520_IA5_STRING},
    {127, "E", SG_X520_IA5_STRING},
    {128, "-", SG_X520_IA5_STRING},
};

SGX520NameEntry gTable[SG_X520_TABLE_SIZE];
int gCount = 0;
std::once_flag gTableOnce;

void fillTable() {
    for (const Row& row : kRows) {
        if (gCount >= SG_X520_TABLE_SIZE) break;
        SGX520NameEntry& entry = gTable[gCount++];
        entry.oidId = row.oidId;
        std::strncpy(entry.name, row.name, sizeof entry.name - 1);
        entry.valueType = row.valueType;
    }
}

// Characters of a value that would read as syntax in the text.
bool needsEscape(char c) {
    return std::strchr("#+,;<=>", c) != nullptr && c != '\0';
}

// The text of a DirectoryString: BMPString and UniversalString values become UTF-8 so that the
// text is readable and carries no NUL bytes; the other forms are copied as they are.
int directoryText(std::string& out, const DirectoryString_t* value) {
    bool ok = true;
    switch (value->present) {
        case DirectoryString_PR_NOTHING:
            break;
        case DirectoryString_PR_bmpString:
            ok = ucs2ToUtf8(out, value->choice.bmpString.buf, value->choice.bmpString.size);
            break;
        case DirectoryString_PR_universalString:
            ok = ucs4ToUtf8(out, value->choice.universalString.buf,
                            value->choice.universalString.size);
            break;
        case DirectoryString_PR_teletexString:
        case DirectoryString_PR_printableString:
        case DirectoryString_PR_utf8String:
            // The alternatives share the OCTET STRING layout.
            ok = copyText(out, value->choice.utf8String.buf, value->choice.utf8String.size);
            break;
        default:
            ok = false;
    }
    return ok ? 0 : SG_ASN_ERR_RUNTIME;
}

// One AttributeTypeAndValue as NAME=value, the value escaped.
int renderValue(std::string& out, const AttributeTypeAndValue_t* atv, bool lowerCase) {
    int oidId = 0;
    if (SGASN1CObjectIdentifier_Get(&oidId, &atv->type) != 0) return SG_ASN_ERR_UNKNOWN_OID;
    SGX520NameEntry entry{};
    if (SGX520Name_Search(&entry, oidId, nullptr, lowerCase) != 0)
        return SG_X520_ERR_UNKNOWN_ATTRIBUTE;
    std::string value;
    switch (entry.valueType) {
        case SG_X520_DIRECTORY_STRING:
        case SG_X520_PRINTABLE_STRING: {
            Decoded<DirectoryString_t> ds(&asn_DEF_DirectoryString);
            if (ds.decode(atv->value.buf, atv->value.size) != 0) return SG_ASN_ERR_RUNTIME;
            if (int error = directoryText(value, ds.get())) return error;
            break;
        }
        case SG_X520_IA5_STRING: {
            Decoded<IA5String_t> ia5(&asn_DEF_IA5String);
            if (ia5.decode(atv->value.buf, atv->value.size) != 0) return SG_ASN_ERR_RUNTIME;
            if (!copyText(value, ia5->buf, ia5->size)) return SG_ASN_ERR_RUNTIME;
            break;
        }
        default:
            break;  // no value handling
    }
    out += entry.name;
    out += '=';
    for (char c : value) {
        if (needsEscape(c)) out += '\\';
        out += c;
    }
    return 0;
}

// Renders into out, marking each complete value; a failure drops the value it met half-way.
int renderNameMarked(TextOut& out, const Name_t* name, bool lowerCase, bool compactSeparator) {
    if (name->present != Name_PR_rdnSequence) return SG_X520_ERR_UNKNOWN_ATTRIBUTE;
    SGX520Name_Init();
    const RDNSequence_t& rdns = name->choice.rdnSequence;
    for (int i = rdns.list.count - 1; i >= 0; --i) {
        const RelativeDistinguishedName_t* rdn = rdns.list.array[i];
        if (i != rdns.list.count - 1) out.text() += compactSeparator ? "," : ", ";
        for (int j = 0; rdn && j < rdn->list.count; ++j) {
            if (j) out.text() += '+';
            if (int error = renderValue(out.text(), rdn->list.array[j], lowerCase)) {
                out.rewind();
                return error;
            }
            out.mark();
        }
    }
    out.mark();
    return 0;
}

// The DER of a string value of the given type.
int encodeString(SGBinary* out, asn_TYPE_descriptor_t* type, const std::string& value) {
    OCTET_STRING_t string{};
    if (value.size() > INT_MAX) return SG_PKI_ERR_OUT_OF_RANGE;
    if (OCTET_STRING_fromBuf(&string, value.data(), static_cast<int>(value.size())) != 0)
        return SG_PKI_ERR_MEMORY;
    int result = SGASN1CObject_Encode(out, type, &string);
    ASN_STRUCT_FREE_CONTENTS_ONLY(*type, &string);
    return result == 0 ? 0 : SG_PKI_ERR_MEMORY;
}

// Appends an RDN with the one attribute to the Name.
int appendRdn(Name_t* out, const SGX520NameEntry& entry, const std::string& value) {
    auto* atv =
        static_cast<AttributeTypeAndValue_t*>(SGASN1C_calloc(1, sizeof(AttributeTypeAndValue_t)));
    if (!atv) return SG_PKI_ERR_MEMORY;
    int result = 0;
    if (entry.valueType == SG_X520_NO_VALUE) {
        result = SGASN1CObjectIdentifier_Set(&atv->type, entry.oidId);
    } else {
        asn_TYPE_descriptor_t* type = entry.valueType == SG_X520_PRINTABLE_STRING
                                          ? &asn_DEF_PrintableString
                                      : entry.valueType == SG_X520_IA5_STRING ? &asn_DEF_IA5String
                                                                              : &asn_DEF_UTF8String;
        SGBinary encoded{};
        result = encodeString(&encoded, type, value);
        if (result == 0) result = SGASN1CAttributeTypeAndValue_Set(atv, entry.oidId, &encoded);
        SG_GBW(SGBinary_Reset)(&encoded);
    }
    auto* rdn = result == 0 ? static_cast<RelativeDistinguishedName_t*>(
                                  SGASN1C_calloc(1, sizeof(RelativeDistinguishedName_t)))
                            : nullptr;
    if (result == 0 && !rdn) result = SG_PKI_ERR_MEMORY;
    if (result == 0 && SGASN1CSet_Add(rdn, atv) != 0) result = SG_PKI_ERR_MEMORY;
    if (result) {
        ASN_STRUCT_FREE(asn_DEF_AttributeTypeAndValue, atv);
        if (rdn) SGASN1C_free(rdn);
        return result == SG_ASN_ERR_FIELD_MEMORY ? SG_PKI_ERR_MEMORY : result;
    }
    if (SGASN1CSequence_Add(&out->choice.rdnSequence, rdn) != 0) {
        ASN_STRUCT_FREE(asn_DEF_RelativeDistinguishedName, rdn);
        return SG_PKI_ERR_MEMORY;
    }
    return 0;
}

}  // namespace

namespace brindlow::service {

int renderName(TextOut& out, const Name_t* name, bool lowerCase, bool compactSeparator) {
    if (!name) return SG_PKI_ERR_ARGUMENT;
    return renderNameMarked(out, name, lowerCase, compactSeparator);
}

int renderName(std::string& out, const Name_t* name, bool lowerCase, bool compactSeparator) {
    TextOut text(nullptr, 0, false);
    int result = renderName(text, name, lowerCase, compactSeparator);
    out += text.text();
    return result;
}

}  // namespace brindlow::service

extern "C" {

int SGX520Name_Init(void) {
    std::call_once(gTableOnce, fillTable);
    return gCount;
}

int SGX520Name_Search(SGX520NameEntry* out, int oidId, const char* name, int lowerCase) {
    if (!out || (oidId == 0 && !name)) return SG_PKI_ERR_ARGUMENT;
    SGX520Name_Init();
    for (int i = 0; i < gCount; ++i) {
        const SGX520NameEntry& entry = gTable[i];
        if (oidId != 0 ? entry.oidId != oidId : std::strcmp(entry.name, name) != 0) continue;
        *out = entry;
        for (char* c = out->name; *c; ++c)
            *c =
                static_cast<char>(lowerCase ? SG_GBW(SGOS_tolower)(static_cast<unsigned char>(*c))
                                            : SG_GBW(SGOS_toupper)(static_cast<unsigned char>(*c)));
        return 0;
    }
    return -1;
}

int SGX520Name_ToString(char* buffer, int size, const Name_t* name, int lowerCase,
                        int compactSeparator) {
    if (!buffer || size <= 0 || !name) return SG_PKI_ERR_ARGUMENT;
    try {
        TextOut out(buffer, static_cast<size_t>(size), false);
        int result = renderNameMarked(out, name, lowerCase != 0, compactSeparator != 0);
        return out.finish(result, SG_X520_ERR_TOO_LONG);
    } catch (...) {
        buffer[0] = '\0';
        return SG_PKI_ERR_MEMORY;
    }
}

int SGX520DirectoryString_ToString(char* buffer, unsigned int size,
                                   const DirectoryString_t* value) {
    if (!buffer || !value) return SG_PKI_ERR_ARGUMENT;
    try {
        std::string text;
        if (int error = directoryText(text, value)) {
            if (size) buffer[0] = '\0';
            return error;
        }
        if (size < text.size() + 1) {
            if (size) buffer[0] = '\0';
            return SG_X520_ERR_TOO_LONG;
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

int SGX520IA5String_ToString(char* buffer, unsigned int size, const OCTET_STRING_t* value) {
    if (!buffer || !value) return SG_PKI_ERR_ARGUMENT;
    const size_t length = value->size > 0 ? static_cast<size_t>(value->size) : 0;
    if (size < length + 1) {
        if (size) buffer[0] = '\0';
        return SG_X520_ERR_TOO_LONG;
    }
    if (length && std::memchr(value->buf, 0, length)) {
        buffer[0] = '\0';
        return SG_ASN_ERR_RUNTIME;
    }
    if (length) std::memcpy(buffer, value->buf, length);
    buffer[length] = '\0';
    return 0;
}

int SGX520Name_FromString(Name_t* out, const char* text) {
    if (!out || !text) return SG_PKI_ERR_ARGUMENT;
    SGX520Name_Init();
    try {
        out->present = Name_PR_rdnSequence;
        const std::string copy(text);
        size_t start = 0;
        while (start <= copy.size()) {
            size_t end = copy.find(',', start);
            if (end == std::string::npos) end = copy.size();
            std::string piece = copy.substr(start, end - start);
            start = end + 1;
            // Like strtok: empty pieces between separators are skipped.
            if (piece.empty()) continue;
            size_t nameStart = piece.find_first_not_of(" \t");
            if (nameStart == std::string::npos) nameStart = piece.size();
            const size_t equals = piece.find('=', nameStart);
            if (equals == std::string::npos) return SG_X520_ERR_UNKNOWN_ATTRIBUTE;
            const std::string name = piece.substr(nameStart, equals - nameStart);
            const std::string value = piece.substr(equals + 1);
            const SGX520NameEntry* found = nullptr;
            for (int i = 0; i < gCount && !found; ++i)
                if (SG_GBW(SGOS_strncasecmp)(name.c_str(), gTable[i].name, 11) == 0)
                    found = &gTable[i];
            if (!found) return SG_X520_ERR_UNKNOWN_ATTRIBUTE;
            if (int error = appendRdn(out, *found, value)) return error;
        }
        return 0;
    } catch (...) {
        return SG_PKI_ERR_MEMORY;
    }
}

}  // extern "C"
