// Static utilities of the token manager: wide/multibyte text, files and folders on wide paths,
// distinguished-name texts, small certificate helpers and the book of certificate policies.
#ifndef TOKEN_UTIL_H
#define TOKEN_UTIL_H

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TokenDefs.h"

// Attribute of a distinguished-name text; upper-case prefixes "CN=", "OU=", "O=", "C=" and their
// lower-case forms.
enum DNType : int { DNTYPE_CN = 0, DNTYPE_OU = 1, DNTYPE_O = 2, DNTYPE_C = 3 };

class TOKEN_EXPORT Util {
  public:
    // Policy OID -> (usage name, authority group 1 to 5).
    using OIDBook = std::map<std::wstring, std::pair<std::wstring, int>>;

    // Wide text is UTF-32, multibyte text UTF-8, whatever the process locale. Both directions
    // stop at the first NUL. Bytes that are not UTF-8 travel as U+DC80..U+DCFF, so every byte
    // string survives a round trip unchanged.
    static std::string wstringToString(std::wstring text);
    static std::string wstringToUtf8(std::wstring text);
    static std::wstring stringToWstring(std::string text);
    static std::wstring utf8ToWstring(std::string text);

    // Files and folders. Error results are errno values unless stated otherwise.
    static bool fileExist(std::wstring const& path);
    static bool directoryExist(std::wstring const& path);  // always true
    // Creates the folder and its missing parents with owner-only access.
    static int createDirectory(std::wstring const& path);
    // Deletes the folder with everything in it; symbolic links are removed, never followed.
    static int deleteDirectory(std::wstring const& path);
    static int deleteFile(std::wstring const& path);
    static FILE* wfopen(wchar_t const* path, wchar_t const* mode);
    // Replaces the file atomically (prepareFileAt, commitFile, syncFolder below): 0; -1 when
    // the file cannot be created; -2 when writing, flushing or the final rename fails (the
    // previous content is then intact and no temporary file is left).
    static int writeFile(std::wstring path, unsigned char* data, unsigned int length);
    // The whole file in a zeroed buffer released with SGOS_free: 0; -1 cannot open (or not a
    // regular file); -2 no memory; -3 the file could not be read whole.
    static int readFile(std::wstring path, unsigned char** data, unsigned int* length);
    // Whether the file can be rewritten: 0; -1 unreadable; -2 backup not written; -3 not
    // deleted; -4 not rewritten (the content is put back from the backup when possible).
    static int checkFileAuth(std::wstring path);
    // ---- Media that anyone may have prepared ------------------------------------------------
    // Certificate folders are read (and later written) only through these: folders are opened
    // level by level from their parent's descriptor without following a symbolic link, and files
    // are read only when the opened descriptor is a regular file within a bound, so a medium
    // can never make the system read or write outside its own tree, wait on a FIFO or a device,
    // or read a sparse giant. Paths are the bytes the file system sees (UTF-8).

    // Bounds far above real files: a certificate or key file is a few KiB, a PKCS #12 file a
    // few tens of KiB.
    static constexpr unsigned int kMaxCertificateFileSize = 64 * 1024;
    static constexpr unsigned int kMaxPFXFileSize = 1024 * 1024;

    // What the functions below answer instead of a descriptor or a file.
    enum MediaResult : int {
        MEDIA_OK = 0,
        MEDIA_NOT_FOUND = -1,   // cannot be opened: missing, or no access
        MEDIA_NO_MEMORY = -2,   // the buffer cannot be allocated
        MEDIA_SHORT_READ = -3,  // the file yielded fewer bytes than it measured
        MEDIA_LINK = -4,        // a symbolic link, not followed
        MEDIA_WRONG_TYPE = -5,  // not a regular file (FIFO, device, socket, folder), or not a
                                // folder where one is expected
        MEDIA_TOO_LARGE = -6,   // a file above the bound, not read
        MEDIA_OUTSIDE = -7      // a name or path that does not stay below its folder or root
    };
    // A short text of a MediaResult for log lines.
    static const char* mediaResultText(int result);

    // Opens the folder path, which is root or lies below it: root itself is opened as it is
    // (links included; it is the medium's own top), every level below it relative to its
    // parent's descriptor without following a link. A read-only, close-on-exec descriptor
    // that the caller closes, or a negative MediaResult ("." and ".." levels are MEDIA_OUTSIDE).
    static int openFolderBelow(std::string const& root, std::string const& path);
    // Opens the entry name of an open folder as a folder without following a link: a
    // descriptor or a negative MediaResult. name is one entry, never a path.
    static int openFolderAt(int folder, std::string const& name);
    // The names in an open folder other than "." and "..", in the order the folder gives them.
    // The caller's descriptor stays open; every listing reads the folder from its start.
    static std::vector<std::string> listFolderAt(int folder);
    // The whole regular file name of an open folder, in a buffer from SGOS_calloc that the
    // caller releases with SGOS_free (and wipes first when it held a key): 0, or a MediaResult.
    // A link, anything but a regular file and a file above maxSize are refused unread, all
    // checked with fstat on the opened descriptor; a FIFO or device is never waited on.
    static int readFileAt(int folder, std::string const& name, unsigned int maxSize,
                          unsigned char** data, unsigned int* length);
    // The same for a file given by its path below root (see openFolderBelow).
    static int readFileBelow(std::string const& root, std::string const& path, unsigned int maxSize,
                             unsigned char** data, unsigned int* length);
    // A whole file that the user chose (a PKCS #12 file in a file dialog), as readFileAt reads
    // one: links are followed, as the dialog followed them, but the file is read only as a
    // regular file within the bound.
    static int readChosenFile(std::string const& path, unsigned int maxSize, unsigned char** data,
                              unsigned int* length);

    // ---- Replacing files ---------------------------------------------------------------------
    // A file is replaced in two steps, so that several files can be replaced together and a
    // failure at any step leaves each of them whole: prepare writes the new content to a
    // temporary file beside the target in an open folder (created there without following a
    // link, written whole and flushed to disk, with the target's access mode); commit renames it
    // over the target. Until its commit the target is untouched, and discard removes the
    // temporary file. keepFileAt prepares the target's present content the same way (a second
    // link to it where the file system has links, else a flushed copy), so committing it undoes
    // a commit. syncFolder flushes the renames. Temporary names begin with ".sgtmp.", which no
    // certificate or key file name does, so a temporary file a crash leaves is never read as one.
    struct PreparedFile {
        int folder = -1;        // the caller's open folder (not closed here)
        std::string target;     // the entry the file replaces
        std::string temporary;  // the temporary entry; empty once committed or discarded
        int error = 0;          // errno of the step that failed
    };
    // 0; -1 the temporary file cannot be created (also for a target that is a folder); -2 it
    // cannot be written whole or flushed. On failure nothing is left behind.
    static int prepareFileAt(int folder, std::string const& name, const unsigned char* data,
                             unsigned int length, PreparedFile* out);
    // The present content of the regular file name (content: the same bytes, written when the
    // file system makes no second link; null when they could not be read, and then such a file
    // system cannot keep the file: -1, EIO): 0, or as prepareFileAt.
    static int keepFileAt(int folder, std::string const& name, const unsigned char* content,
                          unsigned int length, PreparedFile* out);
    // Renames the temporary file over the target: 0; -2 the rename failed (the temporary file
    // stays, for another commit or a discard).
    static int commitFile(PreparedFile* file);
    // Removes the temporary file of a prepared file not committed; nothing for one committed.
    static void discardFile(PreparedFile* file);
    // Flushes the folder's entries (the renames) to disk: 0, or the errno of the failure.
    static int syncFolder(int folder);
    // The folder entry name of an open folder made with owner-only access: 0 (also when it
    // exists as a folder already, *made false), or the errno.
    static int makeFolderAt(int folder, std::string const& name, bool* made);
    // Deletes the folder entry name of an open folder with everything in it, every step relative
    // to an opened descriptor: links inside are removed, never followed, and a link given as the
    // folder is refused (ELOOP or ENOTDIR) with nothing deleted. 0, or the errno.
    static int deleteFolderAt(int folder, std::string const& name);

    // ---- Text from certificates --------------------------------------------------------------
    // Text made fit to show in a field of size bytes (NUL included): every control character
    // (C0, DEL, C1) and line or paragraph separator becomes a blank, every byte that is not
    // UTF-8 becomes U+FFFD, and a text longer than the field is cut at a whole character and
    // ends with "…". Only an empty text gives an empty field. Nothing is written for a null out
    // or a size below 8.
    static void displayText(std::string_view text, char* out, unsigned int size);
    // Text fit for one log line: control characters (C0, DEL, C1) are written as "\xHH" (the
    // bytes of their UTF-8 form), everything else is kept as it is.
    static std::string logText(std::string_view text);

    // The home folder from the user database.
    static std::wstring getHomePath();
    static std::wstring getConfigPath();
    static int writeFileAllPermission(char const* path, unsigned char* data, unsigned int length);
    static int getSystemFolder(char* out, unsigned int size, char* name);
    static int checkAdmin();

    // Distinguished-name texts. parseDN copies the value of the first attribute of the type
    // (at most size - 1 characters, NUL-terminated) and leaves out unchanged when there is none;
    // the input text is not changed. Always 0.
    static int parseDN(char const* dn, char* out, unsigned long size, DNType type);
    static int parseDN(wchar_t const* dn, wchar_t* out, unsigned long size, DNType type);
    // Rebuilds a DN text with uniform attribute-name case, cut to size - 1 bytes: 0, or -1
    // without a text.
    static int remakeDN(char* out, unsigned int size, char* dn, bool upper);
    static std::string replaceAll(std::string const& text, std::string const& from,
                                  std::string const& to);
    // An entry of a parsed certificate (SGX509Certificate*) as text, without backslashes for the
    // issuer and subject: 0, -1 (no memory) or the certificate layer's code.
    static int X509Certificate_GetEntry_Remove_SpecialChar(void* certificate, char* out,
                                                           unsigned int size, int entry,
                                                           int option);

    // Certificates.
    // PEM text in a buffer released with SGOS_free: 0 or the Base64 code.
    static int encodePem(char** out, unsigned char* data, unsigned long length, char const* label);
    // SHA-256 fingerprint as 16 blank-separated groups of 4 upper-case hex digits, in a buffer
    // released with SGOS_free: 0; -1 digest failed; -2 encoding or memory failed.
    static int getRootCertHash(char** out, unsigned char* der, unsigned long length);
    // True when c >= a and d >= b as decimal integers; false when any text is missing.
    static bool compareDateStr(char* a, char* b, char* c, char* d);
    // Of two certificates of one holder (same subject and key usage): 1 when the first has the
    // smaller serial number, 2 otherwise; 0 for different holders; -1 / -2 when the first /
    // second cannot be read.
    static int compareCertificate(unsigned char* first, unsigned int firstLength,
                                  unsigned char* second, unsigned int secondLength);
    static int compareCertificate(char const* firstBase64, char const* secondBase64);

    // Bytes.
    static int atoiData(char digit);
    static void reverse(unsigned char* data, unsigned int length);
    static void reverseCopy(unsigned char* destination, unsigned char* source, unsigned int length);

    // Password rules: the code of the first rule the password (NUL-terminated bytes) breaks, 0
    // when it breaks none; strict selects the variant where letters and digits suffice.
    static int checkComplexPassword(unsigned char* password, bool strict, unsigned int minimum);
    static bool checkLimitLengthComplexPassword(bool strict, unsigned int minimum);
    static bool checkLengthComplexPassword(std::string& password, unsigned int minimum);
    static int checkErrorCase(bool const& letters, bool const& digits, bool const& others);

    // The policy book, filled with its 33 rows on first use.
    static OIDBook& getOIDBook();
    static void makeMap();
};

#endif
