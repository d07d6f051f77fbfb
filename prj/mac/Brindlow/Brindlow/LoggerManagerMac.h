// The hourly clean-up of the token manager's log folders, on a thread of its own.
#pragma once

// Starts the clean-up thread; the thread is not kept and runs until the process ends. A thread
// that cannot be created is reported on standard output and the caller goes on without it.
void LoggerManagerMac();

// The clean-up thread: cleans at once, then every hour. Never returns.
void* ThreadFunctionLog(void* argument);
