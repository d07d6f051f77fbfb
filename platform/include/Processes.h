// Running programs of the current user, found by the name of their executable.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace brindlow::platform {

// The processes of the current (real) user, the caller excluded, whose executable's file name
// is exactly name (case-sensitive), as /proc/<pid>/exe shows it; an executable deleted since it
// started still counts under its name.
// When $BRINDLOW_PROCESS_SCOPE is set (tests), only the process ids it lists (decimal, separated
// by spaces or commas) are looked at; set but empty, none is. Other words in it name no process.
std::vector<pid_t> runningProcessesNamed(const std::string& name);

// Sends signal to pid; 0, or the errno of the failure.
int signalProcess(pid_t pid, int signal);

}  // namespace brindlow::platform
