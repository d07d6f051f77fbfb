#include "Bundle.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "Platform.h"

namespace brindlow::platform {

namespace {

std::mutex gResourcesMutex;
std::string gResourcesOverride;

}  // namespace

std::string mainBundleResources() {
    {
        std::lock_guard lock(gResourcesMutex);
        if (!gResourcesOverride.empty()) return gResourcesOverride;
    }
    const std::string exe = executablePath();
    if (exe.empty()) return {};
    // <bundle>/Contents/MacOS/<executable>
    const std::filesystem::path contents = std::filesystem::path(exe).parent_path().parent_path();
    return (contents / "Resources").string();
}

void setMainBundleResources(const std::string& folder) {
    std::lock_guard lock(gResourcesMutex);
    gResourcesOverride = folder;
}

std::string bundleResourcePath(const std::string& resources, const std::string& name) {
    if (resources.empty() || name.empty()) return {};
    // A resource name is one entry of the folder, never a way out of it.
    if (name.find('/') != std::string::npos || name == "." || name == "..") return {};
    std::string path = resources + "/" + name;
    if (access(path.c_str(), F_OK) != 0) return {};
    return path;
}

std::string bundleExecutablePath(const std::string& bundle) {
    std::string trimmed = bundle;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    std::string name = std::filesystem::path(trimmed).filename().string();
    constexpr std::string_view kSuffix = ".bundle";
    if (name.size() > kSuffix.size() && name.ends_with(kSuffix))
        name.resize(name.size() - kSuffix.size());
    return trimmed + "/Contents/MacOS/" + name;
}

void* loadBundle(const std::string& bundle, std::string* error) {
    if (bundle.empty()) {
        if (error) *error = "no bundle path";
        return nullptr;
    }
    const std::string object = bundleExecutablePath(bundle);
    void* handle = dlopen(object.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && error) {
        const char* text = dlerror();
        *error = text ? text : "cannot load " + object;
    }
    return handle;
}

void* bundleFunction(void* bundle, const char* name) {
    if (!bundle || !name) return nullptr;
    return dlsym(bundle, name);
}

}  // namespace brindlow::platform
