// One logger per program type, writing through the base library's log into its own folder below
// Library in the home folder. Fatal lines are always written; every other level only while the
// verbose-log marker file existed when the last logger was created.
#ifndef TOKEN_LOGGER_H
#define TOKEN_LOGGER_H

#include <stdarg.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "TokenDefs.h"

enum LoggerType : int {
    LOGGER_TYPE_BRINDLOW = 1,          // "Brindlow", "pirn"
    LOGGER_TYPE_SECURITY_SERVICE = 2,  // "BrindlowSecurityService", "vask"
    LOGGER_TYPE_PKCS11 = 3,            // "TovelPKCS11", "zelm"
    LOGGER_TYPE_TOKEN = 4,             // "TovelToken", "Token"
    LOGGER_TYPE_TOLE = 5,              // "Brindlow", "tole"
    LOGGER_TYPE_KRAD = 6,              // "Brindlow", "krad"
    LOGGER_TYPE_BROWSER = 7            // "BrindlowBrowser", "corvane"
};

enum LoggerLevel : int {
    LOGGER_LEVEL_FATAL = 1,
    LOGGER_LEVEL_ERROR = 2,
    LOGGER_LEVEL_WARNING = 4,
    LOGGER_LEVEL_INFO = 8,
    LOGGER_LEVEL_DEBUG = 16,
    LOGGER_LEVEL_OTHER = 32
};

class TOKEN_EXPORT Logger {
  public:
    explicit Logger(void* context);

    // The logger of the type, created on first use; null for a type outside 1 to 7.
    static Logger* getInstance(LoggerType type);

    void fatal(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void info(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void log(LoggerLevel level, const char* format, va_list arguments)
        __attribute__((format(printf, 3, 0)));

    // Deletes the month folders other than the current and the previous month in every log
    // folder.
    static void cleanLog();
    static void getProgramLogPath(std::wstring& out);
    static void getProgramLogPathByProgramName(std::wstring& out);
    static void getProgramLogPathByType(const LoggerType& type, std::wstring& out);
    // Deletes the entries of the folder that are neither the month folder of (year, month) nor
    // of the month before, nor names with a "."; false when the folder cannot be read.
    static bool checkExistDirectoryByDate(const std::wstring& folder, const int& year,
                                          const int& month);

    static Logger* instances[8];            // by type; entry 0 unused
    static std::atomic<int64_t> tovelCake;  // the verbose flag shared by every logger

  private:
    void* context;  // the base log's context; a write may replace it
};

extern "C" {
// Selects the second program variant; nothing in this program calls it.
TOKEN_EXPORT void setRennick(void);
// 0 for the first program variant, 1 after setRennick.
TOKEN_EXPORT int getProgramName(void);
}

#endif
