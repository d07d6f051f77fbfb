// Definitions shared by the token classes: the export marker, the token manager's result codes,
// the PKI kinds and the item-id digits.
#ifndef TOKEN_DEFS_H
#define TOKEN_DEFS_H

// The application exports the token classes by name, so that code loaded into the process can
// use them; everything else is built with hidden visibility.
#define TOKEN_EXPORT __attribute__((visibility("default")))

// Result codes of token operations (0 is success); library codes are passed on unchanged.
enum TokenResult : int {
    TOKEN_OK = 0,
    TOKEN_ERR_NOT_PKCS8 = 1017,             // neither EncryptedPrivateKeyInfo nor PrivateKeyInfo
    TOKEN_ERR_WRONG_PIN = 1022,             // the signing key does not open with the password
    TOKEN_ERR_PIN_SAME_DIGIT = 1023,        // a digit occurs 4 or more times
    TOKEN_ERR_PIN_SAME_LETTER = 1024,       // a letter occurs 4 or more times
    TOKEN_ERR_PIN_BLANKS = 1025,            // 3 or more blanks
    TOKEN_ERR_PIN_ONLY_LETTERS = 1026,      // letters only, or empty
    TOKEN_ERR_PIN_ONLY_DIGITS = 1027,       // digits only
    TOKEN_ERR_INPUT_TOO_LONG = 1029,        // signing input over the limit
    TOKEN_ERR_PFX_REJECTED = 1030,          // PKCS #12 data rejected
    TOKEN_ERR_PFX_INTEGRITY = 1031,         // PKCS #12 integrity check failed
    TOKEN_ERR_PFX_MALFORMED = 1032,         // PKCS #12 data malformed
    TOKEN_ERR_KM_WRONG_PIN = 1043,          // the key-management key does not open
    TOKEN_ERR_NO_LOCAL_KEY = 1300,          // no local key pair under the key id
    TOKEN_ERR_PUBLIC_KEY = 1301,            // public key or key size unavailable
    TOKEN_ERR_PIN_CANCELLED = 1302,         // password input cancelled
    TOKEN_ERR_CHANGE_CANCELLED = 1304,      // password change cancelled
    TOKEN_ERR_NO_PIN = 1305,                // no password and no handler to ask
    TOKEN_ERR_INIT_NOT_SUPPORTED = 1306,    // initToken
    TOKEN_ERR_NOT_SUPPORTED = 1307,         // operation not supported by this token or key
    TOKEN_ERR_SETPIN_NOT_SUPPORTED = 1308,  // setPIN
    TOKEN_ERR_NO_CERTIFICATE = 1309,        // no certificate with this item id
    TOKEN_ERR_NO_PRIVATE_KEY = 1310,        // private key or local key pair missing
    TOKEN_ERR_NO_KM_PAIR = 1311,            // no key-management pair
    TOKEN_ERR_INVALID_DATA = 1312,          // certificate or key data invalid
    TOKEN_ERR_MEMORY = 1315,                // memory exhausted
    TOKEN_ERR_EXPORT_EMPTY = 1316,          // certificate or key to export is empty
    TOKEN_ERR_PFX_BAG = 1317,               // PKCS #12 bag not built
    TOKEN_ERR_PFX_ENCODE = 1319,            // PKCS #12 file not encoded
    TOKEN_ERR_X509_DECODE = 1320,           // an X.509 certificate does not decode
    TOKEN_ERR_ENVELOPE = 1321,              // enveloping failed
    TOKEN_ERR_PRIVATE_KEY_INFO = 1327,      // PrivateKeyInfo does not decode
    TOKEN_ERR_KEY_DECRYPT = 1328,           // key decryption failed
    TOKEN_ERR_IMPORT_OPEN = 1329,           // an import is already open
    TOKEN_ERR_IMPORT_NOT_OPEN = 1330,       // no import is open
    TOKEN_ERR_NO_SUBJECT_ENTRY = 1331,      // subject entry missing for the folder
    TOKEN_ERR_CERT_PUBLIC_KEY = 1332,       // the certificate's public key cannot be read
    TOKEN_ERR_RSA_ENCRYPT = 1333,           // RSA encryption failed
    TOKEN_ERR_NO_TOKEN = 1334,              // no token with this id
    TOKEN_ERR_WRITE = 1336,                 // folder not created or file not written
    TOKEN_ERR_PKCS5_ENCRYPT = 1337,         // PKCS #5 encryption failed
    TOKEN_ERR_PKCS8_ENCODE = 1338,          // PKCS #8 encoding failed
    TOKEN_ERR_DELETE = 1339,                // file or folder not deleted
    TOKEN_ERR_READ_FILE = 1340,             // file not read
    TOKEN_ERR_WRITE_FILE = 1341,            // file not written, or not Base64
    TOKEN_ERR_READ_REFUSED = 1342,          // reading refused
    TOKEN_ERR_WRITE_REFUSED = 1343,         // writing refused
    TOKEN_ERR_SIGNATURE_VERIFY = 1500,      // the new signature does not verify
    TOKEN_ERR_CRL_CA = 1615,                // the CA certificate of a CRL not found
    TOKEN_ERR_STORED_NEWER = 1700           // the stored certificate is newer and is kept
};

// Key and folder conventions of a certificate: NPKI (RSA keys under SEED) or GPKI (KCDSA keys
// under ARIA).
enum PKIType : int { PKI_TYPE_NPKI = 0, PKI_TYPE_GPKI = 1 };

// An item id is a certificate's 40-character identifier followed by one of these digits.
enum {
    TOKEN_IDENTIFIER_LENGTH = 40,
    TOKEN_ITEM_SIGN_CERT = '1',
    TOKEN_ITEM_SIGN_KEY = '2',
    TOKEN_ITEM_KM_CERT = '3',
    TOKEN_ITEM_KM_KEY = '4'
};

#endif
