/* PKCS #12 (PFX) files: the in-memory model of safes, bags and attributes, building a PFX from a
 * certificate, its CA certificates and its key, encoding it under a password with the SHA-1 MAC,
 * decoding and checking one, and selecting a certificate with its key and chain. Service slots
 * 65 to 72.
 *
 * Passwords are bytes as given (the UTF-8 text); the PKCS #12 derivations widen each byte b to
 * 00 b (SGPKCS5.h). Files written here keep that form, which earlier files and their readers rely
 * on. When reading, a MAC that does not verify under it is tried once more under the standard
 * BMPString form of the UTF-8 password, so that files written elsewhere with a Hangul password
 * open; the keys of such a file are then decrypted under that form as well. */
#ifndef SG_PKCS12_H
#define SG_PKCS12_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* Bag types. */
enum {
    SG_PKCS12_BAG_OTHER = 0, /* a bag of another type read from a file */
    SG_PKCS12_BAG_CERTIFICATE = 500,
    SG_PKCS12_BAG_KEY = 501,
    SG_PKCS12_BAG_SHROUDED_KEY = 502
};

/* Bag flags. */
enum {
    SG_PKCS12_FLAG_ENCRYPT_SAFE = 1, /* on a safe's head: write the safe as EncryptedData */
    SG_PKCS12_FLAG_SHROUD = 4        /* the value is a plain PrivateKeyInfo, shrouded on Encode */
};

/* Limits. */
enum {
    SG_PKCS12_MAC_ITERATIONS = 2048,    /* written */
    SG_PKCS12_MAC_SALT_LENGTH = 8,      /* written */
    SG_PKCS12_KEY_ITERATIONS = 1024,    /* shrouded keys written */
    SG_PKCS12_LOCAL_KEY_ID_LENGTH = 20, /* the default localKeyId */
    SG_PKCS12_FRIENDLY_NAME_MAX = 300,  /* bytes of the default friendlyName */
    SG_PKCS12_MAX_ITERATIONS = 1000000, /* the largest MAC iteration count read */
    SG_PKCS12_MAX_SAFES = 4096          /* safe indexes are below this */
};

/* Result codes besides the shared ones of SGPKCSError.h. */
enum {
    SG_PKCS12_ERR_CONTENT_INFO = 10502, /* the AuthenticatedSafe does not decode */
    SG_PKCS12_ERR_MAC = 10503,          /* the MAC does not verify: wrong password or damage */
    SG_PKCS12_ERR_BAG_TYPE = 10505,     /* a bag of a type this library does not read */
    SG_PKCS12_ERR_OPTION = 10506,       /* option not supported */
    SG_PKCS12_ERR_NOT_PRIVATE_KEY = 10016,
    SG_PKCS12_ERR_NOT_ENCRYPTED_KEY = 10017
};

/* One attribute node: the localKeyId and friendlyName (UTF-8) a bag carries, either may be null;
 * values: further values, freed with the node, otherwise unused. */
typedef struct SGPKCS12Attribute {
    SGBinary* localKeyId;
    SGBinary* friendlyName;
    SGBinaryList* values;
    struct SGPKCS12Attribute* next;
} SGPKCS12Attribute;

/* One bag. value: certificate DER (500), PrivateKeyInfo DER (501, and 502 with flag 4) or
 * EncryptedPrivateKeyInfo DER (502). decoded: for 500 an SGBinary with the certificate DER read
 * from a file, for 501 and 502 an SGPKCS8PrivateKeyInfo (null until decoded). */
typedef struct SGPKCS12SafeBag {
    int flags;
    int bagType;
    SGBinary* value;
    void* decoded;
    SGPKCS12Attribute* attributes;
    struct SGPKCS12SafeBag* next;
} SGPKCS12SafeBag;

/* Caller-owned, zeroed before use; released with SGPKCS12PFX_Clear. safes: an array of count
 * head nodes, one list of bags each. */
typedef struct SGPKCS12PFX {
    SGPKCS12SafeBag* safes;
    int count;
} SGPKCS12PFX;

/* Adds a bag of the type (500, 501, 502; any other gets neither type nor value) holding a copy
 * of the value to the safe (appended to its list; an empty safe takes it as its head), with one
 * attribute node holding copies of attributes[0] (localKeyId) and attributes[1] (friendlyName)
 * when either is given (attributes may be null). The safe array grows to index + 1 entries.
 * 0; 10001 missing PFX or value; 10009 an index below 0 or not below SG_PKCS12_MAX_SAFES;
 * 10002 memory. */
int SGPKCS12PFX_AddSafeBag(SGPKCS12PFX* pfx, int safeIndex, int bagType, const SGBinary* value,
                           const SGBinary* const* attributes, int flags);
/* A certificate bag, or a key bag with a PrivateKeyInfo DER. */
int SGPKCS12PFX_AddCertificate(SGPKCS12PFX* pfx, int safeIndex, int flags,
                               const SGBinary* certificate, const SGBinary* localKeyId,
                               const SGBinary* friendlyName);
int SGPKCS12PFX_AddKey(SGPKCS12PFX* pfx, int safeIndex, int flags, const SGBinary* privateKeyInfo,
                       const SGBinary* localKeyId, const SGBinary* friendlyName);
/* A shrouded key bag: with flag 4 the key must be a PrivateKeyInfo (else 10016), without it an
 * EncryptedPrivateKeyInfo (else 10017). */
int SGPKCS12PFX_AddPKCS8ShroudedKey(SGPKCS12PFX* pfx, int safeIndex, int flags, const SGBinary* key,
                                    const SGBinary* localKeyId, const SGBinary* friendlyName);
/* The key as a shrouded key bag (flags | 4) in a new safe, then in the next new safe each CA
 * certificate of the list in order and last the certificate with the localKeyId and
 * friendlyName, all with the flags (1: both safes written as EncryptedData). The localKeyId
 * defaults to 20 random bytes; the friendlyName to the certificate's subject text (upper-case
 * attribute names, ", "), cut to at most 300 bytes at a character boundary. The key bag carries
 * the same localKeyId and friendlyName.
 * 0; 10001 missing PFX, key or certificate; 10506 a non-zero option; 10016 a key that is no
 * PrivateKeyInfo; 20902 a certificate that does not decode; 10002 memory; the random generator's
 * codes. On failure the PFX holds what it held before. */
int SGPKCS12PFX_AddCertificateAndKey(SGPKCS12PFX* pfx, int flags, const SGBinary* privateKeyInfo,
                                     const SGBinary* certificate, int option,
                                     const SGBinaryList* caCertificates, const SGBinary* localKeyId,
                                     const SGBinary* friendlyName);

/* The DER PFX into out (emptied first; empty on failure). Shrouded keys with flag 4 are
 * encrypted (pbeWithSHAAnd3-KeyTripleDES-CBC, 1024 iterations) and replace their plain value,
 * the flag then cleared, so a second Encode writes them as they are; a safe whose head has flag
 * 1 is written as EncryptedData; the MAC is HMAC-SHA-1 with an 8-byte salt and 2048 iterations.
 * option: may be null, otherwise not read beyond the encrypted-safe password check.
 * 0; 10001 missing out, PFX or password; 10003 a bag of another type (an empty safe included);
 * 10111 (option given) or 10010 (empty password) for an encrypted safe without password;
 * 20900 a bag that does not encode; the encryption's, the MAC's and the random generator's
 * codes. */
int SGPKCS12PFX_Encode(SGBinary* out, SGPKCS12PFX* pfx, const SGBinary* password, void* option);

/* Fills the PFX (zeroed first, so pass an empty one) from BER: checks the MAC, reads every bag
 * into a safe of its own and decrypts the shrouded keys.
 * 0; 10001 missing argument; 20901 not a PFX; 10003 a MAC digest other than SHA-1 or a
 * ContentInfo other than data and encryptedData; 10009 a MAC iteration count that is not 1 to
 * SG_PKCS12_MAX_ITERATIONS; 10503 the MAC does not verify (also a stored MAC that is not 20
 * bytes); 20903 an authSafe content type outside the OID table; 10502 an undecodable
 * AuthenticatedSafe or SafeContents; 10505 a bag of another type; 20906, 20907 an attribute
 * other than localKeyId and friendlyName, 20902 one that does not decode (a BMPString of odd
 * length); the decryption's codes (SGPKCS5.h, EncryptedData). On failure the PFX is empty. */
int SGPKCS12PFX_Decode(SGPKCS12PFX* pfx, const SGBinary* der, const SGBinary* password);

/* Selects the index-th end-entity certificate (certificates that are not CAs, counted from 0)
 * with the key whose localKeyId equals the certificate's (the first bag after it when the
 * certificate has none). key and certificate receive new DER (PrivateKeyInfo and certificate;
 * both emptied first); chain (may be null) gets the chain built from the file's CA
 * certificates, root first. A certificate whose key the file lacks gives 0 with the
 * certificate and an empty key.
 * 0; 10001 missing argument; 10009 no safes, an index below 0, or no end-entity certificate of
 * that index (the callers' loops end there); 10505 the localKeyId names a bag that holds no
 * key; 10002 memory; the key's encoding codes. */
int SGPKCS12PFX_GetCertificateAndKey(SGBinary* key, SGBinary* certificate, SGBinaryList* chain,
                                     const SGPKCS12PFX* pfx, int index);

/* Clears every bag (values and keys overwritten before release) and frees the safe array; the
 * record is zeroed and stays the caller's. A null PFX is ignored. Returns 0. */
int SGPKCS12PFX_Clear(SGPKCS12PFX* pfx);

SG_EXTERN_C_END

#endif
