// The static front through which the desktop application reaches the token manager.
#ifndef TOKEN_MANAGER_UTIL_H
#define TOKEN_MANAGER_UTIL_H

#include "TokenDefs.h"

class TOKEN_EXPORT TokenManagerUtil {
  public:
    static void initialize();
    // Wipes the three password buffers (a null buffer or a length of 0 or less is skipped).
    static void zeroMemory(char* first, int firstLength, char* second, int secondLength,
                           char* third, int thirdLength);

    static bool initialized;
};

#endif
