// The ASN.1 object layer: the thin layer over the asn1c runtime through which the PKI library
// encodes, decodes, copies and frees its structures, moves byte strings in and out of fields,
// builds identifiers from OID ids, maps algorithms to the crypto layer's ids, converts times and
// compares names. Internal to the PKI library. Results: 0, 10001 missing argument, 10002 memory,
// 10010 not implemented, or the 209xx codes of SGPKCSError.h.
#pragma once

#include <time.h>

#include "SGBinary.h"

// The generated structures and the runtime.
#include "ANY.h"
#include "AlgorithmIdentifier.h"
#include "Attribute.h"
#include "AttributeTypeAndValue.h"
#include "BIT_STRING.h"
#include "BMPString.h"
#include "DirectoryString.h"
#include "DistributionPointName.h"
#include "Extension.h"
#include "GeneralName.h"
#include "GeneralNames.h"
#include "GeneralizedTime.h"
#include "IA5String.h"
#include "INTEGER.h"
#include "IssuerAndSerialNumber.h"
#include "Name.h"
#include "OBJECT_IDENTIFIER.h"
#include "OCTET_STRING.h"
#include "RDNSequence.h"
#include "RelativeDistinguishedName.h"
#include "Time.h"
#include "UTCTime.h"
#include "asn_SEQUENCE_OF.h"
#include "asn_SET_OF.h"
#include "ber_decoder.h"
#include "der_encoder.h"

extern "C" {

// DER NULL (05 00), the parameters of most AlgorithmIdentifiers.
extern const SGBinary nullParam;
// Passed as the parameters of SGASN1CAlgorithmIdentifier_Set: a fresh copy of DER NULL.
#define SG_ASN1C_NULL_PARAMETERS (reinterpret_cast<SGBinary*>(static_cast<intptr_t>(5395)))

// Kinds of SGASN1CAlgorithmIdentifier_FromCrypto and the key kinds of _ToCrypto.
enum {
    SG_ASN1C_CRYPTO_CIPHER = 0,
    SG_ASN1C_CRYPTO_KEY = 1,
    SG_ASN1C_CRYPTO_DIGEST = 2,
    SG_ASN1C_KEY_RSA = 1,
    SG_ASN1C_KEY_KCDSA = 4,
    SG_ASN1C_MODE_CBC = 2
};

// The runtime's allocation hooks: Base slots 39, 40, 41 and 43 of the layer's copy.
void* SGASN1C_malloc(size_t size);
void* SGASN1C_calloc(size_t count, size_t size);
void* SGASN1C_realloc(void* pointer, size_t size);
void SGASN1C_free(void* pointer);
// Readies the runtime's type descriptors once; the layer's start runs it, and every entry point
// that hands a descriptor to the runtime makes sure of it.
void SGASN1C_Prepare(void);

// Generic structures.
// Appends encoded bytes to the SGBinary given as key (the encoder's callback).
int SGASN_CopyToBinary(const void* buffer, size_t size, void* key);
// DER into out, which is emptied first (and left empty on failure).
int SGASN1CObject_Encode(SGBinary* out, asn_TYPE_descriptor_t* type, const void* structure);
// BER-decodes one value from the start of in. A null *structure receives a new structure (freed
// again when decoding fails); a non-null one is filled in place, and on failure emptied again.
int SGASN1CObject_Decode(void** structure, asn_TYPE_descriptor_t* type, const SGBinary* in);
// Deep copy into a zeroed target, through DER.
int SGASN1CObject_Copy(void* target, const void* source, asn_TYPE_descriptor_t* type);
// Frees what the structure holds and zeroes it; the structure itself stays.
int SGASN1CObject_Clear(void* structure, asn_TYPE_descriptor_t* type);
// Frees the structure and what it holds.
int SGASN1CObject_Free(void* structure, asn_TYPE_descriptor_t* type);

// Byte-string fields. Get/Set share the bytes (pointer and length only).
int SGASN1COctetString_Get(SGBinary* out, const OCTET_STRING_t* in);
int SGASN1COctetString_Set(OCTET_STRING_t* out, const SGBinary* in);
int SGASN1CPrimitiveType_Get(SGBinary* out, const ASN__PRIMITIVE_TYPE_t* in);
int SGASN1CPrimitiveType_Set(ASN__PRIMITIVE_TYPE_t* out, const SGBinary* in);
int SGASN1CAny_Get(SGBinary* out, const ANY_t* in);
int SGASN1CAny_Set(ANY_t* out, const SGBinary* in);
// Copies into a new buffer of out (an empty record).
int SGASN1COctetString_GetCopiedData(SGBinary* out, const OCTET_STRING_t* in);
int SGASN1CAny_GetCopiedData(SGBinary* out, const ANY_t* in);
int SGASN1CBitString_Get(SGBinary* out, const BIT_STRING_t* in);
// The field receives a copy (its previous bytes are released).
int SGASN1COctetString_SetCopiedData(OCTET_STRING_t* out, const SGBinary* in);
int SGASN1COctetString_SetFromBuf(OCTET_STRING_t* out, const void* bytes, int length);
int SGASN1CAny_GetValueAsOctetString(SGBinary* out, const ANY_t* in);
int SGASN1CAny_SetCopied(ANY_t* out, const SGBinary* in);
int SGASN1CAny_SetFromASN1CType(ANY_t* out, const void* structure, asn_TYPE_descriptor_t* type);
int SGASN1CBitString_Set(BIT_STRING_t* out, const SGBinary* in);
int SGASN1CBitString_SetCopied(BIT_STRING_t* out, const SGBinary* in);
// Exactly one named bit set, in ASN.1 numbering (bit 0 is the top bit of the first byte).
int SGASN1CBitString_SetBit(BIT_STRING_t* out, int bit);
int SGASN1CIA5String_SetCopied(IA5String_t* out, const char* text, const SGBinary* in);
int SGASN1CInteger_Set(INTEGER_t* out, long value);
int SGASN1CInteger_Get(long* out, const INTEGER_t* in);

// Identifiers and algorithms.
int SGASN1CObjectIdentifier_Set(OBJECT_IDENTIFIER_t* out, int oidId);
int SGASN1CObjectIdentifier_Get(int* oidId, const OBJECT_IDENTIFIER_t* in);
// Dotted decimal text; 10009 when it does not fit the buffer (which then holds a cut text).
int SGASN1CObjectIdentifier_ToString(char* buffer, int size, const OBJECT_IDENTIFIER_t* in);
int SGASN1CObjectIdentifier_FromString(const char* dottedText, OBJECT_IDENTIFIER_t* out);
// parameters: null for none, SG_ASN1C_NULL_PARAMETERS, or a buffer that the structure takes
// over (the record is emptied).
int SGASN1CAlgorithmIdentifier_Set(AlgorithmIdentifier_t* out, int oidId, SGBinary* parameters);
int SGASN1CAlgorithmIdentifier_FromCrypto(AlgorithmIdentifier_t* out, int kind, int cipherId,
                                          void* unused, int digestId);
int SGASN1CAlgorithmIdentifier_ToCrypto(int* cipherId, int* keyKind, int* digestId, int* mode,
                                        const AlgorithmIdentifier_t* in);
int SGASN1CDS_ToOID(int* oidId, int keyKind, int digestId);
int SGASN1CIssuerAndSerialNumber_FromCertificate(IssuerAndSerialNumber_t* out,
                                                 const SGBinary* certificate);

// Sets, attributes, names.
int SGASN1CSet_Add(void* set, void* element);
int SGASN1CSequence_Add(void* sequence, void* element);
int SGASN1CAttribute_Set(Attribute_t* out, int oidId, const SGBinary* encodedValue);
int SGASN1CAttribute_SetAll(Attribute_t* out, const char* dottedType,
                            const SGBinaryList* encodedValues);
int SGASN1CAttribute_Decode(SGBinaryList* values, int* oidId, const Attribute_t* in);
int SGASN1CAttributeTypeAndValue_Set(AttributeTypeAndValue_t* out, int oidId,
                                     const SGBinary* encodedValue);
// kind 1 rfc822Name, 2 dNSName (from the text, or the buffer without text), 7 iPAddress.
int SGASN1CGeneralName_SetCopied(GeneralName_t* out, const char* text, const SGBinary* in,
                                 int kind);
// out is a fresh Extension; critical stays absent.
int SGASN1CExtension_SetCopied(Extension_t* out, void* unused, int oidId,
                               const SGBinary* encodedValue);
// Reserved entry point: does nothing.
int SGASN1CRDNSequence_FromString(RDNSequence_t* out, const char* text);

// Comparisons: 0 for equal.
int SGASN1CAttributeTypeAndValue_IsEqual(const AttributeTypeAndValue_t* a,
                                         const AttributeTypeAndValue_t* b);
int SGASN1CName_Compare(const Name_t* a, const Name_t* b);
int SGASN1CRDNSequence_Compare(const RDNSequence_t* a, const RDNSequence_t* b);
int SGASN1CRelativeDistinguishedName_Compare(const RelativeDistinguishedName_t* a,
                                             const RelativeDistinguishedName_t* b);
int SGASN1CPrintableString_Compare(const char* a, const char* b);
int SGASN1CGeneralName_Compare(const GeneralName_t* a, const GeneralName_t* b);
int SGASN1CGeneralNames_Compare(const GeneralNames_t* a, const GeneralNames_t* b);
int SGASN1CDistributionPointName_Compare(const DistributionPointName_t* a,
                                         const DistributionPointName_t* b);

// Times (the platform's time_t and struct tm). asGmt 0 gives local time.
int SGASN1CTime_ToTm(time_t* t, struct tm* tm, const Time_t* in, int asGmt);
int SGASN1CUTCTime_ToTm(time_t* t, struct tm* tm, const UTCTime_t* in, int asGmt);
int SGASN1CGeneralizedTime_ToTm(time_t* t, struct tm* tm, const GeneralizedTime_t* in, int asGmt);
// "%Y%m%d%H%M%S" of a utcTime.
int SGASN1CTime_ToString(char* buffer, int size, const Time_t* in, int asGmt);
// t 0 stands for now; encoded in UTC with "Z". The flag is always 0.
int SGASN1CUTCTime_FromTm(UTCTime_t* out, time_t t, int flag);
int SGASN1CGeneralizedTime_FromTm(GeneralizedTime_t* out, time_t t, int flag);
int SGASN1CTime_FromTm(Time_t* out, time_t t, int flag);

}  // extern "C"
