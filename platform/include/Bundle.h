// Application bundles and loadable module bundles, laid out as on the desktop platform:
// <name>.app/Contents/MacOS/<executable> with its resources as files in Contents/Resources, and a
// module bundle <name>.bundle whose code is the shared object Contents/MacOS/<name>.
#pragma once

#include <string>

namespace brindlow::platform {

// The resources folder of the running application's bundle: Contents/Resources of the bundle
// two levels above the executable, or the folder installed with setMainBundleResources.
// "" when the executable's path cannot be read.
std::string mainBundleResources();

// Makes mainBundleResources answer folder, for the whole process (hosts that run outside an
// application bundle, and tests); "" restores the bundle of the executable.
void setMainBundleResources(const std::string& folder);

// The path of the resource name inside the resources folder, or "" when it does not exist.
std::string bundleResourcePath(const std::string& resources, const std::string& name);

// The shared object of a module bundle: <bundle>/Contents/MacOS/<bundle's name without
// ".bundle">.
std::string bundleExecutablePath(const std::string& bundle);

// Loads a module bundle's shared object (all symbols bound now); the handle stays valid for the
// life of the process. Null when it cannot be loaded, with the loader's text in error (if given).
void* loadBundle(const std::string& bundle, std::string* error);

// The address of a function the loaded bundle exports by name, or null.
void* bundleFunction(void* bundle, const char* name);

}  // namespace brindlow::platform
