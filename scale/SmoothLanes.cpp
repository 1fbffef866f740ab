// The smooth enlargement's row on lanes (see SmoothLanes.h).
//
// The column row holds, for destination row y, every byte of every source
// pixel as a float in memory order: columns[4x + c] = byte c of source pixel
// (x, k) * w2 + byte c of (x, k + 1) * w1. Destination byte c of pixel x is
// then (0.5 + columns[a + c] * w2) + columns[b + c] * w1, a and b being the
// first floats of the two clamped middle taps of x, with x's weights spread
// over the four lanes of its pixel; both laid out once per call.
#include "scale/SmoothLanes.h"

#include <cstring>

#include "lanes/Lanes.h"
#include "picture/CBuffer.h"

namespace {

constexpr int32_t kBytesPerPixel = 4;
// Floats past the column row that the last vector may touch.
constexpr int32_t kColumnSlack = 64;

// The two middle taps of a destination pixel: the first float of each source pixel in the column row.
struct Taps {
    int32_t nearer, further;
};

// Where the lane row's rows lie in the column buffer.
struct LaneMemory {
    float* columns;
    Taps* taps;
    float* nearerWeights;   // four copies of w2 per destination pixel
    float* furtherWeights;  // four copies of w1
};

int64_t ColumnFloats(int32_t sourceWidth) { return static_cast<int64_t>(sourceWidth) * kBytesPerPixel + kColumnSlack; }

LaneMemory MemoryOf(const SmoothJob& job) {
    float* columns = job.columns;
    Taps* taps = reinterpret_cast<Taps*>(columns + ColumnFloats(job.reader->width));
    float* nearer = reinterpret_cast<float*>(taps + job.writer->width);
    return LaneMemory{columns, taps, nearer, nearer + static_cast<ptrdiff_t>(job.writer->width) * kBytesPerPixel};
}

struct SmoothRow : RowSignature<SmoothRowArgs> {
    template <class Set>
    static ZPX_LANES_INLINE void Lanes(const SmoothRowArgs& row) {
        const SmoothJob& job = *row.job;
        const LaneMemory memory = MemoryOf(job);
        BlendColumns<Set>(job, row.y, memory.columns);
        BlendRows<Set>(job, row, memory);
    }

    template <class Set>
    static ZPX_LANES_INLINE void BlendColumns(const SmoothJob& job, int32_t y, float* columns) {
        const PictureReader& reader = *job.reader;
        const int32_t k = job.yIndex[y];
        const float* w = job.yWeights + static_cast<ptrdiff_t>(y) * kTapsPerEntry;
        const uint8_t* upper = reader.RowAddress(ClampIndex(k, reader.height));
        const uint8_t* lower = reader.RowAddress(ClampIndex(k + 1, reader.height));
        const int32_t count = reader.width * kBytesPerPixel;
        const typename Set::Floats nearer = Set::SplatFloats(w[2]), further = Set::SplatFloats(w[1]);
        int32_t i = 0;
        for (; i + Set::kInts <= count; i += Set::kInts) {
            const typename Set::Floats up = Set::MulFloats(Set::IntsToFloats(Set::WidenBytes(upper + i)), nearer);
            const typename Set::Floats down = Set::MulFloats(Set::IntsToFloats(Set::WidenBytes(lower + i)), further);
            Set::StoreFloats(columns + i, Set::AddFloats(up, down));
        }
        for (; i < count; ++i) columns[i] = BlendColumn(upper[i], lower[i], w[2], w[1]);
    }

    template <class Set>
    static ZPX_LANES_INLINE void BlendRows(const SmoothJob& job, const SmoothRowArgs& row, const LaneMemory& memory) {
        constexpr int32_t kPixels = Set::kInts / 4;
        const PictureWriter& writer = *job.writer;
        uint8_t* out = writer.RowAddress(row.y);
        const typename Set::Floats half = Set::SplatFloats(0.5f), zero = Set::SplatFloats(0.0f),
                                   top = Set::SplatFloats(255.0f);
        int32_t x = 0;
        for (; x + kPixels <= writer.width; x += kPixels) {
            const float* nearer[kPixels];
            const float* further[kPixels];
#pragma GCC unroll 16
            for (int32_t p = 0; p < kPixels; ++p) {
                nearer[p] = memory.columns + memory.taps[x + p].nearer;
                further[p] = memory.columns + memory.taps[x + p].further;
            }
            const ptrdiff_t at = static_cast<ptrdiff_t>(x) * kBytesPerPixel;
            const typename Set::Floats value = Set::AddFloats(
                Set::AddFloats(half,
                               Set::MulFloats(Set::LoadQuads(nearer), Set::LoadFloats(memory.nearerWeights + at))),
                Set::MulFloats(Set::LoadQuads(further), Set::LoadFloats(memory.furtherWeights + at)));
            // Clamping before the truncating conversion gives ClampToByte's value for every input.
            const typename Set::Ints bytes = Set::TruncateFloats(Set::MinFloats(Set::MaxFloats(value, zero), top));
            if (row.byte == kEveryByte) {
                Set::template StoreFirstBytes<Set::kBytes / 4>(out + at,
                                                               Set::NarrowToBytes(bytes, bytes, bytes, bytes));
            } else {
                uint8_t pixels[Set::kBytes / 4];
                Set::template StoreFirstBytes<Set::kBytes / 4>(pixels, Set::NarrowToBytes(bytes, bytes, bytes, bytes));
                for (int32_t p = 0; p < kPixels; ++p)
                    out[at + p * kBytesPerPixel + row.byte] = pixels[p * kBytesPerPixel + row.byte];
            }
        }
        for (; x < writer.width; ++x) {
            const Taps& taps = memory.taps[x];
            const float w2 = memory.nearerWeights[x * kBytesPerPixel], w1 = memory.furtherWeights[x * kBytesPerPixel];
            for (int32_t c = 0; c < kBytesPerPixel; ++c) {
                if (row.byte != kEveryByte && c != row.byte) continue;
                out[x * kBytesPerPixel + c] =
                    BlendRow(memory.columns[taps.nearer + c], memory.columns[taps.further + c], w2, w1);
            }
        }
    }
};

}  // namespace

int64_t SmoothLaneBytes(int32_t sourceWidth, int32_t width) {
    return static_cast<int64_t>(sizeof(float)) * ColumnFloats(sourceWidth) +
           static_cast<int64_t>(sizeof(Taps) + 2 * kBytesPerPixel * sizeof(float)) * width;
}

SmoothRowFunction SmoothLaneRow(PixelPath path, const PictureReader& reader, const PictureWriter& writer) {
    if (reader.bytesPerPixel != kBytesPerPixel || writer.bytesPerPixel != kBytesPerPixel) return nullptr;
    if (!WorkingBufferSizeAllowed(SmoothLaneBytes(reader.width, writer.width))) return nullptr;
    return RowFor<SmoothRow>(path);
}

void PrepareSmoothLaneRow(const SmoothJob& job) {
    const LaneMemory memory = MemoryOf(job);
    const int32_t sourceWidth = job.reader->width;
    for (int32_t x = 0; x < job.writer->width; ++x) {
        const int32_t k = job.xIndex[x];
        const float* w = job.xWeights + static_cast<ptrdiff_t>(x) * kTapsPerEntry;
        memory.taps[x] =
            Taps{kBytesPerPixel * ClampIndex(k, sourceWidth), kBytesPerPixel * ClampIndex(k + 1, sourceWidth)};
        for (int32_t c = 0; c < kBytesPerPixel; ++c) {
            memory.nearerWeights[x * kBytesPerPixel + c] = w[2];
            memory.furtherWeights[x * kBytesPerPixel + c] = w[1];
        }
    }
}
