// Descriptors, streams, paths and directories of the operating-system layer.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "SGBaseError.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGOSInternal.h"

struct SGOSDir {
    DIR* dir;
};

// The record crosses the table interface: its byte layout is fixed.
static_assert(sizeof(SGOSDirEntry) == 268);
static_assert(offsetof(SGOSDirEntry, type) == 10);
static_assert(offsetof(SGOSDirEntry, name) == 12);
static_assert(sizeof(((SGOSDirEntry*)nullptr)->name) == 256);

namespace {

// A missing stream fails like a bad descriptor instead of crashing inside the C library.
bool badStream(FILE* stream) {
    if (stream) return false;
    errno = EBADF;
    return true;
}

}  // namespace

namespace sgos {

int openFlags(int flags) {
    // Both access bits together ask for reading and writing; the platform's O_RDWR | O_WRONLY
    // would give a descriptor that can do neither.
    int f = (flags & SGOS_O_RDWR) ? O_RDWR : (flags & SGOS_O_WRONLY) ? O_WRONLY : O_RDONLY;
    if (flags & SGOS_O_CREAT) f |= O_CREAT;
    if (flags & SGOS_O_EXCL) f |= O_EXCL;
    if (flags & SGOS_O_NOCTTY) f |= O_NOCTTY;
    if (flags & SGOS_O_TRUNC) f |= O_TRUNC;
    if (flags & SGOS_O_APPEND) f |= O_APPEND;
    if (flags & SGOS_O_NONBLOCK) f |= O_NONBLOCK;
    if (flags & SGOS_O_SYNC) f |= O_SYNC;
    return f;
}

mode_t permissions(int bits) {
    static constexpr struct {
        int bit;
        mode_t mode;
    } kModes[] = {
        {SGOS_S_IRWXU, S_IRWXU}, {SGOS_S_IRUSR, S_IRUSR}, {SGOS_S_IWUSR, S_IWUSR},
        {SGOS_S_IXUSR, S_IXUSR}, {SGOS_S_IRWXG, S_IRWXG}, {SGOS_S_IRGRP, S_IRGRP},
        {SGOS_S_IWGRP, S_IWGRP}, {SGOS_S_IXGRP, S_IXGRP}, {SGOS_S_IRWXO, S_IRWXO},
        {SGOS_S_IROTH, S_IROTH}, {SGOS_S_IWOTH, S_IWOTH}, {SGOS_S_IXOTH, S_IXOTH},
    };
    mode_t m = 0;
    for (const auto& e : kModes)
        if (bits & e.bit) m |= e.mode;
    return m;
}

int seekOrigin(int origin) {
    return origin == SGOS_SEEK_SET ? SEEK_SET : origin == SGOS_SEEK_CUR ? SEEK_CUR : SEEK_END;
}

unsigned char entryTypeFlags(unsigned char platformType, int dirFd, const char* name) {
    if (platformType == DT_UNKNOWN) {
        // Some file systems do not report the type in the entry: ask the inode.
        struct stat st;
        if (dirFd < 0 || fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
        platformType = static_cast<unsigned char>(IFTODT(st.st_mode));
    }
    unsigned char flags = 0;
    if (platformType & 0x4) flags |= SGOS_DT_DIR;
    if (platformType & 0x8) flags |= SGOS_DT_FILE;
    return flags;
}

}  // namespace sgos

extern "C" {

// ---- Descriptors ------------------------------------------------------------------------------

int SGOS_open(const char* path, int flags, int permissions) {
    const int f = sgos::openFlags(flags);
    if (f & O_CREAT) return ::open(path, f, sgos::permissions(permissions));
    return ::open(path, f);
}

int SGOS_create(const char* path, int permissions) {
    return ::creat(path, sgos::permissions(permissions));
}

ssize_t SGOS_read(int fd, void* buf, uint32_t n) {
    return ::read(fd, buf, n);
}
ssize_t SGOS_write(int fd, const void* buf, uint32_t n) {
    return ::write(fd, buf, n);
}

int SGOS_readline(int fd, char* buf, int size) {
    if (!buf || size <= 0) {
        errno = EINVAL;
        return -1;
    }
    int n = 0;
    while (n < size - 1) {
        char c;
        const ssize_t r = ::read(fd, &c, 1);
        if (r < 0) {
            if (errno == EINTR) continue;
            buf[n] = '\0';
            return -1;
        }
        if (r == 0 || c == '\n') break;
        buf[n++] = c;
    }
    buf[n] = '\0';
    if (n > 0 && buf[n - 1] == '\r') buf[--n] = '\0';
    return n;
}

int SGOS_close(int fd) {
    return ::close(fd);
}
int SGOS_stat(const char* path, struct stat* st) {
    return ::stat(path, st);
}
int SGOS_fstat(int fd, struct stat* st) {
    return ::fstat(fd, st);
}
int SGOS_fcntl(int fd, int cmd, ...) {
    return 0;
}
int SGOS_fileno(FILE* stream) {
    return badStream(stream) ? -1 : ::fileno(stream);
}

// ---- Streams and paths ------------------------------------------------------------------------

FILE* SGOS_fopen(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

uint32_t SGOS_fread(void* ptr, uint32_t size, uint32_t count, FILE* stream) {
    return badStream(stream) ? 0 : static_cast<uint32_t>(std::fread(ptr, size, count, stream));
}

uint32_t SGOS_fwrite(const void* ptr, uint32_t size, uint32_t count, FILE* stream) {
    return badStream(stream) ? 0 : static_cast<uint32_t>(std::fwrite(ptr, size, count, stream));
}

int SGOS_fclose(FILE* stream) {
    return badStream(stream) ? EOF : std::fclose(stream);
}

int SGOS_fseek(FILE* stream, long offset, int origin) {
    return badStream(stream) ? -1 : std::fseek(stream, offset, sgos::seekOrigin(origin));
}

long SGOS_ftell(FILE* stream) {
    return badStream(stream) ? -1 : std::ftell(stream);
}

void SGOS_rewind(FILE* stream) {
    if (!badStream(stream)) std::rewind(stream);
}

int SGOS_fflush(FILE* stream) {
    return std::fflush(stream);
}
int SGOS_remove(const char* path) {
    return std::remove(path);
}
int SGOS_unlink(const char* path) {
    return ::unlink(path);
}
int SGOS_access(const char* path, int mode) {
    return ::access(path, mode);
}

int SGOS_mkdir(const char* path, int permissions) {
    return ::mkdir(path, sgos::permissions(permissions));
}

int SGOS_mkfifo(const char* path, int permissions) {
    return ::mkfifo(path, sgos::permissions(permissions));
}

char* SGOS_getcwd(char* buf, uint32_t size) {
    return ::getcwd(buf, size);
}

// ---- Directories ------------------------------------------------------------------------------

SGOSDir* SGOS_opendir(const char* path) {
    if (!path) {
        errno = EINVAL;
        return nullptr;
    }
    auto* cell = static_cast<SGOSDir*>(SGMemory_calloc(1, sizeof(SGOSDir)));
    if (!cell) {
        SGBaseError_SetLast(SG_BASE_ERR_MEMORY, "opendir failed", 0);
        return nullptr;
    }
    cell->dir = ::opendir(path);
    if (!cell->dir) {
        const int e = errno;
        SGMemory_free(cell);
        errno = e;
        return nullptr;
    }
    return cell;
}

int SGOS_closedir(SGOSDir* dir) {
    if (!dir) return -1;
    const int r = dir->dir ? ::closedir(dir->dir) : -1;
    SGMemory_free(dir);
    return r;
}

int SGOS_readdir_r(SGOSDir* dir, SGOSDirEntry* entry, SGOSDirEntry** result) {
    if (result) *result = nullptr;
    if (!dir || !dir->dir || !entry || !result) return SG_BASE_ERR_NULL_ARGUMENT;
    // readdir on a stream of its own is safe across threads; readdir_r is deprecated and can
    // cut names on file systems with long ones.
    errno = 0;
    const struct dirent* d = ::readdir(dir->dir);
    if (!d) return errno;  // 0 at the end
    entry->type |= sgos::entryTypeFlags(d->d_type, ::dirfd(dir->dir), d->d_name);
    std::strncpy(entry->name, d->d_name, sizeof entry->name);
    *result = entry;
    return 0;
}

}  // extern "C"
