// The two clocks cooperative yielding reads. On Apple systems the real calls;
// elsewhere the monotonic clock. Defined alone in Clock.cpp so that tests can
// replace all three at link time with a clock they drive.
#pragma once

#include <cstdint>

// Ticks of 1/60 second since system start; wraps around in 32 bits.
uint32_t TickCount();
// Host time in an opaque unit, and its conversion to nanoseconds.
uint64_t AudioGetCurrentHostTime();
uint64_t AudioConvertHostTimeToNanos(uint64_t hostTime);
