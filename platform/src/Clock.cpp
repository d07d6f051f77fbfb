#include "Clock.h"

#include <atomic>

namespace brindlow::platform {

namespace {
std::atomic<ClockSource> gSource{nullptr};
}  // namespace

timespec clockNow() {
    if (ClockSource source = gSource.load(std::memory_order_acquire)) return source();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

int64_t clockNowMicroseconds() {
    timespec now = clockNow();
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

ClockSource setClockSource(ClockSource source) {
    return gSource.exchange(source, std::memory_order_acq_rel);
}

}  // namespace brindlow::platform
