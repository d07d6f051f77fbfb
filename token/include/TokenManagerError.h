// The reasons why an entry was refused, by reason number, stored as EUC-KR bytes like the
// message table. Main thread only.
#ifndef TOKEN_MANAGER_ERROR_H
#define TOKEN_MANAGER_ERROR_H

#include <cstdint>
#include <map>

#include "TokenDefs.h"

class Logger;

class TOKEN_EXPORT TokenManagerError {
  public:
    enum TokenManagerErrorCode : int32_t {
        REASON_INVALID_INPUT = 1,
        REASON_ALREADY_RUNNING = 2,
        REASON_SERVICE_START_FAILED = 3,
        REASON_SERVICE_START_NO_PERMISSION = 4,
        REASON_SERVICE_PORT_IN_USE = 5,
        REASON_SERVICE_STOP_FAILED = 6,
        REASON_SERVICE_STOPPED = 7,
        REASON_CERT_EXISTS = 8,
        REASON_PIN_CONFIRM_MISMATCH = 9,
        REASON_PIN_MISMATCH = 10,
        REASON_PIN_EXPIRED = 11,
        REASON_SECURE_DISK_LOCKED = 12,
        REASON_SESSION_IN_USE = 13,
        REASON_EMPTY = 14,
        REASON_NO_INPUT = 15,
        REASON_NEW_PIN_MISMATCH = 16,
        REASON_SAME_PIN = 17,
        REASON_SELECT_TOKEN = 19,
        REASON_CHANGE_PIN_FAILED = 20,
        REASON_SECURE_DISK_INIT_FAILED = 21,
        REASON_SECURE_DISK_AUTH_CHECK_PIN = 22,
        REASON_SECURE_DISK_AUTH_FAILED = 23,
        REASON_PIN_LENGTH = 24,
        REASON_PIN_FORBIDDEN_CHAR = 25,
        REASON_PIN_RULES = 26,
        REASON_PIN_REPEATED = 27,
        REASON_PIN_REPEATED_AGAIN = 28,
        REASON_PIN_TOO_MANY_BLANKS = 29,
        REASON_PIN_LETTERS_ONLY = 30,
        REASON_PIN_DIGITS_ONLY = 31,
        REASON_KEYBOARD_SECURITY = 37,
        REASON_UNKNOWN = 38
    };

    static void initialize();
    // The EUC-KR text of the code, or that of "unknown error" for a code outside the table.
    static const char* getReason(TokenManagerErrorCode code);
    // The same text; also stores the code in *codeOut and writes the text into buffer, followed
    // by "(detail)" when detail is not 0. The buffer has room for the longest text and the number
    // (1024 bytes do).
    static const char* getReason(TokenManagerErrorCode code, int* codeOut, char* buffer,
                                 int detail);
    // The same text, also written to the logger at debug level.
    static const char* getReason(TokenManagerErrorCode code, Logger* logger);
    // Inserts a row when the code is absent; the text is stored, not copied.
    static void addReason(TokenManagerErrorCode code, const char* text);

    static std::map<uint64_t, const char*> reasonBook;
    static bool initialized;
};

#endif
