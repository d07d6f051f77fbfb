#include "Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "Launch.h"
#include "Platform.h"

namespace brindlow::platform {

namespace {

namespace fs = std::filesystem;

std::string percentEncode(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-_.~", c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool makeFolder(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    chmod(path.c_str(), 0700);
    return fs::is_directory(path, ec);
}

dev_t deviceOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_dev : static_cast<dev_t>(-1);
}

// The top folder of the file system holding path.
std::string mountTop(const std::string& path) {
    fs::path p = fs::path(path).parent_path();
    const dev_t dev = deviceOf(p.string());
    while (p.has_parent_path() && p != p.root_path()) {
        const fs::path up = p.parent_path();
        if (deviceOf(up.string()) != dev) break;
        p = up;
    }
    return p.string();
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string homeTrashFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/') return std::string(data) + "/Trash";
    return homeDirectory() + "/.local/share/Trash";
}

bool moveToTrash(const std::string& rawPath, std::string* trashedName, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    std::error_code ec;
    const fs::path absolute = fs::absolute(rawPath, ec).lexically_normal();
    std::string path = absolute.string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return fail(path + ": " + std::strerror(errno));

    // The home Trash when it shares the file system, so the move is a rename.
    std::string trash = homeTrashFolder();
    std::string recordedPath = path;
    if (!makeFolder(trash)) return fail(trash + ": cannot create the Trash");
    if (deviceOf(trash) != st.st_dev) {
        const std::string top = mountTop(path);
        trash = top + "/.Trash-" + std::to_string(getuid());
        // Below a top folder the record names the path relative to it.
        recordedPath = fs::path(path).lexically_relative(top).string();
    }
    const std::string files = trash + "/files", info = trash + "/info";
    if (!makeFolder(files) || !makeFolder(info)) return fail(trash + ": cannot create the Trash");

    // The record is created first, exclusively: it reserves the name in "files".
    const std::string base = fs::path(path).filename().string();
    std::string name = base, record;
    int fd = -1;
    for (int n = 1; n < 10000; ++n) {
        if (n > 1) name = base + "." + std::to_string(n);
        record = info + "/" + name + ".trashinfo";
        if (lstat((files + "/" + name).c_str(), &st) == 0) continue;
        fd = open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) break;
    }
    if (fd < 0) return fail(record + ": " + std::strerror(errno));

    char date[32];
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &local);
    const std::string text =
        "[Trash Info]\nPath=" + percentEncode(recordedPath) + "\nDeletionDate=" + date + "\n";
    const bool written = writeAll(fd, text);
    if (::close(fd) != 0 || !written) {
        unlink(record.c_str());
        return fail(record + ": cannot write the record");
    }

    const std::string destination = files + "/" + name;
    if (rename(path.c_str(), destination.c_str()) != 0) {
        const int why = errno;
        std::string adminError;
        const bool needsAdmin = (why == EACCES || why == EPERM) && geteuid() != 0;
        if (!needsAdmin ||
            runAsAdministrator({"/bin/mv", "-T", "--", path, destination}, &adminError) != 0) {
            unlink(record.c_str());
            return fail(path + ": " + (needsAdmin ? adminError : std::strerror(why)));
        }
    }
    if (trashedName) *trashedName = name;
    return true;
}

}  // namespace brindlow::platform
