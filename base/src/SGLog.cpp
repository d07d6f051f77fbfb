#include "SGLog.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "Clock.h"
#include "SGBaseError.h"
#include "SGBaseInternal.h"
#include "SGMemory.h"
#include "SGThread.h"

struct SGLogCtx {
    FILE* file;           // today's file, append mode
    int level;            // highest message level written
    char* path;           // full path of the open file
    char* directory;      // log folder given at initialisation
    char* prefix;         // file-name prefix given at initialisation
    char* zone;           // the TZ text when this context was made
    char date[11];        // YYYY-MM-DD of the open file
    char month[8];        // YYYY-MM
    SGLogCtx* replaced;   // what this context's day switch replaced, kept open for late writers
    SGLogCtx* successor;  // the context that replaced this one
};

namespace {

constexpr const char* kVersion = "2.0.0.0";
constexpr size_t kZoneMax = 1023;
// What the platform's formatter prints for a missing string.
constexpr const char* kNoZone = "(null)";

// Day switches of every context run under this lock. It exists from load on, so a context used
// before the process-wide log is set up is switched under it too.
std::mutex gSwitchMutex;

// The process-wide context. Writers hold the lock shared so that SGLog_Finalize cannot free the
// context under them; the day switch replaces the pointer atomically under gSwitchMutex. The lock
// prefers its exclusive side, so that steady logging cannot hold off the end of the log forever.
pthread_rwlock_t gProcessLock = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;
SGLogCtx* gProcessCtx = nullptr;

std::once_flag gDebugOnce;
std::atomic<FILE*> gDebugStream{nullptr};

struct LocalTime {
    tm fields{};
    bool ok = false;
};

LocalTime localTime(const timespec& now) {
    LocalTime t;
    t.ok = localtime_r(&now.tv_sec, &t.fields) != nullptr;
    return t;
}

void formatDate(const tm& t, char (&out)[11]) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    std::memcpy(out, text, 10);
    out[10] = '\0';
}

char* copyText(const char* text, size_t max = SIZE_MAX) {
    size_t n = strnlen(text, max);
    char* copy = static_cast<char*>(SGMemory_malloc(n + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}

// printf into a new heap string, measured first.
char* formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
char* formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    char* text = n < 0 ? nullptr : static_cast<char*>(SGMemory_malloc(static_cast<size_t>(n) + 1));
    if (text) std::vsnprintf(text, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    return text;
}

void freeText(char* text) {
    if (!text) return;
    SGMemory_cleanse(text, std::strlen(text));
    SGMemory_free(text);
}

void destroyContext(SGLogCtx* ctx) {
    if (!ctx) return;
    if (ctx->file) std::fclose(ctx->file);
    freeText(ctx->path);
    freeText(ctx->directory);
    freeText(ctx->prefix);
    freeText(ctx->zone);
    SGMemory_cleanse(ctx, sizeof *ctx);
    SGMemory_free(ctx);
}

bool isDirectory(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates the month folder (0775) unless it exists; another writer may create it meanwhile.
bool ensureMonthFolder(const char* directory, const char* month) {
    char* folder = formatText("%s%s%s", directory, "/", month);
    if (!folder) return false;
    bool ok =
        isDirectory(folder) || mkdir(folder, 0775) == 0 || (errno == EEXIST && isDirectory(folder));
    freeText(folder);
    return ok;
}

SGLogCtx* createContext(const char* directory, const char* prefix, int level, const timespec& now,
                        int* error) {
    if (!directory || !prefix) {
        *error = SG_LOG_ERR_ARGUMENT;
        return nullptr;
    }
    if (!isDirectory(directory)) {
        *error = SG_LOG_ERR_DIRECTORY;
        return nullptr;
    }
    LocalTime today = localTime(now);
    auto* ctx = static_cast<SGLogCtx*>(SGMemory_calloc(1, sizeof(SGLogCtx)));
    if (!ctx || !today.ok) {
        SGMemory_free(ctx);
        *error = SG_LOG_ERR_MEMORY;
        return nullptr;
    }
    ctx->level = level;
    formatDate(today.fields, ctx->date);
    std::memcpy(ctx->month, ctx->date, 7);
    ctx->directory = copyText(directory);
    ctx->prefix = copyText(prefix);
    const char* zone = std::getenv("TZ");
    ctx->zone = copyText(zone ? zone : kNoZone, kZoneMax);
    if (ctx->directory && ctx->prefix)
        ctx->path =
            formatText("%s%s%s%s%s_%s.log", directory, "/", ctx->month, "/", prefix, ctx->date);
    if (!ctx->directory || !ctx->prefix || !ctx->zone || !ctx->path) {
        destroyContext(ctx);
        *error = SG_LOG_ERR_MEMORY;
        return nullptr;
    }
    if (!ensureMonthFolder(directory, ctx->month)) {
        destroyContext(ctx);
        *error = SG_LOG_ERR_MONTH_FOLDER;
        return nullptr;
    }
    ctx->file = std::fopen(ctx->path, "a+e");
    if (!ctx->file) {
        destroyContext(ctx);
        *error = SG_LOG_ERR_OPEN;
        return nullptr;
    }
    return ctx;
}

// Moves the caller's pointer to the context of the given day, creating it when needed. The
// context this replaces stays open until the next switch of the same log, because other threads
// may still write through it; the one replaced before that is freed now.
SGLogCtx* switchDay(std::atomic_ref<SGLogCtx*> slot, const char (&date)[11], const timespec& now) {
    std::lock_guard lock(gSwitchMutex);
    SGLogCtx* current = slot.load(std::memory_order_acquire);
    // A caller holding a copy of an already replaced context catches up with its log.
    while (current->successor) current = current->successor;
    if (std::memcmp(current->date, date, 10) == 0) {
        slot.store(current, std::memory_order_release);
        return current;
    }
    int error = 0;
    SGLogCtx* next =
        createContext(current->directory, current->prefix, current->level, now, &error);
    if (!next) return nullptr;  // dropped; the next message tries again
    SGLogCtx* expired = current->replaced;
    current->replaced = nullptr;
    next->replaced = current;
    current->successor = next;
    slot.store(next, std::memory_order_release);
    destroyContext(expired);
    return next;
}

char levelLetter(int level) {
    unsigned bits = static_cast<unsigned>(level);
    switch (bits & (~bits + 1u)) {
        case 1:
            return 'F';
        case 2:
            return 'E';
        case 4:
            return 'W';
        case 8:
            return 'I';
        default:
            return 'D';
    }
}

void writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // write errors are silent
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
}

void writeLine(SGLogCtx** context, int level, const char* format, va_list args) {
    if (!context || !format) return;
    std::atomic_ref<SGLogCtx*> slot(*context);
    SGLogCtx* ctx = slot.load(std::memory_order_acquire);
    if (!ctx || level > ctx->level) return;

    timespec now = brindlow::platform::clockNow();
    LocalTime local = localTime(now);
    if (!local.ok) return;
    char date[11];
    formatDate(local.fields, date);
    if (std::memcmp(date, ctx->date, 10) != 0) {
        ctx = switchDay(slot, date, now);
        if (!ctx) return;
    }

    char stamp[32];
    const tm& t = local.fields;
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    char letter[2] = {levelLetter(level), '\0'};
    unsigned pid = static_cast<unsigned>(getpid());
    unsigned tid = static_cast<uint32_t>(SGThread_Self());

    // Measure both parts, so that the line is neither cut nor overrun whatever its length.
    static constexpr const char* kPrefix = "%s %s|%s|PID(%u)|TID(%u)|";
    int head = std::snprintf(nullptr, 0, kPrefix, stamp, ctx->zone, letter, pid, tid);
    va_list measure;
    va_copy(measure, args);
    int body = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (head < 0 || body < 0) return;
    size_t length = static_cast<size_t>(head) + static_cast<size_t>(body) + 1;  // + newline

    char small[1024];
    char* line =
        length + 1 <= sizeof small ? small : static_cast<char*>(SGMemory_malloc(length + 1));
    if (!line) return;
    std::snprintf(line, static_cast<size_t>(head) + 1, kPrefix, stamp, ctx->zone, letter, pid, tid);
    std::vsnprintf(line + head, static_cast<size_t>(body) + 1, format, args);
    line[length - 1] = '\n';
    // One write to an append-mode descriptor: lines of concurrent writers never interleave.
    writeAll(fileno(ctx->file), line, length);
    if (line != small) SGMemory_free(line);
}

void debugLine(FILE* stream, const char* file, const char* function, int line,
               const char* message) {
    timespec now = brindlow::platform::clockNow();
    LocalTime local = localTime(now);
    char stamp[32] = "";
    if (local.ok) {
        const tm& t = local.fields;
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    }
    std::fprintf(stream, "[%s][DEBUG][%s %s(%d)]: %s\n", stamp, file, function, line, message);
    std::fflush(stream);
}

void openDebugStream() {
    const char* path = std::getenv("SG_DEBUG_PATH");
    const char* name = std::getenv("SG_DEBUG_FILE");
    if (!path || !name) return;
    if (!isDirectory(path)) {
        debugLine(stderr, __FILE__, __func__, __LINE__,
                  "Couldn't access directory : $SG_DEBUG_PATH");
        return;
    }
    char* file = formatText("%s%s%s.log", path, "/", name);
    if (!file) return;
    if (FILE* stream = std::fopen(file, "a+e")) gDebugStream.store(stream);
    freeText(file);
}

}  // namespace

extern "C" {

const char* SGLog_GetVersion(void) {
    return kVersion;
}

const char* SGLog_GetBuildInfo(void) {
    thread_local char buffer[1024];
    return SGBase_FormatBuildInfo(buffer, kVersion);
}

SGLogCtx* _SGLog_Initialize(const char* directory, const char* prefix, int level) {
    int error = 0;
    SGLogCtx* ctx = createContext(directory, prefix, level, brindlow::platform::clockNow(), &error);
    if (!ctx) SGBaseError_SetLast(error, "SGLog_Initialize failed", 0);
    return ctx;
}

void _SGLog_WriteVaList(SGLogCtx** context, int level, const char* format, va_list arguments) {
    writeLine(context, level, format, arguments);
}

void _SGLog_Write(SGLogCtx** context, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(context, level, format, args);
    va_end(args);
}

void _SGLog_Finalize(SGLogCtx* context) {
    if (!context) return;
    std::lock_guard lock(gSwitchMutex);
    // A context finalized after it was replaced must not be freed again by its successor.
    if (context->successor) context->successor->replaced = nullptr;
    destroyContext(context->replaced);
    destroyContext(context);
}

int SGLog_Initialize(const char* directory, const char* prefix, int level) {
    pthread_rwlock_wrlock(&gProcessLock);
    int rc = 0;
    if (gProcessCtx) {
        rc = SG_LOG_ERR_INITIALIZED;
    } else if (SGLogCtx* ctx = _SGLog_Initialize(directory, prefix, level)) {
        gProcessCtx = ctx;
    } else {
        rc = SG_LOG_ERR_CONTEXT;
    }
    pthread_rwlock_unlock(&gProcessLock);
    return rc;
}

void SGLog_Write(int level, const char* format, ...) {
    pthread_rwlock_rdlock(&gProcessLock);
    // Other writers may replace the pointer in a day switch meanwhile.
    if (std::atomic_ref<SGLogCtx*>(gProcessCtx).load(std::memory_order_acquire)) {
        va_list args;
        va_start(args, format);
        writeLine(&gProcessCtx, level, format, args);
        va_end(args);
    }
    pthread_rwlock_unlock(&gProcessLock);
}

void SGLog_Finalize(void) {
    pthread_rwlock_wrlock(&gProcessLock);
    SGLogCtx* ctx = gProcessCtx;
    gProcessCtx = nullptr;
    _SGLog_Finalize(ctx);
    pthread_rwlock_unlock(&gProcessLock);
}

void SG_LOG_DEBUG_Initialize(void) {
    std::call_once(gDebugOnce, openDebugStream);
}

FILE* SG_LOG_DEBUG_Get_Stream(void) {
    FILE* stream = gDebugStream.load();
    return stream ? stream : stderr;
}

}  // extern "C"
