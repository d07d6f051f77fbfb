#include "SGBaseError.h"

#include <cstring>

namespace {
// One record for the process, without a lock: the last writer wins.
struct LastError {
    int code = 0;
    char message[SG_BASE_ERROR_MESSAGE_MAX + 1] = {};
    int64_t detail = 0;
} gLastError;
}  // namespace

extern "C" {

int SGBaseError_SetLast(int code, const char* message, int64_t detail) {
    gLastError.code = code;
    gLastError.detail = detail;
    if (message) {
        std::strncpy(gLastError.message, message, SG_BASE_ERROR_MESSAGE_MAX);
        gLastError.message[SG_BASE_ERROR_MESSAGE_MAX] = '\0';
    } else {
        gLastError.message[0] = '\0';
    }
    return 0;
}

int SGBaseError_GetLastCode(void) { return gLastError.code; }
const char* SGBaseError_GetLastMessage(void) { return gLastError.message; }
int64_t SGBaseError_GetLastDetail(void) { return gLastError.detail; }

}  // extern "C"
