#include "SGOS.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <endian.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "SGOSInternal.h"

namespace {

// The ctype tables cover EOF and 0 to 255 only; anything else is in no class.
bool inByteRange(int c) {
    return c >= 0 && c <= 255;
}
int asBool(int v) {
    return v ? 1 : 0;
}

// Result buffers of the text helpers. The daemon's worker threads call these helpers, so each
// thread has its own.
thread_local char tLower[SGOS_STRBUF_MAX + 1];
thread_local char tUpper[SGOS_STRBUF_MAX + 1];
thread_local char tCrop[SGOS_STRBUF_MAX + 1];
thread_local char tStrip[SGOS_STRBUF_MAX + 1];
thread_local char* tStrtokState;

char* mapCase(char (&buf)[SGOS_STRBUF_MAX + 1], const char* s, int (*convert)(int)) {
    if (!s) return nullptr;
    std::memset(buf, 0, sizeof buf);
    for (size_t i = 0; i < SGOS_STRBUF_MAX && s[i]; ++i)
        buf[i] = static_cast<char>(convert(static_cast<unsigned char>(s[i])));
    return buf;
}

const char* skipSpace(const char* s) {
    while (*s && std::isspace(static_cast<unsigned char>(*s))) ++s;
    return s;
}

char* cropInto(char (&buf)[SGOS_STRBUF_MAX + 1], const char* s) {
    size_t n = strnlen(s, SGOS_STRBUF_MAX + 1);
    if (n > SGOS_STRBUF_MAX) return nullptr;
    while (n > 0 && std::isspace(static_cast<unsigned char>(s[n - 1]))) --n;
    std::memset(buf, 0, sizeof buf);
    std::memcpy(buf, s, n);
    return buf;
}

// Library signal numbers 0 to 38; 0 marks a number without a signal here.
constexpr int kSignals[SGOS_SIG_MAX + 1] = {
    0,       SIGHUP,   SIGINT,  SIGQUIT, SIGILL,  SIGABRT, SIGFPE,    SIGKILL, SIGSEGV, SIGPIPE,
    SIGALRM, SIGTERM,  SIGUSR1, SIGUSR2, SIGCHLD, SIGCONT, SIGSTOP,   SIGTSTP, SIGTTIN, SIGTTOU,
    SIGBUS,  0,        SIGPROF, SIGSYS,  SIGTRAP, SIGURG,  SIGVTALRM, SIGXCPU, SIGXFSZ, SIGIOT,
#ifdef SIGEMT
    SIGEMT,
#else
    0,
#endif
    0,       SIGIO,    0,       0,
#ifdef SIGINFO
    SIGINFO,
#else
    0,
#endif
    0,       SIGWINCH, 0,
};
static_assert(sizeof kSignals / sizeof kSignals[0] == SGOS_SIG_MAX + 1);

}  // namespace

namespace sgos {

int signalNumber(int number) {
    return number >= 0 && number <= SGOS_SIG_MAX ? kSignals[number] : 0;
}

int dlopenMode(int mode) {
    int m = 0;
    if (mode & SGOS_RTLD_LAZY) m |= RTLD_LAZY;
    if (mode & SGOS_RTLD_NOW) m |= RTLD_NOW;
    if (mode & SGOS_RTLD_GLOBAL) m |= RTLD_GLOBAL;
    if (mode & SGOS_RTLD_LOCAL) m |= RTLD_LOCAL;
    return m;
}

}  // namespace sgos

extern "C" {

// ---- Memory -----------------------------------------------------------------------------------

void* SGOS_malloc(uint32_t size) {
    return std::malloc(size);
}
void* SGOS_calloc(uint32_t count, uint32_t size) {
    return std::calloc(count, size);
}
void* SGOS_realloc(void* ptr, uint32_t size) {
    return std::realloc(ptr, size);
}
void SGOS_free(void* ptr) {
    std::free(ptr);
}

// A zero count touches nothing, so null pointers are fine with it.
void* SGOS_memcpy(void* dst, const void* src, uint32_t n) {
    return n ? std::memcpy(dst, src, n) : dst;
}
void* SGOS_memmove(void* dst, const void* src, uint32_t n) {
    return n ? std::memmove(dst, src, n) : dst;
}
void* SGOS_memccpy(void* dst, const void* src, int c, uint32_t n) {
    if (n) memccpy(dst, src, c, n);
    return dst;
}
void* SGOS_memset(void* dst, int c, uint32_t n) {
    return n ? std::memset(dst, c, n) : dst;
}
int SGOS_memcmp(const void* a, const void* b, uint32_t n) {
    return n ? std::memcmp(a, b, n) : 0;
}

// ---- Characters -------------------------------------------------------------------------------

int SGOS_isalnum(int c) {
    return inByteRange(c) && asBool(std::isalnum(c));
}
int SGOS_isalpha(int c) {
    return inByteRange(c) && asBool(std::isalpha(c));
}
int SGOS_isascii(int c) {
    return c >= 0 && c < 128;
}
int SGOS_isblank(int c) {
    return inByteRange(c) && asBool(std::isblank(c));
}
int SGOS_iscntrl(int c) {
    return inByteRange(c) && asBool(std::iscntrl(c));
}
int SGOS_isdigit(int c) {
    return c >= '0' && c <= '9';
}
int SGOS_isgraph(int c) {
    return inByteRange(c) && asBool(std::isgraph(c));
}
int SGOS_islower(int c) {
    return inByteRange(c) && asBool(std::islower(c));
}
int SGOS_isprint(int c) {
    return inByteRange(c) && asBool(std::isprint(c));
}
int SGOS_ispunct(int c) {
    return inByteRange(c) && asBool(std::ispunct(c));
}
int SGOS_isspace(int c) {
    return inByteRange(c) && asBool(std::isspace(c));
}
int SGOS_isupper(int c) {
    return inByteRange(c) && asBool(std::isupper(c));
}
int SGOS_isxdigit(int c) {
    return inByteRange(c) && asBool(std::isxdigit(c));
}
int SGOS_tolower(int c) {
    return inByteRange(c) ? std::tolower(c) : c;
}
int SGOS_toupper(int c) {
    return inByteRange(c) ? std::toupper(c) : c;
}

// ---- Strings ----------------------------------------------------------------------------------

char* SGOS_strchr(const char* s, int c) {
    return const_cast<char*>(std::strchr(s, c));
}
int SGOS_strcoll(const char* a, const char* b) {
    return std::strcoll(a, b);
}
uint32_t SGOS_strcspn(const char* s, const char* reject) {
    return static_cast<uint32_t>(std::strcspn(s, reject));
}
char* SGOS_strdup(const char* s) {
    return s ? strdup(s) : nullptr;
}
uint32_t SGOS_strlen(const char* s) {
    return static_cast<uint32_t>(std::strlen(s));
}
char* SGOS_strncat(char* dst, const char* src, uint32_t n) {
    return std::strncat(dst, src, n);
}
int SGOS_strncmp(const char* a, const char* b, uint32_t n) {
    return std::strncmp(a, b, n);
}
int SGOS_strcmp(const char* a, const char* b) {
    return std::strcmp(a, b);
}
char* SGOS_strncpy(char* dst, const char* src, uint32_t n) {
    return std::strncpy(dst, src, n);
}
int SGOS_strncasecmp(const char* a, const char* b, uint32_t n) {
    return strncasecmp(a, b, n);
}
char* SGOS_strpbrk(const char* s, const char* accept) {
    return const_cast<char*>(std::strpbrk(s, accept));
}
char* SGOS_strrchr(const char* s, int c) {
    return const_cast<char*>(std::strrchr(s, c));
}
char* SGOS_strsep(char** stringp, const char* delim) {
    return nullptr;
}
uint32_t SGOS_strspn(const char* s, const char* accept) {
    return static_cast<uint32_t>(std::strspn(s, accept));
}
char* SGOS_strstr(const char* haystack, const char* needle) {
    return const_cast<char*>(std::strstr(haystack, needle));
}
char* SGOS_strtok(char* s, const char* delim, char** state) {
    return strtok_r(s, delim, state ? state : &tStrtokState);
}
uint32_t SGOS_strxfrm(char* dst, const char* src, uint32_t n) {
    return static_cast<uint32_t>(std::strxfrm(dst, src, n));
}
char* SGOS_index(const char* s, int c) {
    return const_cast<char*>(std::strchr(s, c));
}
char* SGOS_rindex(const char* s, int c) {
    return const_cast<char*>(std::strrchr(s, c));
}
char* SGOS_strerror(int errnum) {
    return std::strerror(errnum);
}

char* SGOS_strlwc(const char* s) {
    return mapCase(tLower, s, [](int c) { return std::tolower(c); });
}
char* SGOS_strupc(const char* s) {
    return mapCase(tUpper, s, [](int c) { return std::toupper(c); });
}
char* SGOS_strskp(const char* s) {
    return s ? const_cast<char*>(skipSpace(s)) : nullptr;
}
char* SGOS_strcrop(const char* s) {
    return s ? cropInto(tCrop, s) : nullptr;
}
char* SGOS_strstrip(const char* s) {
    return s ? cropInto(tStrip, skipSpace(s)) : nullptr;
}

// ---- Formatted input and output ---------------------------------------------------------------

char* SGOS_fgets(char* s, int size, FILE* stream) {
    return stream ? std::fgets(s, size, stream) : nullptr;
}
wchar_t* SGOS_fgetws(wchar_t* s, int size, FILE* stream) {
    return stream ? std::fgetws(s, size, stream) : nullptr;
}

int SGOS_scanf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int r = std::vscanf(format, ap);
    va_end(ap);
    return r;
}

int SGOS_fscanf(FILE* stream, const char* format, ...) {
    if (!stream) return EOF;
    va_list ap;
    va_start(ap, format);
    int r = std::vfscanf(stream, format, ap);
    va_end(ap);
    return r;
}

int SGOS_sscanf(const char* s, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int r = std::vsscanf(s, format, ap);
    va_end(ap);
    return r;
}

int SGOS_printf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int r = std::vprintf(format, ap);
    va_end(ap);
    return r;
}

int SGOS_fprintf(FILE* stream, const char* format, ...) {
    if (!stream) return -1;
    va_list ap;
    va_start(ap, format);
    int r = std::vfprintf(stream, format, ap);
    va_end(ap);
    return r;
}

int SGOS_sprintf(char* s, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int r = std::vsprintf(s, format, ap);
    va_end(ap);
    return r;
}

int SGOS_vsprintf(char* s, const char* format, va_list ap) {
    return std::vsprintf(s, format, ap);
}

int SGOS_vsnprintf(char* s, uint32_t size, const char* format, va_list ap) {
    int r = std::vsnprintf(s, size, format, ap);
    if (r >= 0) return r;
    // A failed conversion may leave the buffer without its terminator; callers treat the
    // size + 1 answer as a cut text and read it.
    if (s && size) s[size - 1] = '\0';
    return size >= static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(size) + 1;
}

int SGOS_snprintf(char* s, uint32_t size, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int r = SGOS_vsnprintf(s, size, format, ap);
    va_end(ap);
    return r;
}

// ---- Numbers ----------------------------------------------------------------------------------

int SGOS_atoi(const char* s) {
    return std::atoi(s);
}
long SGOS_atol(const char* s) {
    return std::atol(s);
}
long long SGOS_atoll(const char* s) {
    return std::atoll(s);
}
long long SGOS_atoq(const char* s) {
    return std::atoll(s);
}
double SGOS_atof(const char* s) {
    return std::atof(s);
}
double SGOS_strtod(const char* s, char** end) {
    return std::strtod(s, end);
}
float SGOS_strtof(const char* s, char** end) {
    return std::strtof(s, end);
}
long double SGOS_strtold(const char* s, char** end) {
    return std::strtold(s, end);
}
long SGOS_strtol(const char* s, char** end, int base) {
    return std::strtol(s, end, base);
}
long long SGOS_strtoll(const char* s, char** end, int base) {
    return std::strtoll(s, end, base);
}
unsigned long SGOS_strtoul(const char* s, char** end, int base) {
    return std::strtoul(s, end, base);
}
unsigned long long SGOS_strtoull(const char* s, char** end, int base) {
    return std::strtoull(s, end, base);
}
int SGOS_abs(int v) {
    return std::abs(v);
}
long SGOS_labs(long v) {
    return std::labs(v);
}
long long SGOS_llabs(long long v) {
    return std::llabs(v);
}

// ---- Process ----------------------------------------------------------------------------------

unsigned int SGOS_sleep(unsigned int seconds) {
    return ::sleep(seconds);
}
char* SGOS_getenv(const char* name) {
    return std::getenv(name);
}
void SGOS_exit(int status) {
    std::exit(status);
}

SGOSSignalHandler SGOS_signal(int number, SGOSSignalHandler handler) {
    const int sig = sgos::signalNumber(number);
    if (!handler || sig == 0) {
        errno = EINVAL;
        return SIG_ERR;
    }
    return ::signal(sig, handler);
}

int SGOS_kill(pid_t pid, int number) {
    return ::kill(pid, sgos::signalNumber(number));
}
int SGOS_killpg(pid_t group, int number) {
    return ::killpg(group, sgos::signalNumber(number));
}

// ---- Wide strings -----------------------------------------------------------------------------

uint32_t SGOS_wcslen(const wchar_t* s) {
    return static_cast<uint32_t>(std::wcslen(s));
}
wchar_t* SGOS_wcsncpy(wchar_t* dst, const wchar_t* src, uint32_t n) {
    return std::wcsncpy(dst, src, n);
}
wchar_t* SGOS_wcsncat(wchar_t* dst, const wchar_t* src, uint32_t n) {
    return std::wcsncat(dst, src, n);
}
int SGOS_wcsncmp(const wchar_t* a, const wchar_t* b, uint32_t n) {
    return std::wcsncmp(a, b, n);
}
uint32_t SGOS_wcstombs(char* dst, const wchar_t* src, uint32_t n) {
    return static_cast<uint32_t>(std::wcstombs(dst, src, n));
}
uint32_t SGOS_mbstowcs(wchar_t* dst, const char* src, uint32_t n) {
    return static_cast<uint32_t>(std::mbstowcs(dst, src, n));
}

// ---- Dynamic loading --------------------------------------------------------------------------

void* SGOS_dlopen(const char* path, int mode) {
    return ::dlopen(path, sgos::dlopenMode(mode));
}
char* SGOS_dlerror(void) {
    return ::dlerror();
}
void* SGOS_dlsym(void* handle, const char* name) {
    return ::dlsym(handle, name);
}
int SGOS_dlclose(void* handle) {
    return ::dlclose(handle);
}

// ---- Byte order -------------------------------------------------------------------------------

uint32_t SGOS_htonl(uint32_t v) {
    return htonl(v);
}
uint16_t SGOS_htons(uint16_t v) {
    return htons(v);
}
uint32_t SGOS_ntohl(uint32_t v) {
    return ntohl(v);
}
uint16_t SGOS_ntohs(uint16_t v) {
    return ntohs(v);
}
uint64_t SGOS_hton64(uint64_t v) {
    return htobe64(v);
}
uint64_t SGOS_ntoh64(uint64_t v) {
    return be64toh(v);
}

}  // extern "C"
