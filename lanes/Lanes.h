// The lane layer: one set of lane operations per instruction set, and the
// choice of a set once per call from the active pixel path.
//
// A set is a struct of static operations on its own vector types (Ints:
// 32-bit integer lanes, also read as 16-bit or 8-bit lanes where an operation
// says so; Floats; Doubles), each compiled for the set's instruction set by
// function attribute only, so the module runs on any processor of its
// architecture. The sets: Sse2 (every x86 build), Avx2, Avx512, and Neon (every
// arm64 build); another architecture adds its own file and its case in RowFor.
//
// A fast path is a row function written once, as a template over a set:
// `Row::Lanes<Set>(const Row::Args&)`. Set::Run<Row> instantiates it for the
// set, compiled for the set's instruction set with everything inlined, and
// RowFor gives that instance for a path. Every lane operation does exactly
// what the plain arithmetic does to each lane (no fused multiply-add, no
// reordered sums), so a row function gives the plain row's bytes on every set.
//
// Names: `<Op>Row<Pass>` is a row (ResampleRowH, BlurRowV); its plain form is
// `<Op>Row<Pass>_Plain`, its lane form `<Op>Row<Pass>::Lanes<Set>`, and the
// instance a path runs `<Set>::Run<<Op>Row<Pass>>`.
#pragma once

#include <cstdint>

#include "lanes/Divisors.h"
#include "lanes/PixelPath.h"

// Generic lane code is inlined into the set's instance, where the set's
// operations are inlined in turn.
#define ZPX_LANES_INLINE inline __attribute__((always_inline))

// Vector types cross no call boundary: each set's instance is flattened into
// one function compiled for that set. GCC still notes the ABI of the wider
// types on the generic templates it inlines there.
#pragma GCC diagnostic ignored "-Wpsabi"

// What a row type declares: its arguments and the function it is called through.
template <class ArgsType, class ResultType = void>
struct RowSignature {
    using Args = ArgsType;
    using Result = ResultType;
    using Function = Result (*)(const Args&);
};

#if defined(__x86_64__) || defined(__i386__)
// GCC 12's AVX-512 intrinsics start many results from a deliberately undefined
// vector, which -Wmaybe-uninitialized reports inside the header.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop
#include "lanes/Avx2.h"
#include "lanes/Avx512.h"
#include "lanes/Sse2.h"
#elif defined(__aarch64__)
#include "lanes/Neon.h"
#endif

// The lane instance of Row for path; null on the plain path and where the
// architecture has no lane set (the caller runs the plain row then).
template <class Row>
typename Row::Function RowFor(PixelPath path) {
    switch (path) {
#if defined(__x86_64__) || defined(__i386__)
        case PixelPath::Baseline:
            return &Sse2::Run<Row>;
        case PixelPath::Avx2:
            return &Avx2::Run<Row>;
        case PixelPath::Avx512:
            return &Avx512::Run<Row>;
#elif defined(__aarch64__)
        case PixelPath::Baseline:
            return &Neon::Run<Row>;
#endif
        default:
            return nullptr;
    }
}

// The lane instance where there is one, else the plain row.
template <class Row>
typename Row::Function RowOrPlain(PixelPath path, typename Row::Function plain) {
    const typename Row::Function lanes = RowFor<Row>(path);
    return lanes != nullptr ? lanes : plain;
}

// Divide16 on the 16-bit lanes of a set, the multiplier spread over them.
template <class Set>
ZPX_LANES_INLINE typename Set::Ints Divide16Lanes(typename Set::Ints n, typename Set::Ints multiplier, int shift) {
    const typename Set::Ints t = Set::MulHighUnsigned16(n, multiplier);
    return Set::ShiftRight16(Set::Add16(t, Set::ShiftRight16(Set::Sub16(n, t), 1)), shift);
}
