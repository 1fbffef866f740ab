// A clock the tests drive. It replaces the platform clock at link time in the
// test programs: every reading returns the current value and then advances it
// by the step, so a step of 0 freezes time.
#pragma once

#include <cstdint>

namespace zpxtest {

void SetTicks(uint32_t ticks, uint32_t stepPerReading = 0);
void SetMilliseconds(uint64_t milliseconds, uint64_t stepPerReading = 0);
void AdvanceTicks(uint32_t ticks);
void AdvanceMilliseconds(uint64_t milliseconds);
int ClockReadings();

// Every reading moves the clock far enough that each yield point hands over:
// the number of hand-overs then equals the number of yield points reached.
void MakeEveryYieldPointHandOver();

}  // namespace zpxtest
