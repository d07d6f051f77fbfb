#include "Util.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/random.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>
#include <vector>

#include "SGBase64.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "TokenCertificate.h"
#include "TokenCodec.h"
#include "TokenTables.h"

namespace {

// ---- UTF-8 <-> UTF-32 ----------------------------------------------------------------------

// Bytes that are not UTF-8 (a file name written in another code set) become U+DC80..U+DCFF and
// come back as the same bytes.
constexpr uint32_t kEscapeBase = 0xDC00;
constexpr uint32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string toUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        const uint32_t c = static_cast<uint32_t>(wc);
        if (c == 0) break;
        if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
            out += static_cast<char>(c - kEscapeBase);
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

// Length of the well-formed UTF-8 sequence at s[i] and its code point; 0 when it is not one.
size_t decodeOne(std::string_view s, size_t i, uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t len;
    uint32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, min = 0x80, cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, min = 0x800, cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, min = 0x10000, cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

std::wstring fromUtf8(const std::string& text) {
    std::string_view s(text.c_str());  // up to the first NUL
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            out += static_cast<wchar_t>(b0);
            ++i;
            continue;
        }
        uint32_t cp = 0;
        if (size_t len = decodeOne(s, i, cp)) {
            out += static_cast<wchar_t>(cp);
            i += len;
        } else {
            out += static_cast<wchar_t>(kEscapeBase + b0);
            ++i;
        }
    }
    return out;
}

// ---- Files ---------------------------------------------------------------------------------

// One level of a path: an existing folder is kept, anything else in the way is an error.
int createLevel(const std::string& level) {
    struct stat st;
    if (::stat(level.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (TM_BASE(SGOS_mkdir)(level.c_str(), SGOS_S_IRWXU) == 0) return 0;
    const int error = errno;
    // Another process may have made it meanwhile.
    if (error == EEXIST && ::stat(level.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    return error;
}

// Deletes what the open folder holds. Every step is relative to the folder's descriptor and
// refuses symbolic links, so nothing outside the folder is reached even if an entry is swapped
// for a link meanwhile.
void deleteContents(int folder, const std::string& path) {
    DIR* dir = ::fdopendir(folder);
    if (!dir) {
        ::close(folder);
        return;
    }
    const int fd = ::dirfd(dir);
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        std::printf("File : %s\n", name);
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        const std::string full = path + "/" + name;
        struct stat st;
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            std::perror(full.c_str());
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            std::printf("%s delete file\n", full.c_str());
            ::unlinkat(fd, name, 0);
            continue;
        }
        std::printf("%s delete directory recursive\n", full.c_str());
        const int child = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0) deleteContents(child, full);
        ::unlinkat(fd, name, AT_REMOVEDIR);
    }
    ::closedir(dir);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool writeAll(int fd, const unsigned char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// What a failed open of an entry without following links tells: a link, an entry of the wrong
// kind, or one that cannot be opened at all.
int classifyOpenFailure(int folder, const char* name, int error) {
    struct stat st;
    if (error == ELOOP) return Util::MEDIA_LINK;
    if (error == ENOENT) return Util::MEDIA_NOT_FOUND;  // the usual case: one look is enough
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) return Util::MEDIA_LINK;
        if (error == ENOTDIR || error == ENXIO || error == EISDIR) return Util::MEDIA_WRONG_TYPE;
    }
    return Util::MEDIA_NOT_FOUND;
}

// O_NONBLOCK: opening a FIFO must not wait for a writer; O_NOCTTY: a terminal device must not
// become the process's.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// The whole file of an open descriptor (closed here) when it is a regular file within the bound,
// in a buffer from SGOS_calloc: 0 or a MediaResult.
int readOpened(int fd, unsigned int maxSize, unsigned char** data, unsigned int* length) {
    struct stat st;
    int result = Util::MEDIA_OK;
    if (::fstat(fd, &st) != 0)
        result = Util::MEDIA_NOT_FOUND;
    else if (!S_ISREG(st.st_mode))
        result = Util::MEDIA_WRONG_TYPE;
    else if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxSize ||
             static_cast<uint64_t>(st.st_size) >= UINT32_MAX)
        result = Util::MEDIA_TOO_LARGE;
    if (result != Util::MEDIA_OK) {
        ::close(fd);
        return result;
    }
    const auto size = static_cast<uint32_t>(st.st_size);
    auto* buffer = static_cast<unsigned char*>(TM_BASE(SGOS_calloc)(size ? size : 1, 1));
    if (!buffer) {
        ::close(fd);
        return Util::MEDIA_NO_MEMORY;
    }
    // At most the measured size: a file that grows meanwhile is read no further.
    uint32_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<uint32_t>(n);
    }
    ::close(fd);
    if (got != size) {
        TM_BASE(SGMemory_cleanse)(buffer, size);
        TM_BASE(SGOS_free)(buffer);
        return Util::MEDIA_SHORT_READ;
    }
    *data = buffer;
    *length = size;
    return Util::MEDIA_OK;
}

// One entry name of a folder: no separator, not "." or "..", not empty.
bool isEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Temporary files of replacements: a name no certificate or key file has, and tries enough that
// a clash with another writer's name cannot end a write.
constexpr int kTemporaryAttempts = 100;

std::string temporaryName() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter{0};
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        // Without the kernel's random source the names only need to differ: O_EXCL decides.
        const uint64_t value = (static_cast<uint64_t>(::getpid()) << 32) ^ ++counter ^
                               static_cast<uint64_t>(::time(nullptr));
        std::memcpy(random, &value, sizeof random);
    }
    std::string name = ".sgtmp.";
    for (unsigned char b : random) name += kLetters[b % (sizeof kLetters - 1)];
    return name;
}

// A new temporary file in the folder, opened for writing: its descriptor, or -1 with the errno.
int createTemporary(int folder, std::string* name, int* error) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        const std::string candidate = temporaryName();
        const int fd =
            ::openat(folder, candidate.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd >= 0) {
            *name = candidate;
            return fd;
        }
        if (errno != EEXIST) break;
    }
    *error = errno;
    return -1;
}

// ---- Texts ---------------------------------------------------------------------------------

constexpr char kShownReplacement[] = "\xEF\xBF\xBD";  // U+FFFD, for bytes that are not UTF-8
constexpr char kEllipsis[] = "\xE2\x80\xA6";          // U+2026

bool isControl(uint32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

template <typename Char>
struct DNPrefixes;
template <>
struct DNPrefixes<char> {
    static constexpr const char* upper[4] = {"CN=", "OU=", "O=", "C="};
    static constexpr const char* lower[4] = {"cn=", "ou=", "o=", "c="};
};
template <>
struct DNPrefixes<wchar_t> {
    static constexpr const wchar_t* upper[4] = {L"CN=", L"OU=", L"O=", L"C="};
    static constexpr const wchar_t* lower[4] = {L"cn=", L"ou=", L"o=", L"c="};
};

// The parts of a DN text between its commas, empty parts skipped.
template <typename Char>
std::vector<std::basic_string_view<Char>> splitDN(std::basic_string_view<Char> text) {
    std::vector<std::basic_string_view<Char>> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(Char(','), start);
        if (end == std::basic_string_view<Char>::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

template <typename Char>
int parseDNText(const Char* dn, Char* out, unsigned long size, DNType type) {
    if (!dn || !out || size == 0 || type < DNTYPE_CN || type > DNTYPE_C) return 0;
    const std::basic_string<Char> copy(dn);  // the caller's text stays as it is
    for (auto part : splitDN<Char>(copy)) {
        if (part.find(DNPrefixes<Char>::upper[type]) == part.npos &&
            part.find(DNPrefixes<Char>::lower[type]) == part.npos)
            continue;
        // The value starts at the part's fourth character: the first one after "O=" or "C="
        // behind the blank that follows a comma, and after "CN=" at the start of the text.
        const auto value = part.size() > 3 ? part.substr(3) : std::basic_string_view<Char>{};
        const size_t n = std::min<size_t>(value.size(), size - 1);
        std::copy_n(value.data(), n, out);
        out[n] = Char(0);
        return 0;
    }
    return 0;
}

// The policy book's rows in their fixed order.
struct PolicyRow {
    const wchar_t* oid;
    const wchar_t* usage;
    int group;
};
constexpr PolicyRow kPolicies[] = {
    {L"1.2.410.200004.5.4.1.2", L"법인범용", 1},
    {L"1.2.410.200004.5.4.1.1", L"개인범용", 1},
    {L"1.2.410.200004.5.4.1.101", L"인터넷뱅킹용", 1},
    {L"1.2.410.200004.5.4.1.102", L"증권거래용", 1},
    {L"1.2.410.200004.5.4.1.103", L"인터넷보험용", 1},
    {L"1.2.410.200004.5.4.1.104", L"신용카드용", 1},
    {L"1.2.410.200004.5.4.1.105", L"전자민원용", 1},
    {L"1.2.410.200004.5.4.1.106", L"인터넷뱅킹용/전자민원용", 1},
    {L"1.2.410.200004.5.4.1.107", L"증권거래용/전자민원용", 1},
    {L"1.2.410.200004.5.4.1.108", L"인터넷보험용/전자민원용", 1},
    {L"1.2.410.200004.5.4.1.109", L"신용카드용/전자민원용", 1},
    {L"1.2.410.200004.5.2.1.1", L"법인범용", 2},
    {L"1.2.410.200004.5.2.1.2", L"개인범용", 2},
    {L"1.2.410.200004.5.2.1.7.1", L"은행거래용/보험용", 2},
    {L"1.2.410.200004.5.2.1.7.2", L"증권거래용/보험용", 2},
    {L"1.2.410.200004.5.2.1.7.3", L"신용카드용", 2},
    {L"1.2.410.200004.5.1.1.7", L"법인범용", 3},
    {L"1.2.410.200004.5.1.1.5", L"개인범용", 3},
    {L"1.2.410.200004.5.1.1.9", L"용도제한용", 3},
    {L"1.2.410.200012.1.1.3", L"법인범용", 4},
    {L"1.2.410.200012.1.1.1", L"개인범용", 4},
    {L"1.2.410.200012.11.31", L"은행거래용(서명용)", 4},
    {L"1.2.410.200012.11.32", L"은행거래용(암호용)", 4},
    {L"1.2.410.200012.11.35", L"증권거래용(서명용)", 4},
    {L"1.2.410.200012.11.36", L"증권거래용(암호용)", 4},
    {L"1.2.410.200012.11.39", L"보험거래용(서명용)", 4},
    {L"1.2.410.200012.11.40", L"보험거래용(암호용)", 4},
    {L"1.2.410.200012.11.43", L"신용카드용(서명용)", 4},
    {L"1.2.410.200012.11.44", L"신용카드용(암호용)", 4},
    {L"1.2.410.200005.1.1.5", L"법인범용", 5},
    {L"1.2.410.200005.1.1.1", L"개인범용", 5},
    {L"1.2.410.200005.1.1.4", L"은행/보험용", 5},
    {L"1.2.410.200005.1.1.6.2", L"신용카드용", 5},
};
static_assert(std::size(kPolicies) == 33);

// Serial numbers as the certificate layer renders them (hexadecimal of the INTEGER's content
// bytes, up to 20 bytes) compared as numbers of any length.
std::string serialDigits(const char* text) {
    std::string digits;
    for (const char* p = text; *p; ++p) {
        if (!std::isxdigit(static_cast<unsigned char>(*p))) continue;
        if (digits.empty() && *p == '0') continue;
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    return digits;
}

bool serialLess(const char* a, const char* b) {
    const std::string x = serialDigits(a);
    const std::string y = serialDigits(b);
    return x.size() != y.size() ? x.size() < y.size() : x < y;
}

std::mutex gBookMutex;

Util::OIDBook& book() {
    static Util::OIDBook instance;
    return instance;
}

void fillBook(Util::OIDBook& b) {
    b.clear();
    for (const auto& row : kPolicies) b.emplace(row.oid, std::make_pair(row.usage, row.group));
}

}  // namespace

// ---- Text conversions ----------------------------------------------------------------------

std::string Util::wstringToString(std::wstring text) {
    return toUtf8(text);
}

std::string Util::wstringToUtf8(std::wstring text) {
    return toUtf8(text);
}

std::wstring Util::stringToWstring(std::string text) {
    return fromUtf8(text);
}

std::wstring Util::utf8ToWstring(std::string text) {
    return fromUtf8(text);
}

// ---- Files and folders ---------------------------------------------------------------------

bool Util::fileExist(std::wstring const& path) {
    return TM_BASE(SGOS_access)(wstringToString(path).c_str(), F_OK) == 0;
}

bool Util::directoryExist(std::wstring const&) {
    return true;
}

int Util::createDirectory(std::wstring const& path) {
    const std::string p = wstringToString(path);
    // Every level below the first "/", then the whole path; existing levels stay as they are.
    for (size_t i = 1; i < p.size(); ++i) {
        if (p[i] != '/') continue;
        if (int error = createLevel(p.substr(0, i))) return error;
    }
    return createLevel(p);
}

int Util::deleteDirectory(std::wstring const& path) {
    const std::string p = wstringToString(path);
    // O_NOFOLLOW: a link given as the folder is not followed into its target.
    const int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        std::printf("could not open directory(%s:%d)\n", p.c_str(), errno);
    } else {
        deleteContents(fd, p);
    }
    if (::rmdir(p.c_str()) != 0) {
        const int error = errno;
        std::printf("rmdir(%s:%d)\n", p.c_str(), error);
        return error;
    }
    return 0;
}

int Util::deleteFile(std::wstring const& path) {
    return std::remove(wstringToString(path).c_str()) == 0 ? 0 : errno;
}

FILE* Util::wfopen(wchar_t const* path, wchar_t const* mode) {
    if (!path || !mode) return nullptr;
    return std::fopen(wstringToString(path).c_str(), wstringToString(mode).c_str());
}

int Util::writeFile(std::wstring path, unsigned char* data, unsigned int length) {
    const std::string target = wstringToString(path);
    const size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const int folder = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return -1;
    PreparedFile file;
    int rc = prepareFileAt(folder, name, data, length, &file);
    if (rc == 0 && commitFile(&file) != 0) {
        discardFile(&file);
        rc = -2;
    }
    if (rc == 0) syncFolder(folder);
    ::close(folder);
    return rc;
}

int Util::readFile(std::wstring path, unsigned char** data, unsigned int* length) {
    if (data) *data = nullptr;
    if (length) *length = 0;
    if (!data || !length) return -1;
    FILE* f = std::fopen(wstringToString(path).c_str(), "rb");
    if (!f) return -1;
    struct stat st;
    if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return -1;
    }
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) >= UINT32_MAX) {
        std::fclose(f);
        return -3;
    }
    const auto size = static_cast<uint32_t>(st.st_size);
    auto* buffer = static_cast<unsigned char*>(TM_BASE(SGOS_calloc)(size ? size : 1, 1));
    if (!buffer) {
        std::fclose(f);
        return -2;
    }
    // A file that yields fewer bytes than it measured (it shrank, or a read failed) is an error,
    // never a zero-padded buffer.
    const size_t got = std::fread(buffer, 1, size, f);
    std::fclose(f);
    if (got != size) {
        TM_BASE(SGMemory_cleanse)(buffer, size);
        TM_BASE(SGOS_free)(buffer);
        return -3;
    }
    *data = buffer;
    *length = size;
    return 0;
}

int Util::checkFileAuth(std::wstring path) {
    unsigned char* data = nullptr;
    unsigned int length = 0;
    if (readFile(path, &data, &length) != 0) return -1;
    const std::wstring backup = path + L".backup";
    int result = 0;
    if (writeFile(backup, data, length) != 0) {
        result = -2;
    } else if (deleteFile(path) != 0) {
        result = -3;
    } else if (writeFile(path, data, length) != 0) {
        // The backup holds the only copy now: put it back, and keep it if that fails too.
        result = -4;
        ::rename(wstringToString(backup).c_str(), wstringToString(path).c_str());
    }
    TM_BASE(SGMemory_cleanse)(data, length);
    TM_BASE(SGOS_free)(data);
    if (result != -4 && fileExist(backup)) deleteFile(backup);
    return result;
}

// ---- Replacing files -----------------------------------------------------------------------

int Util::prepareFileAt(int folder, std::string const& name, const unsigned char* data,
                        unsigned int length, PreparedFile* out) {
    if (!out) return -1;
    *out = PreparedFile{};
    out->folder = folder;
    out->target = name;
    if (folder < 0 || !isEntryName(name)) {
        out->error = EINVAL;
        return -1;
    }
    if (!data && length) {
        out->error = EINVAL;
        return -2;
    }
    // The new file gets the access mode of the one it replaces; a new one is the owner's only.
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat st;
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) {
            out->error = EISDIR;
            return -1;
        }
        if (S_ISREG(st.st_mode)) mode = st.st_mode & 07777;
    }
    const int fd = createTemporary(folder, &out->temporary, &out->error);
    if (fd < 0) return -1;
    ::fchmod(fd, mode);
    bool ok = writeAll(fd, data, length) && ::fsync(fd) == 0;
    if (!ok) out->error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        out->error = errno;
    }
    if (!ok) {
        ::unlinkat(folder, out->temporary.c_str(), 0);
        out->temporary.clear();
        return -2;
    }
    return 0;
}

int Util::keepFileAt(int folder, std::string const& name, const unsigned char* content,
                     unsigned int length, PreparedFile* out) {
    if (!out) return -1;
    *out = PreparedFile{};
    out->folder = folder;
    out->target = name;
    if (folder < 0 || !isEntryName(name)) {
        out->error = EINVAL;
        return -1;
    }
    // A second link keeps the file itself: nothing is written, so a full disk cannot refuse it.
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        const std::string candidate = temporaryName();
        if (::linkat(folder, name.c_str(), folder, candidate.c_str(), 0) == 0) {
            out->temporary = candidate;
            return 0;
        }
        if (errno == EEXIST) continue;
        // File systems without links (those of many removable media) get a copy, made only of
        // bytes read whole: a copy of less would later put back less than was there.
        if (errno == EPERM || errno == EMLINK || errno == EOPNOTSUPP || errno == ENOSYS ||
            errno == EXDEV) {
            if (!content) {
                out->error = EIO;
                return -1;
            }
            return prepareFileAt(folder, name, content, length, out);
        }
        out->error = errno;
        return -1;
    }
    out->error = EEXIST;
    return -1;
}

int Util::commitFile(PreparedFile* file) {
    if (!file || file->temporary.empty()) return -2;
    if (::renameat(file->folder, file->temporary.c_str(), file->folder, file->target.c_str()) !=
        0) {
        file->error = errno;
        return -2;
    }
    file->temporary.clear();
    return 0;
}

int Util::makeFolderAt(int folder, std::string const& name, bool* made) {
    if (made) *made = false;
    if (folder < 0 || !isEntryName(name)) return EINVAL;
    if (::mkdirat(folder, name.c_str(), S_IRWXU) == 0) {
        if (made) *made = true;
        return 0;
    }
    const int error = errno;
    struct stat st;
    if (error == EEXIST && ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return S_ISDIR(st.st_mode) ? 0 : (S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR);
    return error;
}

int Util::deleteFolderAt(int folder, std::string const& name) {
    if (folder < 0 || !isEntryName(name)) return EINVAL;
    const int child =
        ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) return errno;
    deleteContents(child, name);
    return ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

void Util::discardFile(PreparedFile* file) {
    if (!file || file->temporary.empty()) return;
    ::unlinkat(file->folder, file->temporary.c_str(), 0);
    file->temporary.clear();
}

int Util::syncFolder(int folder) {
    return ::fsync(folder) == 0 ? 0 : errno;
}

// ---- Media ---------------------------------------------------------------------------------

const char* Util::mediaResultText(int result) {
    switch (result) {
        case MEDIA_OK:
            return "read";
        case MEDIA_NOT_FOUND:
            return "cannot be opened";
        case MEDIA_NO_MEMORY:
            return "no memory";
        case MEDIA_SHORT_READ:
            return "not read whole";
        case MEDIA_LINK:
            return "symbolic link, not followed";
        case MEDIA_WRONG_TYPE:
            return "not a regular file or folder";
        case MEDIA_TOO_LARGE:
            return "larger than any certificate or key file, not read";
        case MEDIA_OUTSIDE:
            return "outside its folder";
        default:
            return "unknown";
    }
}

int Util::openFolderAt(int folder, std::string const& name) {
    if (folder < 0) return MEDIA_NOT_FOUND;
    if (!isEntryName(name)) return MEDIA_OUTSIDE;
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd >= 0 ? fd : classifyOpenFailure(folder, name.c_str(), errno);
}

int Util::openFolderBelow(std::string const& root, std::string const& path) {
    if (root.empty()) return MEDIA_NOT_FOUND;
    std::string_view rest;
    if (path != root) {
        const bool below = path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                           (root.back() == '/' || path[root.size()] == '/');
        if (!below) return MEDIA_OUTSIDE;
        rest = std::string_view(path).substr(root.size());
    }
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno == ENOTDIR ? MEDIA_WRONG_TYPE : MEDIA_NOT_FOUND;
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string level(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (level.empty()) continue;  // doubled or trailing "/"
        const int next = openFolderAt(fd, level);
        ::close(fd);
        if (next < 0) return next;
        fd = next;
    }
    return fd;
}

std::vector<std::string> Util::listFolderAt(int folder) {
    std::vector<std::string> names;
    // Straight from the caller's descriptor, from the folder's start: a listing per holder
    // folder is the scans' main cost, and a second descriptor would double its calls.
    if (folder < 0 || ::lseek(folder, 0, SEEK_SET) != 0) return names;
    alignas(dirent64) char buffer[8192];
    for (;;) {
        const ssize_t n = ::getdents64(folder, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            names.emplace_back(name);
        }
    }
    return names;
}

int Util::readFileAt(int folder, std::string const& name, unsigned int maxSize,
                     unsigned char** data, unsigned int* length) {
    if (data) *data = nullptr;
    if (length) *length = 0;
    if (!data || !length || folder < 0) return MEDIA_NOT_FOUND;
    if (!isEntryName(name)) return MEDIA_OUTSIDE;
    const int fd = ::openat(folder, name.c_str(), kReadFlags | O_NOFOLLOW);
    if (fd < 0) return classifyOpenFailure(folder, name.c_str(), errno);
    return readOpened(fd, maxSize, data, length);
}

int Util::readChosenFile(std::string const& path, unsigned int maxSize, unsigned char** data,
                         unsigned int* length) {
    if (data) *data = nullptr;
    if (length) *length = 0;
    if (!data || !length || path.empty()) return MEDIA_NOT_FOUND;
    const int fd = ::open(path.c_str(), kReadFlags);
    if (fd < 0) return MEDIA_NOT_FOUND;
    return readOpened(fd, maxSize, data, length);
}

int Util::readFileBelow(std::string const& root, std::string const& path, unsigned int maxSize,
                        unsigned char** data, unsigned int* length) {
    if (data) *data = nullptr;
    if (length) *length = 0;
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 >= path.size()) return MEDIA_OUTSIDE;
    const int folder = openFolderBelow(root, path.substr(0, slash));
    if (folder < 0) return folder;
    const int rc = readFileAt(folder, path.substr(slash + 1), maxSize, data, length);
    ::close(folder);
    return rc;
}

std::wstring Util::getHomePath() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir)
        return {};
    return stringToWstring(found->pw_dir);
}

std::wstring Util::getConfigPath() {
    return {};
}

int Util::writeFileAllPermission(char const*, unsigned char*, unsigned int) {
    return 0;
}

int Util::getSystemFolder(char*, unsigned int, char*) {
    return 0;
}

int Util::checkAdmin() {
    return 0;
}

// ---- DN texts ------------------------------------------------------------------------------

int Util::parseDN(char const* dn, char* out, unsigned long size, DNType type) {
    return parseDNText(dn, out, size, type);
}

int Util::parseDN(wchar_t const* dn, wchar_t* out, unsigned long size, DNType type) {
    return parseDNText(dn, out, size, type);
}

int Util::remakeDN(char* out, unsigned int size, char* dn, bool upper) {
    if (!dn || !out || size == 0) return -1;
    out[0] = '\0';
    const std::string copy(dn, ::strnlen(dn, 1023));
    std::string result;
    bool first = true;
    for (auto part : splitDN<char>(copy)) {
        if (!first) result += ',';
        first = false;
        int type = -1;
        for (int t = DNTYPE_CN; t <= DNTYPE_C && type < 0; ++t) {
            if (part.find(DNPrefixes<char>::upper[t]) != part.npos ||
                part.find(DNPrefixes<char>::lower[t]) != part.npos)
                type = t;
        }
        if (type < 0) {
            // An attribute of another kind ends the rebuilding.
            result += part;
            break;
        }
        result += upper ? DNPrefixes<char>::upper[type] : DNPrefixes<char>::lower[type];
        result += part.substr(part.find('=') + 1);
    }
    const size_t n = std::min<size_t>(result.size(), size - 1);
    std::memcpy(out, result.data(), n);
    out[n] = '\0';
    return 0;
}

std::string Util::replaceAll(std::string const& text, std::string const& from,
                             std::string const& to) {
    if (from.empty()) return text;
    std::string result = text;
    for (size_t at = result.find(from); at != std::string::npos;
         at = result.find(from, at + to.size())) {
        result.replace(at, from.size(), to);
    }
    return result;
}

int Util::X509Certificate_GetEntry_Remove_SpecialChar(void* certificate, char* out,
                                                      unsigned int size, int entry, int option) {
    if (!out || size == 0) return -1;
    if (!TM_SERVICE_READY(SGX509Certificate_GetEntry)) return brindlow::token::kLibraryUnavailable;
    auto* buffer = static_cast<char*>(TM_BASE(SGOS_calloc)(size, 1));
    if (!buffer) return -1;
    const int rc = TM_SERVICE(SGX509Certificate_GetEntry)(
        static_cast<const SGX509Certificate*>(certificate), buffer, size, entry, option);
    if (rc != 0) {
        TM_BASE(SGOS_free)(buffer);
        return rc;
    }
    std::string text(buffer, ::strnlen(buffer, size));
    TM_BASE(SGOS_free)(buffer);
    if (entry == SG_X509_ENTRY_ISSUER || entry == SG_X509_ENTRY_SUBJECT)
        text = replaceAll(text, "\\", "");
    const size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return 0;
}

void Util::displayText(std::string_view text, char* out, unsigned int size) {
    // Room for the longest character (4 bytes) and the ellipsis before the terminator.
    if (!out || size < 8) return;
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        uint32_t c = b0;
        const size_t n = b0 < 0x80 ? 1 : decodeOne(text, i, c);
        if (n == 0) {
            shown += kShownReplacement;
            ++i;
            continue;
        }
        // A line break or escape would let a name forge the lines around it: a blank, as the
        // desktop shows such characters.
        if (isControl(c) || c == 0x2028 || c == 0x2029) {
            shown += ' ';
            i += n;
            continue;
        }
        shown.append(text.substr(i, n));
        i += n;
    }
    size_t keep = shown.size();
    const bool cut = keep > size - 1;
    if (cut) {
        // The longest run of whole characters that leaves room for the ellipsis.
        keep = size - 1 - (sizeof kEllipsis - 1);
        while (keep > 0 && (static_cast<unsigned char>(shown[keep]) & 0xC0) == 0x80) --keep;
    }
    std::memcpy(out, shown.data(), keep);
    if (cut) {
        std::memcpy(out + keep, kEllipsis, sizeof kEllipsis - 1);
        keep += sizeof kEllipsis - 1;
    }
    out[keep] = '\0';
}

std::string Util::logText(std::string_view text) {
    static const char* digits = "0123456789ABCDEF";
    std::string line;
    line.reserve(text.size());
    auto escape = [&](unsigned char b) {
        line += "\\x";
        line += digits[b >> 4];
        line += digits[b & 15];
    };
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) {
            escape(b);
            ++i;
            continue;
        }
        // C1 controls arrive as C2 80 .. C2 9F.
        if (b == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                escape(b);
                escape(next);
                i += 2;
                continue;
            }
        }
        line += static_cast<char>(b);
        ++i;
    }
    return line;
}

// ---- Certificates --------------------------------------------------------------------------

int Util::encodePem(char** out, unsigned char* data, unsigned long length, char const* label) {
    if (!out) return SG_BASE64_ERR_ARGUMENT;
    *out = nullptr;
    if (length > UINT32_MAX) return SG_BASE64_ERR_ARGUMENT;
    char* base64 = nullptr;
    uint32_t base64Length = 0;
    if (int rc =
            TM_BASE(SGBase64_Encode)(&base64, &base64Length, data, static_cast<uint32_t>(length)))
        return rc;
    const std::string name = label ? label : "";
    std::string text = "-----BEGIN " + name + "-----\n";
    for (uint32_t at = 0; at < base64Length; at += 64) {
        text.append(base64 + at, std::min<uint32_t>(64, base64Length - at));
        text += '\n';
    }
    text += "-----END " + name + "-----\n";
    TM_BASE(SGBase64_Free)(base64);
    auto* copy =
        static_cast<char*>(TM_BASE(SGOS_calloc)(static_cast<uint32_t>(text.size() + 1), 1));
    if (!copy) return SG_BASE64_ERR_MEMORY;
    std::memcpy(copy, text.data(), text.size());
    *out = copy;
    return 0;
}

int Util::getRootCertHash(char** out, unsigned char* der, unsigned long length) {
    if (!out) return -1;
    *out = nullptr;
    unsigned char* digest = nullptr;
    long digestLength = 0;
    if (Digest::digest(reinterpret_cast<const char*>(der), static_cast<long>(length), &digest,
                       &digestLength) != 0)
        return -1;
    char* hex = nullptr;
    const int rc = Hex::encode(&hex, digest, static_cast<unsigned long>(digestLength), false);
    Digest::free(digest);
    if (rc != 0 || !hex) {
        Hex::free(hex);
        return -2;
    }
    // 16 groups of 4 digits with one blank between: 79 characters.
    auto* text = static_cast<char*>(TM_BASE(SGOS_calloc)(80, 1));
    if (!text) {
        Hex::free(hex);
        return -2;
    }
    char* p = text;
    for (int group = 0; group < 16; ++group) {
        if (group) *p++ = ' ';
        std::memcpy(p, hex + group * 4, 4);
        p += 4;
    }
    Hex::free(hex);
    *out = text;
    return 0;
}

bool Util::compareDateStr(char* a, char* b, char* c, char* d) {
    if (!a || !b || !c || !d) return false;
    return std::atoll(c) >= std::atoll(a) && std::atoll(d) >= std::atoll(b);
}

int Util::compareCertificate(unsigned char* first, unsigned int firstLength, unsigned char* second,
                             unsigned int secondLength) {
    using brindlow::token::DecodedCertificate;
    DecodedCertificate a, b;
    if (a.decode(first, firstLength) != 0) return -1;
    if (b.decode(second, secondLength) != 0) return -2;
    auto entryOf = [](DecodedCertificate& c, char* out, unsigned int size, int entry) {
        std::memset(out, 0, size);
        return X509Certificate_GetEntry_Remove_SpecialChar(c.handle(), out, size, entry, 0);
    };
    char textA[1024], textB[1024];
    if (entryOf(a, textA, sizeof textA, SG_X509_ENTRY_SUBJECT) != 0) return -1;
    if (entryOf(b, textB, sizeof textB, SG_X509_ENTRY_SUBJECT) != 0) return -2;
    if (::strncasecmp(textA, textB, 1023) != 0) return 0;
    if (entryOf(a, textA, 100, SG_X509_ENTRY_KEY_USAGE) != 0) return -1;
    if (entryOf(b, textB, 100, SG_X509_ENTRY_KEY_USAGE) != 0) return -2;
    if (::strncasecmp(textA, textB, 100) != 0) return 0;
    if (entryOf(a, textA, 100, SG_X509_ENTRY_SERIAL_NUMBER) != 0) return -1;
    if (entryOf(b, textB, 100, SG_X509_ENTRY_SERIAL_NUMBER) != 0) return -2;
    // Serial numbers of up to 20 bytes: compared whole, not through a long that saturates.
    return serialLess(textA, textB) ? 1 : 2;
}

int Util::compareCertificate(char const* firstBase64, char const* secondBase64) {
    unsigned char* first = nullptr;
    unsigned char* second = nullptr;
    unsigned int firstLength = 0, secondLength = 0;
    int rc;
    if (Base64::decode(&first, &firstLength, firstBase64) != 0)
        rc = -1;
    else if (Base64::decode(&second, &secondLength, secondBase64) != 0)
        rc = -2;
    else
        rc = compareCertificate(first, firstLength, second, secondLength);
    Base64::free(first);
    Base64::free(second);
    return rc;
}

// ---- Bytes ---------------------------------------------------------------------------------

int Util::atoiData(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    return 0;
}

void Util::reverse(unsigned char* data, unsigned int length) {
    if (data) std::reverse(data, data + length);
}

void Util::reverseCopy(unsigned char* destination, unsigned char* source, unsigned int length) {
    if (!destination || !source) return;
    for (unsigned int i = 0; i < length; ++i) destination[length - 1 - i] = source[i];
}

// ---- Policy book ---------------------------------------------------------------------------

Util::OIDBook& Util::getOIDBook() {
    std::lock_guard lock(gBookMutex);
    OIDBook& b = book();
    if (b.empty()) fillBook(b);
    return b;
}

void Util::makeMap() {
    std::lock_guard lock(gBookMutex);
    fillBook(book());
}
