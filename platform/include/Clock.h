// The wall clock that the libraries read, with a seam for tests that must drive time.
#pragma once

#include <cstdint>
#include <ctime>

namespace brindlow::platform {

// A source of the current wall-clock time (seconds and nanoseconds since 1970-01-01 UTC).
using ClockSource = timespec (*)();

// The current time from the installed source; the system's real-time clock by default.
timespec clockNow();

// The same in microseconds since 1970-01-01 UTC.
int64_t clockNowMicroseconds();

// Installs a source for every later read, from any thread; null restores the system clock.
// Returns the source that was installed before (null for the system clock).
ClockSource setClockSource(ClockSource source);

}  // namespace brindlow::platform
