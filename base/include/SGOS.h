/* Operating-system layer: one portable face on the platform's standard library.
 *
 * Almost every function passes its arguments to the platform call of the same name and returns
 * its result unchanged; sizes are 32-bit where the platform takes size_t. The layer's own parts
 * are the numbering of open flags, permission bits, signals and dynamic-loading modes below, the
 * directory-entry record, the broken-down time record, a few string helpers with a result buffer
 * per thread, and the date and time texts. */
#ifndef SG_OS_H
#define SG_OS_H

#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <wchar.h>

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

/* Open flags of SGOS_open; no access bit means read-only, unlisted bits are ignored. */
enum {
    SGOS_O_CREAT = 0x1,
    SGOS_O_EXCL = 0x2,
    SGOS_O_NOCTTY = 0x4,
    SGOS_O_TRUNC = 0x8,
    SGOS_O_APPEND = 0x10,
    SGOS_O_NONBLOCK = 0x20,
    SGOS_O_SYNC = 0x40,
    SGOS_O_RDWR = 0x400,
    SGOS_O_WRONLY = 0x2000
};

/* Permission bits of SGOS_open (with SGOS_O_CREAT), SGOS_create, SGOS_mkdir and SGOS_mkfifo. */
enum {
    SGOS_S_IRWXU = 0x1,
    SGOS_S_IRUSR = 0x2,
    SGOS_S_IWUSR = 0x4,
    SGOS_S_IXUSR = 0x8,
    SGOS_S_IRWXG = 0x10,
    SGOS_S_IRGRP = 0x20,
    SGOS_S_IWGRP = 0x40,
    SGOS_S_IXGRP = 0x80,
    SGOS_S_IRWXO = 0x100,
    SGOS_S_IROTH = 0x200,
    SGOS_S_IWOTH = 0x400,
    SGOS_S_IXOTH = 0x800
};

/* Signal numbers of SGOS_signal, SGOS_kill and SGOS_killpg (1 to 38). Numbers not named here,
 * and SGOS_SIGEMT and SGOS_SIGINFO on a platform without them, have no signal. */
enum {
    SGOS_SIGHUP = 1,
    SGOS_SIGINT = 2,
    SGOS_SIGQUIT = 3,
    SGOS_SIGILL = 4,
    SGOS_SIGABRT = 5,
    SGOS_SIGFPE = 6,
    SGOS_SIGKILL = 7,
    SGOS_SIGSEGV = 8,
    SGOS_SIGPIPE = 9,
    SGOS_SIGALRM = 10,
    SGOS_SIGTERM = 11,
    SGOS_SIGUSR1 = 12,
    SGOS_SIGUSR2 = 13,
    SGOS_SIGCHLD = 14,
    SGOS_SIGCONT = 15,
    SGOS_SIGSTOP = 16,
    SGOS_SIGTSTP = 17,
    SGOS_SIGTTIN = 18,
    SGOS_SIGTTOU = 19,
    SGOS_SIGBUS = 20,
    SGOS_SIGPROF = 22,
    SGOS_SIGSYS = 23,
    SGOS_SIGTRAP = 24,
    SGOS_SIGURG = 25,
    SGOS_SIGVTALRM = 26,
    SGOS_SIGXCPU = 27,
    SGOS_SIGXFSZ = 28,
    SGOS_SIGIOT = 29,
    SGOS_SIGEMT = 30,
    SGOS_SIGIO = 32,
    SGOS_SIGINFO = 35,
    SGOS_SIGWINCH = 37,
    SGOS_SIG_MAX = 38
};

/* Modes of SGOS_dlopen. */
enum { SGOS_RTLD_LAZY = 0x1, SGOS_RTLD_NOW = 0x2, SGOS_RTLD_GLOBAL = 0x4, SGOS_RTLD_LOCAL = 0x8 };

/* Seek origins of SGOS_fseek; any other value counts from the end. */
enum { SGOS_SEEK_SET = 0, SGOS_SEEK_CUR = 1, SGOS_SEEK_END = 2 };

/* Type flags of SGOSDirEntry.type. */
enum { SGOS_DT_DIR = 0x04, SGOS_DT_FILE = 0x20 };

/* Directory entry filled by SGOS_readdir_r; its layout crosses the table interface.
 * Bytes 0 to 9 are never written; the type flags are OR-ed into what the caller put in byte 10
 * (clear the record before each call); the name is copied with strncpy, so a 256-character name
 * is not terminated. */
typedef struct SGOSDirEntry {
    unsigned char reserved[10]; /* bytes 0-9 */
    unsigned char type;         /* byte 10: SGOS_DT_DIR, SGOS_DT_FILE */
    unsigned char pad;          /* byte 11 */
    char name[256];             /* bytes 12-267 */
} SGOSDirEntry;

/* Directory handle of SGOS_opendir. */
typedef struct SGOSDir SGOSDir;

/* Broken-down time: nine signed 32-bit fields. */
typedef struct SGOSTm {
    int32_t tm_sec;
    int32_t tm_min;
    int32_t tm_hour;
    int32_t tm_mday;
    int32_t tm_mon;  /* 0 to 11 */
    int32_t tm_year; /* year - 1900 */
    int32_t tm_wday;
    int32_t tm_yday;
    int32_t tm_isdst;
} SGOSTm;

typedef void (*SGOSSignalHandler)(int);

/* Memory: copy, move and fill return the destination. */
void* SGOS_malloc(uint32_t size);
void* SGOS_calloc(uint32_t count, uint32_t size);
void* SGOS_realloc(void* ptr, uint32_t size);
void SGOS_free(void* ptr);
void* SGOS_memcpy(void* dst, const void* src, uint32_t n);
void* SGOS_memmove(void* dst, const void* src, uint32_t n);
void* SGOS_memccpy(void* dst, const void* src, int c, uint32_t n);
void* SGOS_memset(void* dst, int c, uint32_t n);
int SGOS_memcmp(const void* a, const void* b, uint32_t n);

/* Characters: classes of the current locale, answered as 0 or 1; values outside 0 to 255 belong
 * to no class. */
int SGOS_isalnum(int c);
int SGOS_isalpha(int c);
int SGOS_isascii(int c);
int SGOS_isblank(int c);
int SGOS_iscntrl(int c);
int SGOS_isdigit(int c);
int SGOS_isgraph(int c);
int SGOS_islower(int c);
int SGOS_isprint(int c);
int SGOS_ispunct(int c);
int SGOS_isspace(int c);
int SGOS_isupper(int c);
int SGOS_isxdigit(int c);
int SGOS_tolower(int c);
int SGOS_toupper(int c);

/* Strings. */
char* SGOS_strchr(const char* s, int c);
int SGOS_strcoll(const char* a, const char* b);
uint32_t SGOS_strcspn(const char* s, const char* reject);
char* SGOS_strdup(const char* s); /* null for null; release with SGOS_free */
uint32_t SGOS_strlen(const char* s);
char* SGOS_strncat(char* dst, const char* src, uint32_t n);
int SGOS_strncmp(const char* a, const char* b, uint32_t n);
int SGOS_strcmp(const char* a, const char* b);
char* SGOS_strncpy(char* dst, const char* src, uint32_t n);
int SGOS_strncasecmp(const char* a, const char* b, uint32_t n);
char* SGOS_strpbrk(const char* s, const char* accept);
char* SGOS_strrchr(const char* s, int c);
char* SGOS_strsep(char** stringp, const char* delim); /* does nothing, returns null */
uint32_t SGOS_strspn(const char* s, const char* accept);
char* SGOS_strstr(const char* haystack, const char* needle);
/* Re-entrant with a state pointer; without one the state is kept per thread. */
char* SGOS_strtok(char* s, const char* delim, char** state);
uint32_t SGOS_strxfrm(char* dst, const char* src, uint32_t n);
char* SGOS_index(const char* s, int c);
char* SGOS_rindex(const char* s, int c);
char* SGOS_strerror(int errnum);

/* Own string helpers. SGOS_strlwc, SGOS_strupc, SGOS_strcrop and SGOS_strstrip return a
 * 4097-byte buffer of the calling thread, overwritten by that thread's next call of the same
 * function. */
#define SGOS_STRBUF_MAX 4096
char* SGOS_strlwc(const char* s);   /* first 4096 characters, lower-cased; null for null */
char* SGOS_strupc(const char* s);   /* first 4096 characters, upper-cased; null for null */
char* SGOS_strskp(const char* s);   /* past leading white space; null for null */
char* SGOS_strcrop(const char* s);  /* trailing white space removed; null for null or > 4096 */
char* SGOS_strstrip(const char* s); /* as SGOS_strcrop after leading white space */

/* Formatted input and output. SGOS_snprintf and SGOS_vsnprintf return size + 1 when formatting
 * fails. */
char* SGOS_fgets(char* s, int size, FILE* stream);
wchar_t* SGOS_fgetws(wchar_t* s, int size, FILE* stream);
int SGOS_scanf(const char* format, ...) __attribute__((format(scanf, 1, 2)));
int SGOS_fscanf(FILE* stream, const char* format, ...) __attribute__((format(scanf, 2, 3)));
int SGOS_sscanf(const char* s, const char* format, ...) __attribute__((format(scanf, 2, 3)));
int SGOS_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int SGOS_fprintf(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
int SGOS_sprintf(char* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
int SGOS_vsprintf(char* s, const char* format, va_list ap) __attribute__((format(printf, 2, 0)));
int SGOS_snprintf(char* s, uint32_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int SGOS_vsnprintf(char* s, uint32_t size, const char* format, va_list ap)
    __attribute__((format(printf, 3, 0)));

/* Streams and paths. */
int SGOS_remove(const char* path);
int SGOS_fseek(FILE* stream, long offset, int origin); /* origin: SGOS_SEEK_* */
long SGOS_ftell(FILE* stream);
void SGOS_rewind(FILE* stream);
int SGOS_fflush(FILE* stream);
FILE* SGOS_fopen(const char* path, const char* mode);
uint32_t SGOS_fread(void* ptr, uint32_t size, uint32_t count, FILE* stream);
uint32_t SGOS_fwrite(const void* ptr, uint32_t size, uint32_t count, FILE* stream);
int SGOS_fclose(FILE* stream);
int SGOS_mkfifo(const char* path, int permissions); /* permissions: SGOS_S_* */
int SGOS_unlink(const char* path);
int SGOS_access(const char* path, int mode);
int SGOS_mkdir(const char* path, int permissions); /* permissions: SGOS_S_* */
char* SGOS_getcwd(char* buf, uint32_t size);

/* Numbers. */
int SGOS_atoi(const char* s);
long SGOS_atol(const char* s);
long long SGOS_atoll(const char* s);
long long SGOS_atoq(const char* s);
double SGOS_atof(const char* s);
double SGOS_strtod(const char* s, char** end);
float SGOS_strtof(const char* s, char** end);
long double SGOS_strtold(const char* s, char** end);
long SGOS_strtol(const char* s, char** end, int base);
long long SGOS_strtoll(const char* s, char** end, int base);
unsigned long SGOS_strtoul(const char* s, char** end, int base);
unsigned long long SGOS_strtoull(const char* s, char** end, int base);
int SGOS_abs(int v);
long SGOS_labs(long v);
long long SGOS_llabs(long long v);

/* Process. Signal numbers are the SGOS_SIG* numbers. SGOS_signal returns SIG_ERR (-1) without
 * installing anything for a missing handler or a number without a signal; SGOS_kill and
 * SGOS_killpg send signal 0 (an existence check) for a number without a signal. */
unsigned int SGOS_sleep(unsigned int seconds);
char* SGOS_getenv(const char* name);
void SGOS_exit(int status);
SGOSSignalHandler SGOS_signal(int number, SGOSSignalHandler handler);
int SGOS_kill(pid_t pid, int number);
int SGOS_killpg(pid_t group, int number);

/* Wide strings. */
uint32_t SGOS_wcslen(const wchar_t* s);
wchar_t* SGOS_wcsncpy(wchar_t* dst, const wchar_t* src, uint32_t n);
wchar_t* SGOS_wcsncat(wchar_t* dst, const wchar_t* src, uint32_t n);
int SGOS_wcsncmp(const wchar_t* a, const wchar_t* b, uint32_t n);
uint32_t SGOS_wcstombs(char* dst, const wchar_t* src, uint32_t n);
uint32_t SGOS_mbstowcs(wchar_t* dst, const char* src, uint32_t n);

/* Time. SGOS_gmtime and SGOS_localtime fill out (when given) and return the calling thread's
 * copy of the result, null on failure. SGOS_asctime writes the text into buf within size and
 * returns the calling thread's copy of the whole text. */
char* SGOS_asctime(const SGOSTm* tm, char* buf, uint32_t size);
char* SGOS_ctime(const time_t* t, char* buf); /* buf of at least 26 bytes */
SGOSTm* SGOS_gmtime(const time_t* t, SGOSTm* out);
SGOSTm* SGOS_localtime(const time_t* t, SGOSTm* out);
time_t SGOS_mktime(SGOSTm* tm);
time_t SGOS_time(time_t* t);

/* Local date and time texts. With a buffer the text is written into it within size and the
 * result is null; without one the result is the calling thread's own buffer. Null and nothing
 * written when the clock cannot be read. */
char* SGOS_GetDateStr(char separator, char* buf, uint32_t size); /* "%04d%c%02d%c%02d" */
char* SGOS_GetTimeStr(char separator, char* buf, uint32_t size); /* "%02d%c%02d%c%02d" */
char* SGOS_GetDateTimeStr(char dateSeparator, char separator, char timeSeparator, char* buf,
                          uint32_t size);

/* Descriptors. Flags are SGOS_O_*, permissions SGOS_S_* (used only with SGOS_O_CREAT). */
int SGOS_open(const char* path, int flags, int permissions);
int SGOS_create(const char* path, int permissions);
ssize_t SGOS_read(int fd, void* buf, uint32_t n);
ssize_t SGOS_write(int fd, const void* buf, uint32_t n);
/* One line, read a byte at a time: up to a line feed (not stored), size - 1 bytes or the end of
 * the file; always NUL-terminated, one trailing carriage return removed. Returns the number of
 * characters kept, -1 on a read error or a missing buffer. */
int SGOS_readline(int fd, char* buf, int size);
int SGOS_close(int fd);
int SGOS_stat(const char* path, struct stat* st);
int SGOS_fstat(int fd, struct stat* st);
int SGOS_fcntl(int fd, int cmd, ...); /* does nothing, returns 0 */
int SGOS_fileno(FILE* stream);

/* Dynamic loading; mode: SGOS_RTLD_*. */
void* SGOS_dlopen(const char* path, int mode);
char* SGOS_dlerror(void);
void* SGOS_dlsym(void* handle, const char* name);
int SGOS_dlclose(void* handle);

/* Byte order: big-endian on the wire. */
uint32_t SGOS_htonl(uint32_t v);
uint16_t SGOS_htons(uint16_t v);
uint32_t SGOS_ntohl(uint32_t v);
uint16_t SGOS_ntohs(uint16_t v);
uint64_t SGOS_hton64(uint64_t v);
uint64_t SGOS_ntoh64(uint64_t v);

/* Directories. SGOS_opendir: null on failure (1002 recorded as last error when the handle cannot
 * be allocated). SGOS_readdir_r: 1001 for a missing argument; otherwise 0 or the platform's
 * error number, with *result set to entry, or to null at the end. SGOS_closedir of null is -1. */
SGOSDir* SGOS_opendir(const char* path);
int SGOS_closedir(SGOSDir* dir);
int SGOS_readdir_r(SGOSDir* dir, SGOSDirEntry* entry, SGOSDirEntry** result);

SG_EXTERN_C_END

#endif
