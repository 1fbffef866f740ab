#include "tests/support/TestClock.h"

#include "platform/Clock.h"

namespace {
uint32_t gTicks = 1000;
uint32_t gTickStep = 0;
uint64_t gNanos = 1000000000ull;
uint64_t gNanoStep = 0;
int gReadings = 0;
}  // namespace

namespace zpxtest {

void SetTicks(uint32_t ticks, uint32_t stepPerReading) {
    gTicks = ticks;
    gTickStep = stepPerReading;
}

void SetMilliseconds(uint64_t milliseconds, uint64_t stepPerReading) {
    gNanos = milliseconds * 1000000ull;
    gNanoStep = stepPerReading * 1000000ull;
}

void AdvanceTicks(uint32_t ticks) { gTicks += ticks; }
void AdvanceMilliseconds(uint64_t milliseconds) { gNanos += milliseconds * 1000000ull; }
int ClockReadings() { return gReadings; }

// Readings stay an odd multiple of 2^19 away from 0 however far the clock
// wraps, so even the first yield point (which compares with 0) hands over.
void MakeEveryYieldPointHandOver() {
    SetTicks((1u << 30) + (1u << 19), 1u << 20);
    SetMilliseconds((1ull << 30) + (1ull << 19), 1ull << 20);
}

}  // namespace zpxtest

uint32_t TickCount() {
    ++gReadings;
    uint32_t now = gTicks;
    gTicks += gTickStep;
    return now;
}

uint64_t AudioGetCurrentHostTime() {
    ++gReadings;
    uint64_t now = gNanos;
    gNanos += gNanoStep;
    return now;
}

uint64_t AudioConvertHostTimeToNanos(uint64_t hostTime) { return hostTime; }
