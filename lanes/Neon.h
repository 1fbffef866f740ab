// The baseline lane set of arm64: NEON (Advanced SIMD), which every arm64
// processor that runs Linux has. 128-bit vectors: 4 ints, 4 floats, 2 doubles.
// Included by lanes/Lanes.h only.
//
// Each operation gives what the SSE2 set gives for the same lanes, also where
// the two instruction sets part: the minimum and maximum of floats and
// doubles are the compare-and-select of x86 (the second operand where either
// is NaN, unlike fmin), not NEON's own; narrowing saturates in the same two
// steps. Multiplies and adds stay apart: nothing here forms a fused
// multiply-add, and the build forbids the compiler to contract them.
#pragma once

#include <arm_neon.h>

#include <cstdint>
#include <cstring>

struct Neon {
    // One integer type for every lane width, as x86 has; operations reinterpret it.
    using Ints = uint32x4_t;
    using Floats = float32x4_t;
    using Doubles = float64x2_t;
    static constexpr int kBytes = 16;
    static constexpr int kInts = 4;
    static constexpr int kDoubles = 2;

    template <class Row>
    __attribute__((flatten)) static typename Row::Result Run(const typename Row::Args& args) {
        return Row::template Lanes<Neon>(args);
    }

    // ---- integer lanes ----
    // Byte loads and stores: rows and working buffers need not be aligned to their lanes.
    static inline Ints LoadInts(const void* from) {
        return vreinterpretq_u32_u8(vld1q_u8(static_cast<const uint8_t*>(from)));
    }
    static inline void StoreInts(void* to, Ints v) { vst1q_u8(static_cast<uint8_t*>(to), vreinterpretq_u8_u32(v)); }
    static inline Ints SplatInts(int32_t value) { return vdupq_n_u32(static_cast<uint32_t>(value)); }
    // kInts bytes, each zero-extended to a 32-bit lane.
    static inline Ints WidenBytes(const uint8_t* bytes) {
        uint32_t word;
        memcpy(&word, bytes, sizeof word);
        return vmovl_u16(vget_low_u16(vmovl_u8(vreinterpret_u8_u32(vdup_n_u32(word)))));
    }
    // See Sse2::WidenPixelPairs: one pixel of each row.
    static inline void WidenPixelPairs(const uint8_t* a, const uint8_t* b, Ints& first, Ints& second) {
        first = WidenBytes(a);
        second = WidenBytes(b);
    }
    // Byte A, B, C, D of every 32-bit lane, in that order; -1 gives 0 (a table index past the vector).
    template <int A, int B, int C, int D>
    static inline Ints ArrangeBytesInWords(Ints v) {
        const int from[4] = {A, B, C, D};
        uint8_t order[16];
        for (int i = 0; i < 16; ++i) order[i] = from[i % 4] < 0 ? 0xFF : static_cast<uint8_t>(from[i % 4] + i / 4 * 4);
        return vreinterpretq_u32_u8(vqtbl1q_u8(vreinterpretq_u8_u32(v), vld1q_u8(order)));
    }
    static inline Ints And(Ints a, Ints b) { return vandq_u32(a, b); }
    static inline Ints Or(Ints a, Ints b) { return vorrq_u32(a, b); }
    // Shifts by a count known only at run time: a negative left shift shifts right.
    static inline Ints ShiftRight(Ints v, int bits) { return vshlq_u32(v, vdupq_n_s32(-bits)); }
    static inline Ints ShiftLeft(Ints v, int bits) { return vshlq_u32(v, vdupq_n_s32(bits)); }
    // Signed saturation to 16 bits, then unsigned to 8: the two packs of SSE2.
    static inline Ints NarrowToBytes(Ints a, Ints b, Ints c, Ints d) {
        const int16x8_t ab = vcombine_s16(vqmovn_s32(vreinterpretq_s32_u32(a)), vqmovn_s32(vreinterpretq_s32_u32(b)));
        const int16x8_t cd = vcombine_s16(vqmovn_s32(vreinterpretq_s32_u32(c)), vqmovn_s32(vreinterpretq_s32_u32(d)));
        return vreinterpretq_u32_u8(vcombine_u8(vqmovun_s16(ab), vqmovun_s16(cd)));
    }
    template <int Words>
    static inline void StoreEvenOddWords(Ints v, uint32_t* even, uint32_t* odd) {
        static_assert(Words == 4, "a whole vector");
        vst1_u32(even, vget_low_u32(vuzp1q_u32(v, v)));
        vst1_u32(odd, vget_low_u32(vuzp2q_u32(v, v)));
    }

    // ---- 16-bit and 32-bit integer lanes ----
    static inline Ints WidenBytes16(const uint8_t* bytes) { return vreinterpretq_u32_u16(vmovl_u8(vld1_u8(bytes))); }
    // 16-bit lanes read as signed, as SSE2's pack reads them.
    static inline Ints NarrowWordsToBytes(Ints v) {
        const uint8x8_t bytes = vqmovun_s16(vreinterpretq_s16_u32(v));
        return vreinterpretq_u32_u8(vcombine_u8(bytes, bytes));
    }
    template <int Count>
    static inline void StoreFirstBytes(uint8_t* to, Ints v) {
        static_assert(Count == 8 || Count == 4, "half or quarter of a vector");
        if constexpr (Count == 8) {
            vst1_u8(to, vget_low_u8(vreinterpretq_u8_u32(v)));
        } else {
            const uint32_t word = vgetq_lane_u32(v, 0);
            memcpy(to, &word, sizeof word);
        }
    }
    static inline Ints Splat16(uint16_t value) { return vreinterpretq_u32_u16(vdupq_n_u16(value)); }
    static inline Ints Add16(Ints a, Ints b) { return U32(vaddq_u16(U16(a), U16(b))); }
    static inline Ints Sub16(Ints a, Ints b) { return U32(vsubq_u16(U16(a), U16(b))); }
    static inline Ints MulLow16(Ints a, Ints b) { return U32(vmulq_u16(U16(a), U16(b))); }
    // The high halves of the 32-bit products are their odd 16-bit lanes.
    static inline Ints MulHighUnsigned16(Ints a, Ints b) {
        const uint32x4_t low = vmull_u16(vget_low_u16(U16(a)), vget_low_u16(U16(b)));
        const uint32x4_t high = vmull_high_u16(U16(a), U16(b));
        return U32(vuzp2q_u16(U16(low), U16(high)));
    }
    static inline Ints ShiftRight16(Ints v, int bits) {
        return U32(vshlq_u16(U16(v), vdupq_n_s16(static_cast<int16_t>(-bits))));
    }
    static inline Ints Add32(Ints a, Ints b) { return vaddq_u32(a, b); }
    static inline Ints Sub32(Ints a, Ints b) { return vsubq_u32(a, b); }
    static inline Ints Greater32(Ints a, Ints b) { return vcgtq_s32(vreinterpretq_s32_u32(a), vreinterpretq_s32_u32(b)); }
    // ~a & b.
    static inline Ints AndNot(Ints a, Ints b) { return vbicq_u32(b, a); }
    static inline Ints MulLow32(Ints a, Ints b) { return vmulq_u32(a, b); }
    static inline Ints ClampToByte32(Ints v) {
        return vreinterpretq_u32_s32(vminq_s32(vmaxq_s32(vreinterpretq_s32_u32(v), vdupq_n_s32(0)), vdupq_n_s32(255)));
    }
    // The 16-bit lanes A, B, C, D of every pixel (four 16-bit lanes), in that order.
    template <int A, int B, int C, int D>
    static inline Ints ShuffleWordsInPixels(Ints v) {
        const int from[4] = {A, B, C, D};
        uint8_t order[16];
        for (int i = 0; i < 16; ++i) order[i] = static_cast<uint8_t>(i / 8 * 8 + from[i / 2 % 4] * 2 + i % 2);
        return vreinterpretq_u32_u8(vqtbl1q_u8(vreinterpretq_u8_u32(v), vld1q_u8(order)));
    }
    static inline Ints GatherPixels64(const uint64_t* base, const int32_t* index, int32_t offset) {
        return vreinterpretq_u32_u64(vcombine_u64(vcreate_u64(base[index[0] + offset]), vcreate_u64(base[index[1] + offset])));
    }

    // ---- pixels of four lanes of LaneBits (16: 64-bit pixels, 32: 128-bit pixels) ----
    template <int LaneBits>
    static inline Ints PrefixSumPixels(Ints v) {
        if constexpr (LaneBits == 16) {
            const uint8x16_t up = vextq_u8(vdupq_n_u8(0), vreinterpretq_u8_u32(v), 8);
            return U32(vaddq_u16(U16(v), vreinterpretq_u16_u8(up)));
        }
        return v;
    }
    template <int LaneBits>
    static inline Ints LastPixelEverywhere(Ints v) {
        if constexpr (LaneBits == 16) return vreinterpretq_u32_u64(vdupq_laneq_u64(vreinterpretq_u64_u32(v), 1));
        return v;
    }
    template <int LaneBits>
    static inline Ints BroadcastPixel(const void* pixel) {
        if constexpr (LaneBits == 16) {
            uint64_t word;
            memcpy(&word, pixel, sizeof word);
            return vreinterpretq_u32_u64(vdupq_n_u64(word));
        }
        return LoadInts(pixel);
    }

    // ---- floats ----
    // Rounded to nearest, as the default rounding of both architectures.
    static inline Floats IntsToFloats(Ints v) { return vcvtq_f32_s32(vreinterpretq_s32_u32(v)); }
    static inline Floats SplatFloats(float value) { return vdupq_n_f32(value); }
    static inline Floats MulFloats(Floats a, Floats b) { return vmulq_f32(a, b); }
    static inline Floats LoadFloats(const float* from) { return vld1q_f32(from); }
    static inline void StoreFloats(float* to, Floats v) { vst1q_f32(to, v); }
    static inline Floats AddFloats(Floats a, Floats b) { return vaddq_f32(a, b); }
    static inline Floats MinFloats(Floats a, Floats b) { return vbslq_f32(vcltq_f32(a, b), a, b); }
    static inline Floats MaxFloats(Floats a, Floats b) { return vbslq_f32(vcgtq_f32(a, b), a, b); }
    // Toward zero; beyond the 32-bit range the nearest end and NaN 0 (x86: the integer minimum for both).
    static inline Ints TruncateFloats(Floats v) { return vreinterpretq_u32_s32(vcvtq_s32_f32(v)); }
    static inline Floats LoadQuads(const float* const (&at)[kInts / 4]) { return vld1q_f32(at[0]); }
    static inline Doubles WidenLow(Floats v) { return vcvt_f64_f32(vget_low_f32(v)); }
    static inline Doubles WidenHigh(Floats v) { return vcvt_high_f64_f32(v); }

    // ---- doubles ----
    static inline Doubles LoadIntsAsDoubles(const int32_t* from) { return vcvtq_f64_s64(vmovl_s32(vld1_s32(from))); }
    static inline Doubles LowIntsToDoubles(Ints v) {
        return vcvtq_f64_s64(vmovl_s32(vget_low_s32(vreinterpretq_s32_u32(v))));
    }
    static inline Doubles HighIntsToDoubles(Ints v) { return vcvtq_f64_s64(vmovl_high_s32(vreinterpretq_s32_u32(v))); }
    static inline Doubles Splat(double value) { return vdupq_n_f64(value); }
    static inline Doubles Add(Doubles a, Doubles b) { return vaddq_f64(a, b); }
    static inline Doubles Sub(Doubles a, Doubles b) { return vsubq_f64(a, b); }
    static inline Doubles Mul(Doubles a, Doubles b) { return vmulq_f64(a, b); }
    static inline Doubles Div(Doubles a, Doubles b) { return vdivq_f64(a, b); }
    // b wherever a or b is NaN, as on x86.
    static inline Doubles Max(Doubles a, Doubles b) { return vbslq_f64(vcgtq_f64(a, b), a, b); }
    static inline Doubles Min(Doubles a, Doubles b) { return vbslq_f64(vcltq_f64(a, b), a, b); }
    static inline Doubles Floor(Doubles v) { return vrndmq_f64(v); }
    static inline bool AnyGreater(Doubles a, Doubles b) {
        return vmaxvq_u32(vreinterpretq_u32_u64(vcgtq_f64(a, b))) != 0;
    }
    // Toward zero, saturating beyond the 32-bit range (see TruncateFloats).
    static inline Ints Truncate(Doubles low, Doubles high) {
        return vreinterpretq_u32_s32(vcombine_s32(vqmovn_s64(vcvtq_s64_f64(low)), vqmovn_s64(vcvtq_s64_f64(high))));
    }

private:
    static inline uint16x8_t U16(Ints v) { return vreinterpretq_u16_u32(v); }
    static inline Ints U32(uint16x8_t v) { return vreinterpretq_u32_u16(v); }
};
