// The vector twin of the box scaler in ScaleFast.cpp, for boxes of at most
// 257 pixels. It gives the plain scaler's bytes because every step is exact:
//
// - Sums: a channel sum of such a box is at most 255 * 257 = 65535, so 16-bit
//   lanes hold it. For each destination row the box's source rows are summed
//   per column, and a running (prefix) sum along the row turns the sum over
//   boxW columns into one subtraction; lanes wrap at 16 bits, and the
//   difference of two wrapped running sums is the true box sum because that
//   sum fits 16 bits.
// - Means: trunc((0.5 + S) / A) in double equals floor(S / A). The exact
//   quotient (2S + 1) / (2A) is never an integer and lies at least 1 / (2A)
//   from one, while rounding the double quotient moves it by at most
//   256 * 2^-53; so truncation gives floor(S / A). That floor is computed as
//   (S * M) >> 24 with M = ceil(2^24 / A), which is exact whenever
//   255 * A * (M * A - 2^24) < 2^24; MeanMultiplier checks this per call
//   (it holds for every area up to 257), and the unit tests prove the whole
//   chain against the double formula for every sum of every such area.
//
// Per call the scaler takes two small tables: the box's first source column
// for every destination column, and one row of running sums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/CBuffer.h"
#include "plugin/PixelPath.h"
#include "plugin/Yield.h"

// The box of the scaler: the ratios it was derived from and its size.
struct BoxShape {
    double xRatio;
    double yRatio;
    int32_t width;
    int32_t height;
};

namespace box_vector {

constexpr int64_t kLargestArea = 257;
constexpr int kMeanShift = 24;
// Destination columns are handled in groups of up to 16; the column table is
// padded to a whole group so that no group needs a bound check.
constexpr int32_t kLargestGroup = 16;

// The multiplier M of floor(S / area) = (S * M) >> 24 over 0 <= S <= 255 * area,
// or 0 when that is not exact for this area.
inline uint32_t MeanMultiplier(int64_t area) {
    if (area < 1 || area > kLargestArea) return 0;
    const uint64_t scale = uint64_t{1} << kMeanShift;
    const uint64_t multiplier = (scale + static_cast<uint64_t>(area) - 1) / static_cast<uint64_t>(area);
    const uint64_t excess = multiplier * static_cast<uint64_t>(area) - scale;
    return 255u * static_cast<uint64_t>(area) * excess < scale ? static_cast<uint32_t>(multiplier) : 0;
}

inline uint32_t MeanByMultiplier(uint32_t sum, uint32_t multiplier) { return (sum * multiplier) >> kMeanShift; }

#define BOX_INLINE __attribute__((always_inline)) inline

// K pixels at a time: K source words, their four bytes widened to 16-bit sums
// (one 64-bit element per pixel), and 32-bit lanes for the division.
template <int K>
struct Vectors {
    typedef uint8_t Bytes __attribute__((vector_size(4 * K)));
    typedef uint16_t Sums __attribute__((vector_size(8 * K)));
    typedef uint64_t Pixels __attribute__((vector_size(8 * K)));
    typedef uint32_t Wide __attribute__((vector_size(16 * K)));
};

constexpr int ShiftedIndex(int element, int by, int count) { return element >= by ? element - by : count; }

// v += v shifted up by `By` pixels, lane by lane with 16-bit wrap.
template <int K, int By, std::size_t... I>
BOX_INLINE void AddShifted(typename Vectors<K>::Pixels& v, std::index_sequence<I...>) {
    using V = Vectors<K>;
    const typename V::Pixels zero = {};
    const typename V::Pixels shifted = __builtin_shufflevector(v, zero, ShiftedIndex(static_cast<int>(I), By, K)...);
    v = reinterpret_cast<typename V::Pixels>(reinterpret_cast<typename V::Sums>(v) +
                                             reinterpret_cast<typename V::Sums>(shifted));
}

template <int K, std::size_t... I>
BOX_INLINE void BroadcastLast(typename Vectors<K>::Pixels& out, const typename Vectors<K>::Pixels& v,
                              std::index_sequence<I...>) {
    out = __builtin_shufflevector(v, v, (static_cast<int>(I) * 0 + K - 1)...);
}

// Inclusive running sum over the K pixels of v.
template <int K>
BOX_INLINE void RunningSum(typename Vectors<K>::Pixels& v) {
    AddShifted<K, 1>(v, std::make_index_sequence<K>{});
    if constexpr (K > 2) AddShifted<K, 2>(v, std::make_index_sequence<K>{});
    if constexpr (K > 4) AddShifted<K, 4>(v, std::make_index_sequence<K>{});
    if constexpr (K > 8) AddShifted<K, 8>(v, std::make_index_sequence<K>{});
}

// prefix[j + 1] = prefix[j] + the sums over `rows` of the four bytes of pixel
// j, per byte, wrapping at 16 bits; prefix[0] stays 0.
template <int K>
BOX_INLINE void SumColumns(const uint8_t* const* rows, int32_t boxHeight, int32_t sourceWidth, uint64_t* prefix) {
    using V = Vectors<K>;
    typename V::Pixels carry = {};
    int32_t j = 0;
    for (; j + K <= sourceWidth; j += K) {
        typename V::Sums sums = {};
        for (int32_t r = 0; r < boxHeight; ++r) {
            typename V::Bytes bytes;
            memcpy(&bytes, rows[r] + static_cast<ptrdiff_t>(j) * 4, sizeof bytes);
            sums += __builtin_convertvector(bytes, typename V::Sums);
        }
        typename V::Pixels running = reinterpret_cast<typename V::Pixels>(sums);
        RunningSum<K>(running);
        running = reinterpret_cast<typename V::Pixels>(reinterpret_cast<typename V::Sums>(running) +
                                                       reinterpret_cast<typename V::Sums>(carry));
        memcpy(prefix + 1 + j, &running, sizeof running);
        BroadcastLast<K>(carry, running, std::make_index_sequence<K>{});
    }
    uint16_t lanes[4];
    memcpy(lanes, prefix + j, sizeof lanes);
    for (; j < sourceWidth; ++j) {
        for (int b = 0; b < 4; ++b) {
            uint32_t sum = 0;
            for (int32_t r = 0; r < boxHeight; ++r) sum += rows[r][static_cast<ptrdiff_t>(j) * 4 + b];
            lanes[b] = static_cast<uint16_t>(lanes[b] + sum);
        }
        memcpy(prefix + 1 + j, lanes, sizeof lanes);
    }
}

// Byte i of a group of destination words: the source byte that holds its
// channel, or `none` for the fourth byte.
template <class Source, class Destination>
constexpr int SourceByteFor(int i, int none) {
    const int pixel = i / 4 * 4;
    const int shift = i % 4 * 8;
    if (shift == Destination::redShift) return pixel + Source::redShift / 8;
    if (shift == Destination::greenShift) return pixel + Source::greenShift / 8;
    if (shift == Destination::blueShift) return pixel + Source::blueShift / 8;
    return none;
}

template <class Destination>
constexpr uint8_t FourthByteFor(int i) {
    return static_cast<uint8_t>(Destination::fourthWritten >> (i % 4 * 8));
}

// Means laid out in the source's byte order, rearranged into destination words.
template <int K, class Source, class Destination, std::size_t... I>
BOX_INLINE void Arrange(typename Vectors<K>::Bytes& means, std::index_sequence<I...>) {
    using V = Vectors<K>;
    const typename V::Bytes zero = {};
    const typename V::Bytes fourth = {FourthByteFor<Destination>(static_cast<int>(I))...};
    means = __builtin_shufflevector(means, zero, SourceByteFor<Source, Destination>(static_cast<int>(I), 4 * K)...) |
            fourth;
}

template <int K, std::size_t... I>
BOX_INLINE void GatherPixels(typename Vectors<K>::Pixels& out, const uint64_t* prefix, const int32_t* columns,
                             int32_t offset, std::index_sequence<I...>) {
    out = typename Vectors<K>::Pixels{prefix[columns[I] + offset]...};
}

// One destination row: each pixel's box sum from two running sums, its
// means, its word.
template <int K, class Source, class Destination>
BOX_INLINE void AverageRow(const uint64_t* prefix, const int32_t* columnStart, int32_t width, int32_t boxWidth,
                           uint32_t multiplier, uint8_t* out) {
    using V = Vectors<K>;
    for (int32_t x = 0; x < width; x += K) {
        typename V::Pixels last, first;
        GatherPixels<K>(last, prefix, columnStart + x, boxWidth, std::make_index_sequence<K>{});
        GatherPixels<K>(first, prefix, columnStart + x, 0, std::make_index_sequence<K>{});
        const typename V::Sums sums =
            reinterpret_cast<typename V::Sums>(last) - reinterpret_cast<typename V::Sums>(first);
        const typename V::Wide means = (__builtin_convertvector(sums, typename V::Wide) * multiplier) >> kMeanShift;
        typename V::Bytes words = __builtin_convertvector(means, typename V::Bytes);
        Arrange<K, Source, Destination>(words, std::make_index_sequence<4 * K>{});
        const int32_t count = width - x < K ? width - x : K;
        memcpy(out + static_cast<ptrdiff_t>(x) * 4, &words, static_cast<size_t>(count) * 4);
    }
}

struct Tables {
    CBuffer<int32_t> columnStart;
    CBuffer<uint64_t> prefix;
    uint32_t multiplier = 0;
};

template <int K, class Source, class Destination>
BOX_INLINE void ScaleRows(PictureReader& reader, PictureWriter& writer, const BoxShape& box, const Tables& tables) {
    const uint8_t* rows[kLargestArea];
    int32_t summedRow = -1;
    for (int32_t y = 0; y < writer.height; ++y) {
        const int32_t sy = static_cast<int32_t>(static_cast<double>(y) * box.yRatio);
        // The running sums of the previous row serve again only when no yield
        // point since then could have run host code that draws into the source.
        if (sy != summedRow || yield.interval != 0) {
            for (int32_t r = 0; r < box.height; ++r) rows[r] = reader.RowAddress(sy + r);
            SumColumns<K>(rows, box.height, reader.width, tables.prefix.get());
            summedRow = sy;
        }
        AverageRow<K, Source, Destination>(tables.prefix.get(), tables.columnStart.get(), writer.width, box.width,
                                           tables.multiplier, writer.currentRow);
        writer.NextRow();
        yield.YieldPoint();
    }
}

#undef BOX_INLINE

template <class Source, class Destination>
void ScaleRowsBaseline(PictureReader& reader, PictureWriter& writer, const BoxShape& box, const Tables& tables) {
    ScaleRows<2, Source, Destination>(reader, writer, box, tables);
}

#if defined(__x86_64__) || defined(__i386__)
template <class Source, class Destination>
__attribute__((target("avx2"))) void ScaleRowsAvx2(PictureReader& reader, PictureWriter& writer, const BoxShape& box,
                                                   const Tables& tables) {
    ScaleRows<4, Source, Destination>(reader, writer, box, tables);
}

template <class Source, class Destination>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void ScaleRowsAvx512(PictureReader& reader,
                                                                          PictureWriter& writer, const BoxShape& box,
                                                                          const Tables& tables) {
    ScaleRows<8, Source, Destination>(reader, writer, box, tables);
}
#endif

// The tables for this call, or false when the vector scaler does not apply:
// a box of more than 257 pixels, a box that would leave the source, or a
// table that cannot be allocated.
inline bool PrepareTables(const PictureReader& reader, int32_t width, int32_t height, const BoxShape& box,
                          Tables& tables) {
    const int64_t area = static_cast<int64_t>(box.width) * box.height;
    tables.multiplier = MeanMultiplier(area);
    if (tables.multiplier == 0 || box.width < 1 || box.height < 1) return false;
    const int32_t lastRow = static_cast<int32_t>(static_cast<double>(height - 1) * box.yRatio);
    if (static_cast<int64_t>(lastRow) + box.height > reader.height) return false;
    const int64_t padded = (static_cast<int64_t>(width) + kLargestGroup - 1) / kLargestGroup * kLargestGroup;
    tables.columnStart = AllocateZeroed<int32_t>(padded);
    tables.prefix = AllocateZeroed<uint64_t>(static_cast<int64_t>(reader.width) + 1);
    if (!tables.columnStart || !tables.prefix) return false;
    int32_t* start = tables.columnStart.get();
    for (int32_t x = 0; x < width; ++x) {
        start[x] = static_cast<int32_t>(box.xRatio * static_cast<double>(x));
        if (start[x] < 0 || static_cast<int64_t>(start[x]) + box.width > reader.width) return false;
    }
    for (int64_t x = width; x < padded; ++x) start[x] = start[width - 1];
    return true;
}

}  // namespace box_vector

// Runs the vector box scaler on the active pixel path; false (nothing
// written) when the plain scaler has to do the work.
template <class Source, class Destination>
bool ScaleBoxRowsVector(PictureReader& reader, PictureWriter& writer, const BoxShape& box) {
    using namespace box_vector;
    if (!Source::valid || !Destination::valid || ActivePixelPath() == PixelPath::Plain) return false;
    if (reader.bytesPerPixel != 4 || writer.bytesPerPixel != 4) return false;
    Tables tables;
    if (!PrepareTables(reader, writer.width, writer.height, box, tables)) return false;
#if defined(__x86_64__) || defined(__i386__)
    if (ActivePixelPath() == PixelPath::Avx512) {
        ScaleRowsAvx512<Source, Destination>(reader, writer, box, tables);
        return true;
    }
    if (ActivePixelPath() == PixelPath::Avx2) {
        ScaleRowsAvx2<Source, Destination>(reader, writer, box, tables);
        return true;
    }
#endif
    ScaleRowsBaseline<Source, Destination>(reader, writer, box, tables);
    return true;
}
