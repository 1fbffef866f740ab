// floor(n / d) by one multiply for every 16-bit n and every d from 2 to 257
// (Granlund and Montgomery, "Division by invariant integers using
// multiplication", 1994, unsigned case with N = 16): with l = ceil(log2 d) and
// m = floor(2^16 (2^l - d) / d) + 1 < 2^16, let t = (m n) >> 16; then
// floor(n / d) = (t + ((n - t) >> 1)) >> (l - 1). The unit tests check every
// n for every such d. The box scaler's means and the blur's windows divide so.
#pragma once

#include <cstdint>

struct Divisor16 {
    uint16_t multiplier;
    uint16_t shift;  // l - 1
};

inline Divisor16 Divisor16For(int32_t d) {
    int32_t l = 0;
    while ((int32_t{1} << l) < d) ++l;
    const uint32_t m = static_cast<uint32_t>(((uint64_t{1} << 16) * ((uint64_t{1} << l) - d)) / d + 1);
    return Divisor16{static_cast<uint16_t>(m), static_cast<uint16_t>(l - 1)};
}

inline uint32_t Divide16(uint32_t n, Divisor16 divisor) {
    const uint32_t t = (divisor.multiplier * n) >> 16;
    return (t + ((n - t) >> 1)) >> divisor.shift;
}
