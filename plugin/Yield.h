// Cooperative yielding: long operations hand control back to the host between
// rows so that its user interface stays alive.
#pragma once

#include <cstdint>

struct YieldData {
    // The operation's yield argument: positive counts ticks of 1/60 second,
    // negative counts milliseconds, 0 switches yielding off.
    int32_t interval;
    // Clock reading after the last hand-over, in the unit of interval.
    int32_t lastTime;

    // Every operation resets its record at entry.
    void Start(int32_t yieldArgument) {
        interval = yieldArgument;
        lastTime = 0;
    }
    // A yield point: hands over only when the interval is on and has passed.
    void YieldPoint() {
        if (interval != 0) DoYield();
    }
    // Hands control to the host when at least |interval| has passed since the
    // last hand-over; may run host code before it returns.
    void DoYield();
};

// The record shared by ScaleZPX and ScaleImageAndMaskZPX and the scalers
// behind them. A call started from the host while another yields resets it,
// and the interrupted call goes on with what that call set.
extern YieldData yield;
