// Loggers are process-wide and created once per type, so each scenario runs in a freshly started
// copy of the test program with its own home folder and clock, and checks what it left on disk.
#include "Logger.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <set>
#include <string>

#include "Clock.h"
#include "TokenTestSupport.h"
#include "Util.h"

using namespace tokentest;

namespace {

time_t gNow = 0;

timespec fixedClock() {
    return {gNow, 0};
}

void useHomeAndClock(const std::string& home, time_t now) {
    ::setenv("HOME", home.c_str(), 1);
    gNow = now;
    brindlow::platform::setClockSource(&fixedClock);
}

void logAt(Logger* logger, LoggerLevel level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    logger->log(level, format, arguments);
    va_end(arguments);
}

std::set<std::string> entries(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename());
    return names;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(Logger, EachTypeWritesIntoItsOwnFolderAndFile) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        // A home folder with Korean characters reaches the file system unchanged.
        const std::string home = freshFolder("logger") + "/홈 폴더";
        fs::create_directories(home);
        useHomeAndClock(home, localNoon(2024, 1, 15));
        c.expect(Logger::getInstance(static_cast<LoggerType>(0)) == nullptr, "type 0");
        c.expect(Logger::getInstance(static_cast<LoggerType>(8)) == nullptr, "type 8");
        for (int type = 1; type <= 7; ++type) {
            Logger* logger = Logger::getInstance(static_cast<LoggerType>(type));
            c.expect(logger != nullptr, "logger " + std::to_string(type));
            if (!logger) continue;
            c.expect(Logger::getInstance(static_cast<LoggerType>(type)) == logger, "same logger");
            logger->fatal("fatal line of type %d", type);
            logger->info("info line of type %d", type);
            logger->debug("debug line of type %d", type);
        }

        const struct {
            int type;
            const char* folder;
            const char* prefix;
        } expected[] = {
            {1, "Brindlow", "pirn"},           {2, "BrindlowSecurityService", "vask"},
            {3, "TovelPKCS11", "zelm"},        {4, "TovelToken", "Token"},
            {5, "Brindlow", "tole"},           {6, "Brindlow", "krad"},
            {7, "BrindlowBrowser", "corvane"},
        };
        const std::string maker = home + "/Library/Ostrelworks";
        c.expect(modeOf(home + "/Library") == 0700, "Library mode");
        c.expect(modeOf(maker) == 0700, "maker folder mode");
        for (const auto& e : expected) {
            const std::string log = maker + "/" + e.folder + "/log";
            c.expect(modeOf(maker + "/" + e.folder) == 0700, std::string(e.folder) + " mode");
            c.expect(modeOf(log) == 0700, std::string(e.folder) + "/log mode");
            const std::string file = log + "/2024-01/" + e.prefix + "_2024-01-15.log";
            const std::string text = readText(file);
            c.expect(contains(text, "2024/01/15 12:00:00"), file + ": time");
            c.expect(contains(text, "|F|PID("), file + ": fatal letter");
            c.expect(contains(text, "fatal line of type " + std::to_string(e.type)), file);
            // Without the marker file only fatal lines are written.
            c.expect(!contains(text, "info line") && !contains(text, "debug line"),
                     file + ": verbose lines");
        }
        // An invalid type made no folder of its own.
        c.expect(
            entries(maker) == std::set<std::string>{"Brindlow", "BrindlowSecurityService",
                                                    "TovelPKCS11", "TovelToken", "BrindlowBrowser"},
            "maker folder entries");
        return c.failures;
    });
}

TEST(Logger, VerboseLinesFollowTheMarkerAsItWasAtTheLastCreation) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        const std::string home = freshFolder("marker");
        useHomeAndClock(home, localNoon(2024, 3, 2));
        const std::string marker = home + "/Library/Ostrelworks/Brindlow.TovelCake";
        Logger* token = Logger::getInstance(LOGGER_TYPE_TOKEN);
        if (!token) return 1;
        c.expect(Logger::tovelCake.load() == 0, "flag clear without marker");
        token->debug("debug-1");
        token->info("info-1");
        token->fatal("fatal-1");
        writeText(marker, "");
        token->debug("debug-2");  // the flag changes only when a logger is created
        c.expect(Logger::getInstance(LOGGER_TYPE_SECURITY_SERVICE) != nullptr, "type 2");
        c.expect(Logger::tovelCake.load() == 1, "flag set by the new logger");
        token->debug("debug-3");
        token->info("info-3");
        logAt(token, static_cast<LoggerLevel>(64), "other-%d", 3);
        fs::remove(marker);
        token->debug("debug-4");
        c.expect(Logger::getInstance(LOGGER_TYPE_PKCS11) != nullptr, "type 3");
        c.expect(Logger::tovelCake.load() == 0, "flag cleared by the next logger");
        token->debug("debug-5");
        token->info("info-5");
        token->fatal("fatal-5");

        const std::string text = readText(home +
                                          "/Library/Ostrelworks/TovelToken/log/2024-03/"
                                          "Token_2024-03-02.log");
        for (const char* present : {"|F|PID", "fatal-1", "|D|PID", "debug-3", "|I|PID", "info-3",
                                    "other-3", "debug-4", "fatal-5"})
            c.expect(contains(text, present), std::string("present: ") + present);
        for (const char* absent : {"debug-1", "info-1", "debug-2", "debug-5", "info-5"})
            c.expect(!contains(text, absent), std::string("absent: ") + absent);
        return c.failures;
    });
}

TEST(Logger, PathsFallBackToTheUserDatabaseWithoutHome) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        const passwd* entry = ::getpwuid(::getuid());
        if (!entry) return 1;
        const std::string library = std::string(entry->pw_dir) + "/Library";
        ::unsetenv("HOME");
        // Only the paths: nothing is created in the real home folder.
        std::wstring out;
        Logger::getProgramLogPath(out);
        c.expect(Util::wstringToString(out) == library, "library");
        Logger::getProgramLogPathByProgramName(out);
        c.expect(Util::wstringToString(out) == library + "/Ostrelworks", "maker");
        Logger::getProgramLogPathByType(LOGGER_TYPE_TOKEN, out);
        c.expect(Util::wstringToString(out) == library + "/Ostrelworks/TovelToken/", "type 4");
        out = L"kept";
        Logger::getProgramLogPathByType(static_cast<LoggerType>(9), out);
        c.expect(out == L"kept", "invalid type leaves the output");
        return c.failures;
    });
}

TEST(Logger, CleanupInJanuaryKeepsDecemberOfThePreviousYear) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        const std::string home = freshFolder("clean");
        const std::string outside = freshFolder("outside");
        writeText(outside + "/precious", "x");
        const std::string maker = home + "/Library/Ostrelworks";
        const std::vector<std::string> logs = {maker + "/TovelToken/log",
                                               maker + "/BrindlowSecurityService/log"};
        for (const std::string& log : logs) {
            for (const char* month : {"2024-01", "2023-12", "2023-11", "2022-12", "old"})
                fs::create_directories(log + "/" + month + "/inner");
            writeText(log + "/2023-11/inner/a.log", "x");
            writeText(log + "/notes.txt", "kept");
            writeText(log + "/keep", "a file, not a month folder");
            fs::create_directory_symlink(outside, log + "/2020-05");
        }
        useHomeAndClock(home, localNoon(2024, 1, 15));
        Logger::cleanLog();
        for (const std::string& log : logs)
            c.expect(entries(log) == std::set<std::string>{"2024-01", "2023-12", "notes.txt",
                                                           "keep", "2020-05"},
                     log);
        c.expect(readText(outside + "/precious") == "x", "the link was not followed");
        return c.failures;
    });
}

TEST(Logger, CheckExistDirectoryByDateInDecember) {
    const std::string log = freshFolder("december");
    for (const char* month : {"2023-10", "2023-11", "2023-12", "old"})
        fs::create_directories(log + "/" + month);
    writeText(log + "/notes.txt", "x");
    EXPECT_TRUE(Logger::checkExistDirectoryByDate(Util::stringToWstring(log), 2023, 12));
    EXPECT_EQ(entries(log), (std::set<std::string>{"2023-11", "2023-12", "notes.txt"}));
    EXPECT_FALSE(
        Logger::checkExistDirectoryByDate(Util::stringToWstring(log + "/missing"), 2023, 12));
}

TEST(Logger, CleanupWithoutMakerFolderDoesNothing) {
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        const std::string home = freshFolder("nomaker");
        fs::create_directories(home + "/Library");
        useHomeAndClock(home, localNoon(2024, 5, 1));
        Logger::cleanLog();
        c.expect(entries(home + "/Library").empty(), "nothing created");
        return c.failures;
    });
}

TEST(Logger, TheSecondVariantOnlyThroughSetRennick) {
    EXPECT_EQ(getProgramName(), 0);
    EXPECT_IN_FRESH_PROCESS([] {
        Checks c;
        const std::string home = freshFolder("variant");
        useHomeAndClock(home, localNoon(2024, 6, 30));
        c.expect(getProgramName() == 0, "first variant at start");
        setRennick();
        c.expect(getProgramName() == 1, "second variant");
        fs::create_directories(home + "/Library/Lindsign");
        writeText(home + "/Library/Lindsign/wyncote.rennick", "");
        Logger* logger = Logger::getInstance(LOGGER_TYPE_SECURITY_SERVICE);
        if (!logger) return 1;
        c.expect(Logger::tovelCake.load() == 1, "the variant's marker file");
        logger->debug("variant debug");
        const std::string text = readText(home +
                                          "/Library/Lindsign/WyncoteSecurityService/log/"
                                          "2024-06/vask_2024-06-30.log");
        c.expect(contains(text, "variant debug"), "variant log");
        c.expect(!fs::exists(home + "/Library/Ostrelworks"), "no first-variant folder");
        return c.failures;
    });
}
