#include "plugin/Yield.h"

#include <cstdlib>

#include "platform/Clock.h"
#include "plugin/HostCallbacks.h"

YieldData yield = {0, 0};

namespace {

// Milliseconds of host time in 32 bits. Past 2^31 ms (about 24.8 days) the
// reading wraps around like the tick count does, rather than saturating.
int32_t MillisecondReading() {
    double milliseconds = static_cast<double>(AudioConvertHostTimeToNanos(AudioGetCurrentHostTime())) / 1000000.0;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(milliseconds)));
}

int32_t TickReading() { return static_cast<int32_t>(TickCount()); }

// |now - last| with the difference wrapping around in 32 bits.
int64_t Elapsed(int32_t now, int32_t last) {
    int32_t difference = static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(last));
    return std::llabs(static_cast<int64_t>(difference));
}

}  // namespace

// The interval and the wrapped difference are compared as 64-bit magnitudes,
// not in 32 bits where -(-2^31) and |-2^31| stay negative and would pass
// every test: an interval of -2^31 waits 2^31 ms, which only a difference of
// exactly -2^31 reaches, and a difference of -2^31 (magnitude 2^31) passes
// every interval.
void YieldData::DoYield() {
    const bool inTicks = interval > 0;
    int32_t (*reading)() = inTicks ? TickReading : MillisecondReading;
    int64_t wanted = inTicks ? static_cast<int64_t>(interval) : -static_cast<int64_t>(interval);
    if (Elapsed(reading(), lastTime) < wanted) return;
    REALYieldToRB();
    // Read again: the time the host spent does not count toward the next interval.
    lastTime = reading();
}
