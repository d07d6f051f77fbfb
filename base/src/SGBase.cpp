#include <cstdio>

#include "SGBaseInternal.h"
#include "SGBaseTable.h"

const char* SGBase_FormatBuildInfo(char (&buffer)[1024], const char* version) {
    std::snprintf(buffer, sizeof buffer, "Version : %s, Build Date : %s %s", version, __DATE__,
                  __TIME__);
    return buffer;
}

extern "C" {

const char* SGBase_GetVersion(void) { return "4.2.1.0"; }

const char* SGBase_GetBuildInfo(void) {
    static char buffer[1024];
    return SGBase_FormatBuildInfo(buffer, SGBase_GetVersion());
}

}  // extern "C"
