// A module as a loaded bundle sees the process: it finds the table and its fill function by
// name, and calls through a slot.
#include <dlfcn.h>

#include "SGBaseDefs.h"

extern "C" SG_EXPORT int probe_BindBase(int* version, const char** baseVersion) {
    auto** table = static_cast<void**>(dlsym(RTLD_DEFAULT, "Base"));
    auto fill = reinterpret_cast<int (*)(void**)>(dlsym(RTLD_DEFAULT, "SGBaseWrapper_GetList"));
    if (!table || !fill) return -1;
    void* own[348];
    int rc = fill(own);
    if (rc != 0) return rc;
    *version = *reinterpret_cast<int*>(&own[0]);
    *baseVersion = reinterpret_cast<const char* (*)()>(own[1])();
    return table == own ? -2 : 0;
}
