// Starting programs: an application bundle in a session of its own, and a command with
// administrator rights.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace brindlow::platform {

// The executable of an application bundle: <bundle>/Contents/MacOS/<bundle's name without
// ".app">.
std::string applicationExecutablePath(const std::string& bundle);

// Starts the bundle's executable in a new session (detached from the caller's terminal and
// process group) without waiting for it. The child's pid goes to pid when given.
bool launchApplication(const std::string& bundle, pid_t* pid, std::string* error);

// Runs argv (argv[0] a path) with administrator rights and waits for it: directly when the
// process already runs as root, otherwise through pkexec, which asks for the password.
// The command's exit status, or -1 when it could not be run or ended by a signal.
int runAsAdministrator(const std::vector<std::string>& argv, std::string* error);

}  // namespace brindlow::platform
