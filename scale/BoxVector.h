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

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/CBuffer.h"
#include "plugin/PixelPath.h"
#include "plugin/VectorTargets.h"
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
// padded past a whole group so that no group needs a bound check.
constexpr int32_t kLargestGroup = 16;
constexpr int32_t kCacheLine = 64;

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

// sums += the K pixels at `bytes`, each byte widened to 16 bits.
template <int K>
inline void AddWidened(typename Vectors<K>::Sums& sums, const uint8_t* bytes) {
    typename Vectors<K>::Bytes loaded;
    memcpy(&loaded, bytes, sizeof loaded);
    sums += __builtin_convertvector(loaded, typename Vectors<K>::Sums);
}

// The wider sets' specialisations here and below spell out what GCC builds
// from 128-bit pieces or lane by lane; their row functions are flattened, so
// these end up inside them.
#if defined(__x86_64__) || defined(__i386__)
template <>
ZPX_TARGET_AVX2 inline void AddWidened<4>(typename Vectors<4>::Sums& sums, const uint8_t* bytes) {
    sums += reinterpret_cast<typename Vectors<4>::Sums>(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes))));
}

template <>
ZPX_TARGET_AVX512 inline void AddWidened<8>(typename Vectors<8>::Sums& sums, const uint8_t* bytes) {
    sums += reinterpret_cast<typename Vectors<8>::Sums>(
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes))));
}
#endif

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
            AddWidened<K>(sums, rows[r] + static_cast<ptrdiff_t>(j) * 4);
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

template <int K, std::size_t... I>
BOX_INLINE void ShiftInFirst(typename Vectors<K>::Pixels& out, const typename Vectors<K>::Pixels& v,
                             const typename Vectors<K>::Pixels& next, std::index_sequence<I...>) {
    out = __builtin_shufflevector(v, next, (static_cast<int>(I) + 1)...);
}

// bytes = the low byte of each of `means`, all below 256.
template <int K>
inline void Narrow(typename Vectors<K>::Bytes& bytes, const typename Vectors<K>::Wide& means) {
    bytes = __builtin_convertvector(means, typename Vectors<K>::Bytes);
}

#if defined(__x86_64__) || defined(__i386__)
template <>
ZPX_TARGET_AVX2 inline void Narrow<4>(typename Vectors<4>::Bytes& bytes, const typename Vectors<4>::Wide& means) {
    __m256i halves[2];
    memcpy(halves, &means, sizeof halves);
    // The packs work within 128-bit lanes: the words come out as means 0-3,
    // 8-11, 0-3, 8-11 | 4-7, 12-15, 4-7, 12-15.
    const __m256i words = _mm256_packus_epi16(_mm256_packus_epi32(halves[0], halves[1]), _mm256_setzero_si256());
    const __m256i ordered = _mm256_permutevar8x32_epi32(words, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    bytes = reinterpret_cast<typename Vectors<4>::Bytes>(_mm256_castsi256_si128(ordered));
}

template <>
ZPX_TARGET_AVX512 inline void Narrow<8>(typename Vectors<8>::Bytes& bytes, const typename Vectors<8>::Wide& means) {
    __m512i halves[2];
    memcpy(halves, &means, sizeof halves);
    const __m128i low = _mm512_maskz_cvtepi32_epi8(0xFFFF, halves[0]);
    const __m128i high = _mm512_maskz_cvtepi32_epi8(0xFFFF, halves[1]);
    bytes = reinterpret_cast<typename Vectors<8>::Bytes>(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1));
}
#endif

// The words of `count` destination pixels from the running sums at the ends of their boxes.
template <int K, class Source, class Destination>
BOX_INLINE void StoreMeans(const typename Vectors<K>::Pixels& first, const typename Vectors<K>::Pixels& last,
                           uint32_t multiplier, uint8_t* out, int32_t count) {
    using V = Vectors<K>;
    const typename V::Sums sums = reinterpret_cast<typename V::Sums>(last) - reinterpret_cast<typename V::Sums>(first);
    const typename V::Wide means = (__builtin_convertvector(sums, typename V::Wide) * multiplier) >> kMeanShift;
    typename V::Bytes words;
    Narrow<K>(words, means);
    Arrange<K, Source, Destination>(words, std::make_index_sequence<4 * K>{});
    if (count == K) {
        memcpy(out, &words, sizeof words);
    } else {
        memcpy(out, &words, static_cast<size_t>(count) * 4);
    }
}

inline int32_t SourceRowOf(int32_t y, const BoxShape& box) {
    return static_cast<int32_t>(static_cast<double>(y) * box.yRatio);
}

// The source rows of the next destination row, asked for a share at a time
// while this row's means are computed: the column sums then find them in
// the cache instead of waiting for memory, and the means do not leave the
// memory idle.
struct RowsAhead {
    const uint8_t* rows[kLargestArea];
    int32_t count = 0;
    int64_t rowBytes = 0;
    int64_t shareBytes = 0;
    int64_t fetched = 0;

    void Start(const uint8_t* const* next, int32_t nextCount, int64_t bytes, int32_t shares) {
        std::copy(next, next + nextCount, rows);
        count = nextCount;
        rowBytes = bytes;
        shareBytes = (bytes + shares - 1) / shares;
        fetched = 0;
    }

    BOX_INLINE void FetchShare() {
        const int64_t end = std::min(fetched + shareBytes, rowBytes);
        for (; fetched < end; fetched += kCacheLine) {
            for (int32_t r = 0; r < count; ++r) __builtin_prefetch(rows[r] + fetched, 0, 3);
        }
    }
};

struct Tables {
    // The first source column of each destination column's box, then at
    // least one group more (see PrepareTables).
    CBuffer<int32_t> columnStart;
    CBuffer<uint64_t> prefix;
    uint32_t multiplier = 0;
    // Each box starts where the one before ends, as in a reduction by a
    // whole factor: the end of a box is the start of the next.
    bool tiled = false;
};

// One destination row: each pixel's box sum from two running sums, its
// means, its word.
template <int K, class Source, class Destination>
BOX_INLINE void AverageRow(const Tables& tables, int32_t width, int32_t boxWidth, uint8_t* out, RowsAhead& ahead) {
    using V = Vectors<K>;
    const uint64_t* prefix = tables.prefix.get();
    const int32_t* columnStart = tables.columnStart.get();
    for (int32_t x = 0; x < width; x += K) {
        typename V::Pixels first, last;
        GatherPixels<K>(last, prefix, columnStart + x, boxWidth, std::make_index_sequence<K>{});
        GatherPixels<K>(first, prefix, columnStart + x, 0, std::make_index_sequence<K>{});
        StoreMeans<K, Source, Destination>(first, last, tables.multiplier, out + static_cast<ptrdiff_t>(x) * 4,
                                           std::min(width - x, K));
        ahead.FetchShare();
    }
}

// The same for tiled boxes, reading each running sum once: the end of a
// group's last box is the start of the next group's first.
template <int K, class Source, class Destination>
BOX_INLINE void AverageTiledRow(const Tables& tables, int32_t width, uint8_t* out, RowsAhead& ahead) {
    using V = Vectors<K>;
    const uint64_t* prefix = tables.prefix.get();
    const int32_t* columnStart = tables.columnStart.get();
    typename V::Pixels first;
    GatherPixels<K>(first, prefix, columnStart, 0, std::make_index_sequence<K>{});
    for (int32_t x = 0; x < width; x += K) {
        typename V::Pixels next, last;
        GatherPixels<K>(next, prefix, columnStart + x + K, 0, std::make_index_sequence<K>{});
        ShiftInFirst<K>(last, first, next, std::make_index_sequence<K>{});
        StoreMeans<K, Source, Destination>(first, last, tables.multiplier, out + static_cast<ptrdiff_t>(x) * 4,
                                           std::min(width - x, K));
        ahead.FetchShare();
        first = next;
    }
}

template <int K, class Source, class Destination>
BOX_INLINE void ScaleRows(PictureReader& reader, PictureWriter& writer, const BoxShape& box, const Tables& tables) {
    const uint8_t* rows[kLargestArea];
    int32_t summedRow = -1;
    RowsAhead ahead;
    const int32_t shares = (writer.width + K - 1) / K;
    for (int32_t y = 0; y < writer.height; ++y) {
        const int32_t sy = SourceRowOf(y, box);
        // The running sums of the previous row serve again only when no yield
        // point since then could have run host code that draws into the source.
        if (sy != summedRow || yield.interval != 0) {
            for (int32_t r = 0; r < box.height; ++r) rows[r] = reader.RowAddress(sy + r);
            SumColumns<K>(rows, box.height, reader.width, tables.prefix.get());
            summedRow = sy;
        }
        const int32_t nextSy = y + 1 < writer.height ? SourceRowOf(y + 1, box) : sy;
        for (int32_t r = 0; r < box.height && nextSy != sy; ++r) rows[r] = reader.RowAddress(nextSy + r);
        ahead.Start(rows, nextSy != sy ? box.height : 0, static_cast<int64_t>(reader.width) * 4, shares);
        if (tables.tiled) {
            AverageTiledRow<K, Source, Destination>(tables, writer.width, writer.currentRow, ahead);
        } else {
            AverageRow<K, Source, Destination>(tables, writer.width, box.width, writer.currentRow, ahead);
        }
        writer.NextRow();
        yield.YieldPoint();
    }
}

#undef BOX_INLINE

template <class Source, class Destination>
__attribute__((flatten)) void ScaleRowsBaseline(PictureReader& reader, PictureWriter& writer, const BoxShape& box,
                                                const Tables& tables) {
    ScaleRows<2, Source, Destination>(reader, writer, box, tables);
}

#if defined(__x86_64__) || defined(__i386__)
template <class Source, class Destination>
ZPX_TARGET_AVX2 __attribute__((flatten)) void ScaleRowsAvx2(PictureReader& reader, PictureWriter& writer,
                                                            const BoxShape& box, const Tables& tables) {
    ScaleRows<4, Source, Destination>(reader, writer, box, tables);
}

template <class Source, class Destination>
ZPX_TARGET_AVX512 __attribute__((flatten)) void ScaleRowsAvx512(PictureReader& reader, PictureWriter& writer,
                                                                const BoxShape& box, const Tables& tables) {
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
    const int64_t padded =
        (static_cast<int64_t>(width) + kLargestGroup - 1) / kLargestGroup * kLargestGroup + kLargestGroup;
    tables.columnStart = AllocateZeroed<int32_t>(padded);
    tables.prefix = AllocateZeroed<uint64_t>(static_cast<int64_t>(reader.width) + 1);
    if (!tables.columnStart || !tables.prefix) return false;
    int32_t* start = tables.columnStart.get();
    for (int32_t x = 0; x < width; ++x) {
        start[x] = static_cast<int32_t>(box.xRatio * static_cast<double>(x));
        if (start[x] < 0 || static_cast<int64_t>(start[x]) + box.width > reader.width) return false;
    }
    tables.tiled = true;
    for (int32_t x = 1; x < width; ++x) tables.tiled = tables.tiled && start[x] == start[x - 1] + box.width;
    // Past the last column: the end of the last box when each box ends at
    // the next one's start, else the start of the last box again, so that
    // the padding reads only running sums that exist.
    const int32_t padding = tables.tiled ? start[width - 1] + box.width : start[width - 1];
    for (int64_t x = width; x < padded; ++x) start[x] = padding;
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
