#include "platform/Clock.h"

#if !defined(__APPLE__)
#include <ctime>

namespace {
uint64_t MonotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}
}  // namespace

uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ticks = static_cast<uint64_t>(now.tv_sec) * 60u + static_cast<uint64_t>(now.tv_nsec) * 60u / 1000000000u;
    return static_cast<uint32_t>(ticks);
}

// Host time is kept in nanoseconds here, so the conversion is the identity.
uint64_t AudioGetCurrentHostTime() { return MonotonicNanos(); }
uint64_t AudioConvertHostTimeToNanos(uint64_t hostTime) { return hostTime; }
#endif
