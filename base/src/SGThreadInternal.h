// Internal to the base library: the thread component's deadline arithmetic.
#pragma once

#include <ctime>

#include "SGThread.h"

// The platform time of a deadline record. The record's 32-bit seconds are taken as the instant
// congruent to them modulo 2^32 that lies at most about 34 years after now (and otherwise in the
// past), so deadlines keep working after 2038; nanoseconds outside 0..999999999 carry into the
// seconds.
timespec SGThread_DeadlineToTimespec(const SGThreadDeadline& deadline, time_t now);
