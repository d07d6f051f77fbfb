/* PKCS #8 private-key information: PrivateKeyInfo (a plain key with its algorithm and the KISA
 * randomNum attribute) and EncryptedPrivateKeyInfo (the form of the NPKI and GPKI key files and
 * of the shrouded keys of PKCS #12 files). BER is read, DER written. The encryption itself is
 * SGPKCS5.h's. Service slots 43 to 48.
 *
 * Reading a key file: SGPKCS8EncryptedPrivateKeyInfo_Decode, SGPKCS5Decrypt with the password,
 * SGPKCS8PrivateKeyInfo_Decode on the plaintext. Writing: the reverse, with the Encode
 * functions and SGPKCS5Encrypt. */
#ifndef SG_PKCS8_H
#define SG_PKCS8_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

/* Algorithm codes of both records: the password-based encryption types 1 to 9 (SGPKCS5.h) and
 * three key algorithms. Any other code, or an identifier without a code, gives 10003. */
enum {
    SG_PKCS8_ALGORITHM_RSA = 1000,   /* rsaEncryption */
    SG_PKCS8_ALGORITHM_KCDSA = 1001, /* 1.2.410.200004.1.1 */
    SG_PKCS8_ALGORITHM_KCDSA2 = 1002 /* 1.2.410.200004.1.21 */
};

/* Result codes are the shared ones of SGPKCSError.h: 10001 missing or empty input, 10002
 * memory, 10003 unknown algorithm, 20902 undecodable or unencodable, 20903 attribute type
 * outside the OID table, 20905 no memory for the parameters field. */

/* PrivateKeyInfo. Caller-owned; Decode allocates the buffers and SGPKCS8PrivateKeyInfo_Cleanse
 * releases them. */
typedef struct SGPKCS8PrivateKeyInfo {
    long version;
    int algorithm;        /* code, see above */
    SGBinary* parameters; /* the algorithm parameters as encoded (KCDSA: the domain), or null */
    SGBinary privateKey;  /* the privateKey octets (RSA: the DER RSAPrivateKey) */
    SGBinary* randomNum;  /* the KISA randomNum attribute's bytes, or null */
} SGPKCS8PrivateKeyInfo;

/* EncryptedPrivateKeyInfo. Caller-owned. */
typedef struct SGPKCS8EncryptedPrivateKeyInfo {
    int algorithm;        /* the PBE type 1 to 9 (SGPKCS5.h) */
    SGBinary* parameters; /* the algorithm parameters as encoded (PBES2: PBES2-params), or null */
    SGBinary encryptedData;
} SGPKCS8EncryptedPrivateKeyInfo;

/* The DER of the record into out (whatever out held is released first; empty on failure). The
 * parameters are copied in (absent when the pointer is null or the buffer empty); a non-null
 * randomNum adds the attributes field with the single randomNum attribute, a BIT STRING with 0
 * unused bits. The record is not changed.
 * 0; 10001 missing argument; 10003 unknown code; 10002 memory; 20902 or 20905 from the ASN.1
 * layer. */
int SGPKCS8PrivateKeyInfo_Encode(SGBinary* out, const SGPKCS8PrivateKeyInfo* in);

/* Fills a record from BER. The record is zeroed first, so pass a fresh one (its old buffers
 * would be lost, not freed). Copies the private-key octets; the parameters and the randomNum go
 * to new buffers, only when present. Of the attributes, randomNum (1.2.410.200004.10.1.1.3) is
 * kept (with several values or attributes, the last one) and others are skipped; an attribute
 * type outside the OID table stops decoding.
 * 0; 10001 missing argument; 20902 undecodable (also a randomNum value that is no BIT STRING);
 * 20903 unknown attribute type; 10003 unknown algorithm; 10002 memory. A version that does not
 * fit a long is undecodable. A failed Decode leaves what it filled: run Cleanse in every case. */
int SGPKCS8PrivateKeyInfo_Decode(SGPKCS8PrivateKeyInfo* out, const SGBinary* der);

/* Overwrites and releases the private-key octets, the parameters and the randomNum (buffers and
 * their records), then overwrites the record, which stays the caller's. A null record is
 * ignored. Returns 0. */
int SGPKCS8PrivateKeyInfo_Cleanse(SGPKCS8PrivateKeyInfo* info);

/* The DER of the record into out. out is first set empty WITHOUT releasing what it pointed at
 * (callers pass an empty record). Parameters are omitted when the pointer is null or the buffer
 * empty. The record is not changed.
 * 0; 10001 missing argument; 10003 unknown code; 10002 memory; 20902 from the ASN.1 layer. */
int SGPKCS8EncryptedPrivateKeyInfo_Encode(SGBinary* out, const SGPKCS8EncryptedPrivateKeyInfo* in);

/* Zeroes the record, then fills it from BER: code, parameters (a new buffer, only when present)
 * and a copy of the encrypted octets.
 * 0; 10001 missing record, missing or empty input; 20902 undecodable; 10003 unknown
 * algorithm; 10002 memory. Run Cleanse in every case. */
int SGPKCS8EncryptedPrivateKeyInfo_Decode(SGPKCS8EncryptedPrivateKeyInfo* out, const SGBinary* der);

/* Overwrites and releases the parameters (buffer and record) and the encrypted octets, then
 * overwrites the record. A null record is ignored. Returns 0. */
int SGPKCS8EncryptedPrivateKeyInfo_Cleanse(SGPKCS8EncryptedPrivateKeyInfo* info);

SG_EXTERN_C_END

#endif
