#include "Logger.h"

#include <dirent.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>

#include "Clock.h"
#include "Platform.h"
#include "SGLog.h"
#include "SGOS.h"
#include "TokenTables.h"
#include "Util.h"

Logger* Logger::instances[8] = {};
std::atomic<int64_t> Logger::tovelCake{0};

namespace {

// The program variant: 0 unless setRennick was called.
std::atomic<int> pName{0};

// Loggers are created once per type; a write may replace a logger's context (a day switch of
// the base log), so writes of all loggers take one lock.
std::mutex gCreateMutex;
std::mutex gWriteMutex;

struct Product {
    const char* folder;         // first program variant
    const char* variantFolder;  // second program variant
    const char* prefix;         // file-name prefix of the base log
};
constexpr Product kProducts[8] = {
    {nullptr, nullptr, nullptr},
    {"Brindlow", "Wyncote", "pirn"},
    {"BrindlowSecurityService", "WyncoteSecurityService", "vask"},
    {"TovelPKCS11", "TovelPKCS11", "zelm"},
    {"TovelToken", "RennicToken", "Token"},
    {"Brindlow", "Wyncote", "tole"},
    {"Brindlow", "Wyncote", "krad"},
    {"BrindlowBrowser", "WyncoteBrowser", "corvane"},
};

bool validType(int type) {
    return type >= LOGGER_TYPE_BRINDLOW && type <= LOGGER_TYPE_BROWSER;
}

bool secondVariant() {
    return pName.load() != 0;
}

const char* makerName() {
    return secondVariant() ? "Lindsign" : "Ostrelworks";
}

const char* markerName() {
    return secondVariant() ? "wyncote.rennick" : "Brindlow.TovelCake";
}

const char* productFolder(int type) {
    return secondVariant() ? kProducts[type].variantFolder : kProducts[type].folder;
}

// The home folder: HOME, or the user database when it is unset. Kept as bytes (UTF-8), so a
// home folder with Korean characters reaches the file system unchanged.
std::string libraryFolder() {
    return brindlow::platform::homeDirectory() + "/Library";
}

int createFolder(const std::string& folder) {
    return Util::createDirectory(Util::stringToWstring(folder));
}

std::string formatted(const char* format, va_list arguments) {
    if (!format) return {};
    va_list measure;
    va_copy(measure, arguments);
    const int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n <= 0) return {};
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.resize(static_cast<size_t>(n));
    return text;
}

void invalidType() {
    std::fputs("INVALID LOGGER TYPE!!!\n", stderr);
}

}  // namespace

Logger::Logger(void* context) : context(context) {}

Logger* Logger::getInstance(LoggerType type) {
    std::lock_guard lock(gCreateMutex);
    if (validType(type) && instances[type]) return instances[type];

    std::string path = libraryFolder();
    createFolder(path);
    path += "/";
    path += makerName();
    createFolder(path);
    path += "/";
    const std::string marker = path + markerName();
    if (!validType(type)) {
        invalidType();
        return nullptr;
    }
    path += productFolder(type);
    path += "/";
    createFolder(path);
    path += "log";
    std::printf("createDirectory res=%d\n", createFolder(path));

    // Every creation takes the marker file as it is now, for all loggers.
    tovelCake.store(Util::fileExist(Util::stringToWstring(marker)) ? 1 : 0);

    // A failed initialisation leaves a null context, whose writes the base log refuses.
    SGLogCtx* context =
        TM_BASE(_SGLog_Initialize)(path.c_str(), kProducts[type].prefix, LOGGER_LEVEL_OTHER);
    auto* logger = new (std::nothrow) Logger(context);
    instances[type] = logger;
    return logger;
}

void Logger::fatal(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    log(LOGGER_LEVEL_FATAL, format, arguments);
    va_end(arguments);
}

void Logger::info(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    log(LOGGER_LEVEL_INFO, format, arguments);
    va_end(arguments);
}

void Logger::debug(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    log(LOGGER_LEVEL_DEBUG, format, arguments);
    va_end(arguments);
}

void Logger::log(LoggerLevel level, const char* format, va_list arguments) {
    if (level != LOGGER_LEVEL_FATAL && tovelCake.load() == 0) return;
    int written = level;
    if (level != LOGGER_LEVEL_FATAL && level != LOGGER_LEVEL_ERROR &&
        level != LOGGER_LEVEL_WARNING && level != LOGGER_LEVEL_INFO && level != LOGGER_LEVEL_DEBUG)
        written = LOGGER_LEVEL_OTHER;
    // Lines carry text from media and certificates (folder names, subjects): formatted here, so
    // that a control character in them can neither end a line early nor hide or forge one.
    const std::string line = Util::logText(formatted(format, arguments));
    std::lock_guard lock(gWriteMutex);
    auto* current = static_cast<SGLogCtx*>(context);
    TM_BASE(_SGLog_Write)(&current, written, "%s", line.c_str());
    context = current;
}

void Logger::cleanLog() {
    // The platform clock, so that the month can be driven in tests.
    const time_t now = brindlow::platform::clockNow().tv_sec;
    SGOSTm t{};
    if (!TM_BASE(SGOS_localtime)(&now, &t)) return;
    std::printf("%04d/%02d/%02d %02d:%02d:%02d\n", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
    std::wstring library;
    getProgramLogPath(library);
    if (!Util::fileExist(library)) return;
    std::wstring maker;
    getProgramLogPathByProgramName(maker);
    if (!Util::fileExist(maker)) return;
    const int year = t.tm_year + 1900;
    const int month = t.tm_mon + 1;
    for (int type = LOGGER_TYPE_BRINDLOW; type <= LOGGER_TYPE_BROWSER; ++type) {
        std::wstring folder;
        getProgramLogPathByType(static_cast<LoggerType>(type), folder);
        if (!Util::fileExist(folder)) continue;
        folder += L"log";
        if (!Util::fileExist(folder)) continue;
        checkExistDirectoryByDate(folder, year, month);
    }
}

void Logger::getProgramLogPath(std::wstring& out) {
    out = Util::stringToWstring(libraryFolder());
}

void Logger::getProgramLogPathByProgramName(std::wstring& out) {
    getProgramLogPath(out);
    out += L"/";
    out += Util::stringToWstring(makerName());
}

void Logger::getProgramLogPathByType(const LoggerType& type, std::wstring& out) {
    if (!validType(type)) {
        invalidType();
        return;
    }
    getProgramLogPathByProgramName(out);
    out += L"/";
    out += Util::stringToWstring(productFolder(type));
    out += L"/";
}

bool Logger::checkExistDirectoryByDate(const std::wstring& folder, const int& year,
                                       const int& month) {
    char current[32];
    char previous[32];
    std::snprintf(current, sizeof current, "%04d-%02d", year, month);
    if (month == 1)
        std::snprintf(previous, sizeof previous, "%04d-%02d", year - 1, 12);
    else
        std::snprintf(previous, sizeof previous, "%04d-%02d", year, month - 1);

    const std::string path = Util::wstringToString(folder);
    const std::string opened = path + "/";
    DIR* dir = ::opendir(opened.c_str());
    std::printf("%s\n", opened.c_str());
    if (!dir) {
        std::perror("");
        return false;
    }
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        std::printf("File : %s\n", name);
        // Names with a "." (".", "..", files with an extension) and the two kept months stay.
        if (std::strchr(name, '.')) continue;
        if (std::strcmp(name, current) == 0 || std::strcmp(name, previous) == 0) continue;
        const std::string target = path + "/" + name;
        Util::deleteDirectory(Util::stringToWstring(target));
        std::printf("%s\n", target.c_str());
    }
    ::closedir(dir);
    return true;
}

extern "C" {

void setRennick(void) {
    pName.store(1);
}

int getProgramName(void) {
    return pName.load();
}

}  // extern "C"
