#include "NPKICopy.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "NPKITable.h"
#include "WideFile.h"

namespace {

constexpr long kMaxCopySize = 10239;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool makeParents(const std::string& path) {
    // Walk down from the root, creating what is missing on the way.
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

bool MakeDirectory(const std::wstring& wpath) {
    std::string path = wstringToString(wpath);
    if (path.empty()) return false;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (exists(path)) return true;
    makeParents(path);
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
    return exists(path);
}

bool CopyFileByPath(const std::wstring& source, const std::wstring& target) {
    const std::string targetPath = wstringToString(target);
    if (targetPath.empty()) return false;
    File in(wfopen(source.c_str(), L"rb"));
    if (!in) return false;
    if (std::fseek(in.get(), 0, SEEK_END) != 0) return false;
    const long size = std::ftell(in.get());
    if (size < 1 || size > kMaxCopySize) return false;
    std::rewind(in.get());

    std::vector<unsigned char> buffer(static_cast<size_t>(size) + 1);
    size_t total = 0;
    // Read until the end; a file that grew meanwhile is cut at the buffer's end.
    while (total < buffer.size()) {
        const size_t n = std::fread(buffer.data() + total, 1, buffer.size() - total, in.get());
        if (n == 0) break;
        total += n;
    }
    if (std::ferror(in.get())) return false;
    return replaceFileContents(targetPath, buffer.data(), total) == 0;
}

bool CopyNPKIFiles(const std::wstring& source, const std::wstring& target) {
    bool failed = !MakeDirectory(target);
    for (const NPKIAuthority& authority : NPKIAuthorities()) {
        const std::wstring folder = authority.folder;
        const std::wstring targetDir = target + folder;
        MakeDirectory(targetDir);
        // The roots are installed only once the user has confirmed their fingerprints.
        if (folder == L"KISA/") continue;
        for (const NPKIRow& row : authority.rows)
            if (!CopyFileByPath(source + folder + row.fileName, targetDir + row.fileName))
                failed = true;
    }
    return failed;
}
