// What the application's tests share: a home folder with certificates, a daemon configuration
// on a free loopback port, log folders of several months, the watched bundle folder, a client
// of the local service, and bounded waits on real conditions.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace brindlow::apptest {

// A fresh folder below $TMPDIR (or /tmp), made with mkdtemp.
std::string makeTempFolder(const std::string& prefix);

// Runs a shell command line; true when it exits with 0.
bool runCommand(const std::string& commandLine);

// A loopback TCP port that nothing listens on at the moment.
int freeLoopbackPort();

// The folders of one run of the application.
struct AppFolders {
    std::string root;          // everything below lies in it
    std::string home;          // $HOME: two NPKI certificates, the daemon configuration
    std::string applications;  // $BRINDLOW_APPLICATIONS
    std::string watched;       // <applications>/Brindlow.app, made unless told otherwise
    std::string volumes;       // $BRINDLOW_VOLUMES: no removable media
    std::string logFolder;     // the application logger's folder of month folders
    std::string oldMonth;      // a month folder the clean-up removes ("2001-01")
    std::string currentMonth;  // the month folder of today, which the clean-up keeps
    int port = 0;              // the local service's port, written to tovelconf.json
};

// Builds the folders below a new temporary root with tests/app/data/make_home.sh. Empty root
// when that failed.
AppFolders makeAppFolders(bool withWatchedBundle = true);

// Removes root and everything below it.
void removeFolders(const AppFolders& folders);

// Sends one request line to the local service on 127.0.0.1:port and returns the reply line
// without its line feed; "" when nothing answered within timeoutMs.
std::string askService(int port, const std::string& line, int timeoutMs = 3000);

// Polls condition every 50 ms until it holds or timeout passes; its last answer.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

bool exists(const std::string& path);

}  // namespace brindlow::apptest
