// DrawPictureFZPX's interior runs on lanes (see DrawLanes.h): one 32-bit lane
// per pixel, one channel at a time, written once over the lane sets.
#include "effects/DrawLanes.h"

#include "lanes/Lanes.h"

namespace {

constexpr int32_t kBytesPerPixel = 4;

template <class Set>
struct RunConstants {
    typename Set::Doubles weight[4];
    typename Set::Doubles remaining;
    int32_t sourceShift[3];
    int32_t destinationShift[3];
    typename Set::Ints fourth;
    typename Set::Ints byte;

    ZPX_LANES_INLINE explicit RunConstants(const InteriorWeights& w) {
        for (int k = 0; k < 4; ++k) weight[k] = Set::Splat(w.weight[k]);
        remaining = Set::Splat(w.remaining);
        const int32_t from[3] = {w.source.red, w.source.green, w.source.blue};
        const int32_t to[3] = {w.destination.red, w.destination.green, w.destination.blue};
        for (int c = 0; c < 3; ++c) {
            sourceShift[c] = from[c];
            destinationShift[c] = to[c];
        }
        fourth = Set::SplatInts(static_cast<int32_t>(w.fourthWritten));
        byte = Set::SplatInts(0xFF);
    }
};

// trunc(channel * weight) per lane: the truncated product, never rounded.
template <class Set>
ZPX_LANES_INLINE typename Set::Ints Share(typename Set::Ints words, int32_t shift, const RunConstants<Set>& k,
                                          typename Set::Doubles weight) {
    const typename Set::Ints channel = Set::And(Set::ShiftRight(words, shift), k.byte);
    return Set::Truncate(Set::Mul(Set::LowIntsToDoubles(channel), weight),
                         Set::Mul(Set::HighIntsToDoubles(channel), weight));
}

// One channel of the pixels: the neighbours in table order, then the
// destination, each product truncated before it is added; clamped.
template <class Set, bool withDestination>
ZPX_LANES_INLINE typename Set::Ints ChannelOf(const typename Set::Ints (&neighbours)[5], const RunConstants<Set>& k,
                                              int c) {
    typename Set::Ints sum = Share<Set>(neighbours[0], k.sourceShift[c], k, k.weight[0]);
#pragma GCC unroll 4
    for (int n = 1; n < 4; ++n) sum = Set::Add32(sum, Share<Set>(neighbours[n], k.sourceShift[c], k, k.weight[n]));
    if (withDestination) sum = Set::Add32(sum, Share<Set>(neighbours[4], k.destinationShift[c], k, k.remaining));
    return Set::ShiftLeft(Set::ClampToByte32(sum), k.destinationShift[c]);
}

template <class Set, bool withDestination>
ZPX_LANES_INLINE int32_t DrawRun(const InteriorRun& run, const InteriorWeights& weights) {
    const RunConstants<Set> k(weights);
    int32_t done = 0;
    for (; done + Set::kInts <= run.count; done += Set::kInts) {
        const int32_t at = done * kBytesPerPixel;
        // Upper left, upper right, lower right, lower left, and the old pixel.
        const typename Set::Ints neighbours[5] = {
            Set::LoadInts(run.upper + at), Set::LoadInts(run.upper + at + kBytesPerPixel),
            Set::LoadInts(run.lower + at + kBytesPerPixel), Set::LoadInts(run.lower + at),
            withDestination ? Set::LoadInts(run.out + at) : k.fourth};
        typename Set::Ints pixels = k.fourth;
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) pixels = Set::Or(pixels, ChannelOf<Set, withDestination>(neighbours, k, c));
        Set::StoreInts(run.out + at, pixels);
    }
    return done;
}

struct DrawRowInterior : RowSignature<InteriorRunArgs, int32_t> {
    template <class Set>
    static ZPX_LANES_INLINE int32_t Lanes(const InteriorRunArgs& args) {
        return args.weights->withDestination ? DrawRun<Set, true>(*args.run, *args.weights)
                                             : DrawRun<Set, false>(*args.run, *args.weights);
    }
};

}  // namespace

InteriorRunFunction DrawInteriorLanes(PixelPath path) { return RowFor<DrawRowInterior>(path); }
