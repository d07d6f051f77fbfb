// The OID table: the library's OID ids (1 to 170) and the encoded identifiers they stand for.
// Loaded on first use under a lock and released at exit; lookups may run on any thread.
#pragma once

#include "SGBinary.h"

extern "C" {

// Library OID ids named in code; the full list is the loader's table.
enum SGOID {
    SG_OID_PASSWORD_BASED_MAC = 1,
    SG_OID_RSA_ENCRYPTION = 3,
    SG_OID_MD2_WITH_RSA = 4,
    SG_OID_MD5_WITH_RSA = 5,
    SG_OID_SHA1_WITH_RSA = 6,
    SG_OID_RSAES_OAEP = 7,
    SG_OID_SHA224_WITH_RSA = 11,
    SG_OID_SHA256_WITH_RSA = 12,
    SG_OID_SHA384_WITH_RSA = 13,
    SG_OID_SHA512_WITH_RSA = 14,
    SG_OID_PBKDF2 = 22,
    SG_OID_PBES2 = 23,
    SG_OID_DATA = 26,
    SG_OID_SIGNED_DATA = 27,
    SG_OID_ENVELOPED_DATA = 28,
    SG_OID_SIGNED_AND_ENVELOPED_DATA = 29,
    SG_OID_DIGESTED_DATA = 30,
    SG_OID_ENCRYPTED_DATA = 31,
    SG_OID_CONTENT_TYPE = 32,
    SG_OID_MESSAGE_DIGEST = 33,
    SG_OID_SIGNING_TIME = 34,
    SG_OID_X509_CERTIFICATE = 35,
    SG_OID_PBE_SHA_3DES = 39,
    SG_OID_KEY_BAG = 43,
    SG_OID_PKCS8_SHROUDED_KEY_BAG = 44,
    SG_OID_CERT_BAG = 45,
    SG_OID_LOCAL_KEY_ID = 49,
    SG_OID_FRIENDLY_NAME = 50,
    SG_OID_ARIA128_CBC = 51,
    SG_OID_KCDSA = 52,
    SG_OID_HAS160 = 53,
    SG_OID_SEED_CBC = 55,
    SG_OID_KISA_PBE_SHA1_SEED = 66,
    SG_OID_HAS160_WITH_RSA = 69,
    SG_OID_KCDSA2 = 70,
    SG_OID_RSA_DIGEST9 = 85,
    SG_OID_KISA_IDENTIFY_DATA = 92,
    SG_OID_KISA_VID = 93,
    SG_OID_KISA_ENCRYPTED_VID = 94,
    SG_OID_KISA_RANDOM_NUM = 95,
    SG_OID_RC2_CBC = 101,
    SG_OID_DES_EDE3_CBC = 102,
    SG_OID_AES128_CBC = 104,
    SG_OID_AES192_CBC = 105,
    SG_OID_AES256_CBC = 106,
    SG_OID_DES_CBC = 107,
    SG_OID_SHA1 = 108,
    SG_OID_COMMON_NAME = 109,
    SG_OID_CPS_QUALIFIER = 132,
    SG_OID_USER_NOTICE_QUALIFIER = 133,
    SG_OID_SERVER_AUTH = 134,
    SG_OID_OCSP = 137,
    SG_OID_CA_ISSUERS = 138,
    SG_OID_SUBJECT_KEY_IDENTIFIER = 140,
    SG_OID_KEY_USAGE = 141,
    SG_OID_SUBJECT_ALT_NAME = 143,
    SG_OID_BASIC_CONSTRAINTS = 145,
    SG_OID_CRL_REASON = 147,
    SG_OID_ISSUING_DISTRIBUTION_POINT = 151,
    SG_OID_NAME_CONSTRAINTS = 153,
    SG_OID_CRL_DISTRIBUTION_POINTS = 154,
    SG_OID_CERTIFICATE_POLICIES = 155,
    SG_OID_ANY_POLICY = 156,
    SG_OID_POLICY_MAPPINGS = 157,
    SG_OID_AUTHORITY_KEY_IDENTIFIER = 158,
    SG_OID_POLICY_CONSTRAINTS = 159,
    SG_OID_EXT_KEY_USAGE = 160,
    SG_OID_SHA256 = 166,
    SG_OID_SHA384 = 167,
    SG_OID_SHA512 = 168,
    SG_OID_EC_PUBLIC_KEY = 169,
    SG_OID_LEA128_CBC = 170
};

enum { SG_OID_TABLE_SLOTS = 1000, SG_OID_COUNT = 170 };

// Encodes the dotted text and stores it with the id in the slot (an entry already there is
// released first): 0; 1 memory; 2 text does not parse; 3 arcs cannot be encoded; 4 no SGBinary;
// 5 the copy failed; -1 slot outside the table.
int SGASNObjectID_Add(int id, const char* dottedText, int slot);

// Loads the 170 rows once: 1 when already loaded, else the result of the last row's add.
long SGASNObjectID_Load(void);

// Releases every entry; the next lookup loads the table again.
void SGASNObjectID_Free(void);

// The id of the identifier with these contents octets; 0 when unknown or for a null argument.
int SGASNObjectID_Search(const SGBinary* contents);

// A new copy of the contents octets of the id (the caller frees it with SGBinary_Free); null
// for an unknown id.
SGBinary* SGASNObjectID_Get(int id);

// The dotted text of the id's identifier: the result of SGASN1CObjectIdentifier_ToString, or
// -11 for an unknown id.
int SGASNObjectID_ToString(char* buffer, int size, int id);

// The id stored in a slot (-1 for an empty slot or one outside the table); for checking the
// fixed layout.
int SGASNObjectID_SlotId(int slot);
}
