// The static front through which the desktop application reaches the token manager.
#ifndef TOKEN_MANAGER_UTIL_H
#define TOKEN_MANAGER_UTIL_H

#include "TokenDefs.h"

class TokenMaster;

class TOKEN_EXPORT TokenManagerUtil {
  public:
    static void initialize();
    // The process's registry, built at the first call; an exception of the build passes to the
    // caller and the next call tries again.
    static TokenMaster* getTokenMaster();
    // A new password and its confirmation: 0 acceptable; reason 15 empty, 9 different, 24 length,
    // 25 forbidden character, 26 no character at all.
    static int checkPIN(char* pin, int pinLength, char* confirmation, int confirmationLength);
    // Wipes the three password buffers (a null buffer or a length of 0 or less is skipped).
    static void zeroMemory(char* first, int firstLength, char* second, int secondLength,
                           char* third, int thirdLength);

    static bool initialized;
    static TokenMaster* tokenMaster;
};

#endif
