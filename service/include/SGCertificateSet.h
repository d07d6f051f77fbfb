/* SGCertificateSet: a doubly linked list of certificates with their role, optional encrypted
 * private key, file path, trust and origin; and the writing of a set into an NPKI or GPKI folder
 * tree. Service slots 23 to 29. */
#ifndef SG_CERTIFICATE_SET_H
#define SG_CERTIFICATE_SET_H

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGX509Certificate.h"

SG_EXTERN_C_BEGIN

/* Folder layouts of a certificate storage and of SGCertificateSet_Write. An int, so that any
 * value a caller passes is well defined (and refused when it is neither). */
typedef int SGCertificateStorageType;
enum { SG_CERTIFICATE_STORAGE_NPKI = 0, SG_CERTIFICATE_STORAGE_GPKI = 1 };

/* Node types. SG_CERTSET_CLASSIFY asks SGCertificateSet_Add to classify the certificate and is
 * never stored. */
enum {
    SG_CERTSET_SIGN = 1,   /* signing certificate */
    SG_CERTSET_KM = 2,     /* key-management (encryption) certificate */
    SG_CERTSET_CA = 100,   /* CA certificate */
    SG_CERTSET_ROOT = 101, /* root CA certificate */
    SG_CERTSET_CLASSIFY = 899
};

/* Origins. */
enum { SG_CERTSET_FROM_UNKNOWN = 0, SG_CERTSET_FROM_FILE = 1, SG_CERTSET_FROM_LDAP = 2 };

/* Result codes besides 0, 10001 (missing or refused argument), 10002 (memory) and the file
 * writer's codes. */
enum {
    SG_CERTSET_ERR_PARSE = 10018,  /* the certificate does not parse */
    SG_CERTSET_ERR_LAYOUT = 10354, /* a layout other than NPKI and GPKI */
    SG_CERTSET_ERR_FOLDER = 10355  /* a folder could not be created */
};

/* One node. The caller owns the head (zeroed before first use; an empty head has type 0);
 * further nodes are allocated by the library. */
typedef struct _SGCertificateSet {
    int type;
    SGBinary certificate;              /* DER */
    SGX509Certificate x509Certificate; /* parsed form, empty when the DER does not parse */
    struct Certificate* parsed;        /* the same structure; never freed through it */
    SGBinary privateKey;               /* the encrypted key file's bytes, or empty */
    char* path;                        /* owned copy, or null */
    int trust;                         /* 1 for "TRUST=ON" */
    int origin;                        /* SG_CERTSET_FROM_* */
    struct _SGCertificateSet* prev;
    struct _SGCertificateSet* next;
} SGCertificateSet;

/* Applies an option text to the node: "FROM=FILE" or else "FROM=LDAP" sets the origin,
 * independently "TRUST=ON" or else "TRUST=OFF" the trust. 0 (10001 for a null node). */
int SGCertificateSet_SetOption(SGCertificateSet* node, const char* options);
/* Fills an empty head, or appends a node: the type, copies of the certificate (parsed) and of
 * the key, the path and the options. 10018 when the certificate does not parse: the node stays
 * with its type and DER, without key, path or options; with SG_CERTSET_CLASSIFY nothing is
 * added. 10001 for a null head or a type below 1. */
int SGCertificateSet_Add(SGCertificateSet* head, int type, const SGBinary* certificate,
                         const SGBinary* privateKey, const char* path, const char* options);
/* Appends a copy of every source node with its trust and origin. */
int SGCertificateSet_AddSet(SGCertificateSet* destination, const SGCertificateSet* source);
/* Not provided: 10010. */
int SGCertificateSet_Remove(SGCertificateSet* head, SGCertificateSet* node);
/* Clears the destination, then appends copies as SGCertificateSet_AddSet. */
int SGCertificateSet_Copy(SGCertificateSet* destination, const SGCertificateSet* source);
/* Frees the following nodes and clears the head (keys wiped); the head itself stays. */
int SGCertificateSet_Clear(SGCertificateSet* head);
/* The number of nodes; an empty head counts as one. */
int SGCertificateSet_Count(unsigned int* count, const SGCertificateSet* head);

/* Writes the set's certificates and keys below the base folder in the layout: 0; 10001 for a
 * missing argument, a first node without parsed certificate, an NPKI subject naming no known
 * authority, a user node of another type than 1 or 2, or certificate text that cannot be one
 * path component; 10354 for another layout; 10355 when a folder cannot be created (folders are
 * owner-only); otherwise the first file write's failure. Files go through the atomic writer, and
 * new key files are owner-only. */
int SGCertificateSet_Write(const SGCertificateSet* head, SGCertificateStorageType layout,
                           const SGBinary* baseFolder);

SG_EXTERN_C_END

#endif
