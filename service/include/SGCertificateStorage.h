/* SGCertificateStorage: the certificates of one NPKI or GPKI folder tree in memory (every CA
 * certificate, roots marked trusted, and per subject the signing and key-management certificates
 * with their encrypted keys); finding certificates and issuers, fetching a missing issuer from
 * the LDAP directory named in a distribution point, and building chains up to a trusted root.
 * Service slots 30 to 37. */
#ifndef SG_CERTIFICATE_STORAGE_H
#define SG_CERTIFICATE_STORAGE_H

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGCertificateSet.h"
#include "SGX509Certificate.h"

SG_EXTERN_C_BEGIN

/* One source of certificates: one CA file, or one subject folder (its signing certificate first,
 * its key-management certificate second). */
typedef struct _SGCertificateSetList {
    SGCertificateSet set;
    struct _SGCertificateSetList* next;
} SGCertificateSetList;

/* Caller-owned, zeroed before use; the storage owns its elements. */
typedef struct _SGCertificateStorage {
    SGCertificateStorageType type;
    SGCertificateSetList* first;
    unsigned char reserved[48];
} SGCertificateStorage;

/* Search modes of SGCertificateStorage_Find. */
enum {
    SG_CERTSTORE_FIND_CERTIFICATE = 1,   /* key: an SGX509Certificate */
    SG_CERTSTORE_FIND_ISSUER_SERIAL = 3, /* key: an SGCertificateStorageIssuerSerial */
    SG_CERTSTORE_FIND_SUBJECT_TEXT = 5   /* key: a text the subject (entry 7) contains */
};

/* The key of mode 3: the DER of an issuer Name and of a serial-number INTEGER. */
typedef struct SGCertificateStorageIssuerSerial {
    SGBinary issuer;
    SGBinary serial;
} SGCertificateStorageIssuerSerial;

/* Flags of SGCertificateStorage_GenerateCertificateChain. */
enum { SG_CERTSTORE_CHAIN_LDAP = 1 }; /* issuers missing from the storage are fetched */

/* Result codes besides 0, 10001 (missing argument, unknown layout or mode), 10002 (memory),
 * 10004 (no match) and 10010 (mode not supported). */
enum {
    SG_CERTSTORE_ERR_FOLDER = 10350,    /* the NPKI folder cannot be opened */
    SG_CERTSTORE_ERR_NO_ISSUER = 10351, /* no issuer in the storage */
    SG_CERTSTORE_ERR_NO_ROOT = 10352,   /* the chain does not reach a root */
    SG_CERTSTORE_ERR_UNTRUSTED = 10353, /* the root is not trusted */
    SG_CERTSTORE_ERR_LDAP_CERT = 10356  /* the certificate read from LDAP does not parse */
};

/* Files larger than this are not read as certificates or keys. */
#define SG_CERTSTORE_FILE_MAX (1024u * 1024u)

/* Zeroes the record, sets the layout and reads the folder tree (the NPKI folder, or the GPKI
 * folder that holds "Certificate"): the reader's result; 10001 for another layout. */
int SGCertificateStorage_CreateByPath(SGCertificateStorage* storage, const SGBinary* folder,
                                      SGCertificateStorageType layout);
/* Frees every element; the record stays. */
int SGCertificateStorage_Clear(SGCertificateStorage* storage);
/* Unlinks and frees the element given by its address; one not in the list is ignored. */
int SGCertificateStorage_Remove(SGCertificateStorage* storage, SGCertificateSetList* element);
/* Appends an element holding a copy of the set: 0, 10002. */
int SGCertificateStorage_AddCertificate(SGCertificateStorage* storage, const SGCertificateSet* set);
/* Clears the set of every element of the list without freeing the elements. */
int SGCertificateSetList_Clear(SGCertificateSetList* first);

/* The first node that matches, by address (no copy). Nodes without a parsed certificate match
 * only in mode 1. */
int SGCertificateStorage_Find(SGCertificateSet** out, const SGCertificateStorage* storage, int mode,
                              const void* key);
/* Marks the node holding the certificate trusted: 0 or the search's result. */
int SGCertificateStorage_SetTrust(SGCertificateStorage* storage,
                                  const SGX509Certificate* certificate);
/* The issuer by key identifiers: a copy of the node (its buffers stay the storage's, its links
 * are null) into out; 10351 when none matches. */
int SGCertificateStorage_FindIssuer(SGCertificateSet* out, const SGCertificateStorage* storage,
                                    const SGX509Certificate* certificate);
/* Reads the issuer from the LDAP directory of the certificate's CRL distribution points, adds it
 * to the storage (unless already held) and finds it as SGCertificateStorage_FindIssuer does. */
int SGCertificateStorage_FindIssuerAtLDAP(SGCertificateSet* out, SGCertificateStorage* storage,
                                          const SGX509Certificate* certificate);
/* Appends the issuers of the certificate, nearest first, up to a root (or a certificate that is
 * its own issuer) to the chain: 0 when that root is trusted, 10353 when not, 10352 when no
 * issuer is found, a folder write fails, the issuers loop or the chain grows past
 * SG_CERTSTORE_CHAIN_MAX. With a folder each issuer is also written there in the storage's
 * layout. */
int SGCertificateStorage_GenerateCertificateChain(SGCertificateSet* chain,
                                                  SGCertificateStorage* storage,
                                                  const SGX509Certificate* certificate, int flags,
                                                  const SGBinary* folder);
#define SG_CERTSTORE_CHAIN_MAX 16

/* The readers. Only regular files up to SG_CERTSTORE_FILE_MAX are read and links are not
 * followed; files that are not certificates are skipped. */
int SGCertificateStorage_ReadNPKI(SGCertificateStorage* storage, const SGBinary* folder);
int SGCertificateStorage_ReadNPKIUser(SGCertificateStorage* storage, const SGBinary* folder);
int SGCertificateStorage_ReadGPKI(SGCertificateStorage* storage, const SGBinary* folder);
/* folder + "/" + name into out (NUL-terminated, the length without it) when the folder holds an
 * entry of exactly that name: 0; 10004 when it does not; 10350 when the folder cannot be read. */
int SGCertificateStorage_GetRelatedFilePath(SGBinary* out, const char* name, const char* folder);

SG_EXTERN_C_END

#endif
