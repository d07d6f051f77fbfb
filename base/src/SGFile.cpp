#include "SGFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "SGMemory.h"

namespace {

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the error close() saw (0 when none).
    int close() {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

  private:
    int fd_;
};

int writeErrorCode(int err) {
    if (err == ENOENT) return SG_FILE_ERR_OPEN;
    if (err == EACCES) return SG_FILE_ERR_ACCESS;
    return err != 0 ? err : EIO;
}

// Reads exactly size bytes; false on a read error or an early end of file.
bool readFully(int fd, unsigned char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes all bytes; 0 or the error number.
int writeFully(int fd, const unsigned char* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int writeDirect(const char* path, const unsigned char* bytes, size_t size) {
    // Read-write as a "wb+" stream opens it, so a pipe without a reader does not block.
    Fd fd(::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) return writeErrorCode(errno);
    if (const int err = writeFully(fd.get(), bytes, size)) return writeErrorCode(err);
    if (const int err = fd.close()) return writeErrorCode(err);
    return 0;
}

std::string temporaryName(const std::string& folder, const std::string& base) {
    static std::atomic<unsigned> counter{0};
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.%lx.tmp", static_cast<long>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned long>(now.tv_nsec));
    // Keep the name within the file system's limit however long the target's name is.
    return folder + "/." + base.substr(0, 160) + suffix;
}

// Writes a temporary file beside target, flushes it to disk and renames it over target.
int replaceAtomically(const std::string& target, const unsigned char* bytes, size_t size,
                      const struct stat* existing) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) return writeErrorCode(EISDIR);

    std::string temp;
    int raw = -1;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        temp = temporaryName(folder.empty() ? "/" : folder, base);
        // The mode passes through the umask, as creating the file in place would.
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST) return writeErrorCode(errno);
    }
    if (raw < 0) return writeErrorCode(EEXIST);
    Fd fd(raw);

    int err = 0;
    if (existing) {
        // A replaced file keeps its owner (when we may set it) and its permissions, so a key
        // file stays owner-only.
        if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())
            (void)!::fchown(fd.get(), existing->st_uid, existing->st_gid);
        if (::fchmod(fd.get(), existing->st_mode & 07777) != 0) err = errno;
    }
    if (!err) err = writeFully(fd.get(), bytes, size);
    if (!err && ::fsync(fd.get()) != 0) err = errno;
    if (const int closeErr = fd.close(); !err) err = closeErr;
    if (!err && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(temp.c_str());
        return writeErrorCode(err);
    }
    // Make the rename itself durable; not every file system can sync a folder.
    Fd dir(::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return 0;
}

// Opens a regular file for reading; -1 when it cannot be opened or is not a regular file.
// Non-blocking, so that a pipe is refused instead of waited on (no effect on a regular file).
int openRegular(const char* path, struct stat* st) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

extern "C" {

int SGFile_Read(void** data, uint32_t* size, const char* path) {
    if (!data || !size || !path) return SG_FILE_ERR_OPEN;
    struct stat st {};
    Fd fd(openRegular(path, &st));
    if (fd.get() < 0) return SG_FILE_ERR_OPEN;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > UINT32_MAX) return SG_FILE_ERR_MEMORY;
    const auto length = static_cast<uint32_t>(st.st_size);
    // One byte at least, so that an empty file still hands out a buffer to free.
    auto* buffer = static_cast<unsigned char*>(SGMemory_malloc(length ? length : 1));
    if (!buffer) return SG_FILE_ERR_MEMORY;
    // A file that shrinks or fails under us is an error, never a half-filled buffer.
    if (!readFully(fd.get(), buffer, length)) {
        SGMemory_free(buffer);
        return SG_FILE_ERR_OPEN;
    }
    *data = buffer;
    *size = length;
    return 0;
}

int SGFile_ReadBinary(SGBinary* out, const char* path) {
    if (!out) return SG_FILE_ERR_OPEN;
    void* data = nullptr;
    uint32_t size = 0;
    const int rc = SGFile_Read(&data, &size, path);
    if (rc != 0) return rc;
    if (size == 0) {
        SGMemory_free(data);
        data = nullptr;
    }
    out->data = static_cast<unsigned char*>(data);
    out->length = size;
    return 0;
}

int SGFile_Write(const char* path, const void* bytes, int size) {
    if (!path || !*path) return SG_FILE_ERR_OPEN;
    if (size < 0 || (!bytes && size > 0)) return EINVAL;
    const auto* in = static_cast<const unsigned char*>(bytes);
    const auto length = static_cast<size_t>(size);

    struct stat st {};
    if (::stat(path, &st) == 0) {
        if (S_ISDIR(st.st_mode)) return writeErrorCode(EISDIR);
        // A device or a pipe cannot be replaced by a rename: write it in place.
        if (!S_ISREG(st.st_mode)) return writeDirect(path, in, length);
        struct stat link {};
        if (::lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
            // Replace the file the link points to and keep the link.
            char* resolved = ::realpath(path, nullptr);
            if (!resolved) return writeErrorCode(errno);
            const std::string target(resolved);
            std::free(resolved);
            return replaceAtomically(target, in, length, &st);
        }
        return replaceAtomically(path, in, length, &st);
    }
    if (errno != ENOENT) return writeErrorCode(errno);
    struct stat link {};
    if (::lstat(path, &link) == 0) return writeDirect(path, in, length);  // dangling link
    return replaceAtomically(path, in, length, nullptr);
}

int SGFile_WriteBinary(const char* path, const SGBinary* bin) {
    if (!bin) return EINVAL;
    if (bin->length > static_cast<uint32_t>(INT_MAX)) return EFBIG;
    return SGFile_Write(path, bin->data, static_cast<int>(bin->length));
}

int SGFile_Compare(const char* path1, const char* path2, uint32_t chunkSize) {
    if (!path1 || !path2) return -1;
    if (chunkSize == 0) chunkSize = 32768;
    struct stat st1 {
    }, st2{};
    Fd a(openRegular(path1, &st1));
    Fd b(openRegular(path2, &st2));
    if (a.get() < 0 || b.get() < 0) return -1;
    if (st1.st_size != st2.st_size) return -1;

    auto* one = static_cast<unsigned char*>(SGMemory_malloc(chunkSize));
    auto* two = static_cast<unsigned char*>(SGMemory_malloc(chunkSize));
    int result = 0;
    if (!one || !two) {
        result = SG_BASE_ERR_MEMORY;
    } else {
        for (off_t left = st1.st_size; left > 0 && result == 0;) {
            const size_t n =
                left < static_cast<off_t>(chunkSize) ? static_cast<size_t>(left) : chunkSize;
            if (!readFully(a.get(), one, n) || !readFully(b.get(), two, n) ||
                std::memcmp(one, two, n) != 0)
                result = -1;
            left -= static_cast<off_t>(n);
        }
    }
    SGMemory_free(one);
    SGMemory_free(two);
    return result;
}

}  // extern "C"
