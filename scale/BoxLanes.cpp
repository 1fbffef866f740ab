// The box scaler's row on lanes (see BoxLanes.h), written once over the lane
// sets: a vector holds kBytes / 8 pixels as four 16-bit lanes each.
#include "scale/BoxLanes.h"

#include <algorithm>
#include <cstring>

#include "lanes/Divisors.h"
#include "lanes/Lanes.h"
#include "picture/PixelFormat.h"

namespace {

// The widest set's pixels per vector; the column table is padded by as many.
constexpr int32_t kWidestVector = 8;
constexpr int32_t kCacheLine = 64;

// prefix[j + 1] = prefix[j] + the sums over `rows` of the four bytes of pixel
// j, per byte, wrapping at 16 bits; prefix[0] stays 0.
template <class Set>
ZPX_LANES_INLINE void SumColumns(const uint8_t* const* rows, int32_t boxHeight, int32_t sourceWidth, uint64_t* prefix) {
    constexpr int32_t kPixels = Set::kBytes / 8;
    typename Set::Ints carry = Set::Splat16(0);
    int32_t j = 0;
    for (; j + kPixels <= sourceWidth; j += kPixels) {
        typename Set::Ints sums = Set::Splat16(0);
        for (int32_t r = 0; r < boxHeight; ++r)
            sums = Set::Add16(sums, Set::WidenBytes16(rows[r] + static_cast<ptrdiff_t>(j) * 4));
        const typename Set::Ints running = Set::Add16(Set::template PrefixSumPixels<16>(sums), carry);
        Set::StoreInts(prefix + 1 + j, running);
        carry = Set::template LastPixelEverywhere<16>(running);
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

// The source rows of the next destination row, asked for a share at a time
// while this row's means are computed: the column sums then find them in
// the cache instead of waiting for memory, and the means do not leave the
// memory idle.
struct RowsAhead {
    const uint8_t* rows[kLargestLaneBox];
    int32_t count = 0;
    int64_t rowBytes = 0;
    int64_t shareBytes = 0;
    int64_t fetched = 0;

    ZPX_LANES_INLINE void FetchShare() {
        const int64_t end = std::min(fetched + shareBytes, rowBytes);
        for (; fetched < end; fetched += kCacheLine) {
            for (int32_t r = 0; r < count; ++r) __builtin_prefetch(rows[r] + fetched, 0, 3);
        }
    }
};

// Byte p of a destination pixel: the source lane of its channel; the fourth
// takes any lane and is replaced.
template <class Source, class Destination>
constexpr int SourceLaneFor(int p) {
    const int shift = p * 8;
    if (shift == Destination::redShift) return Source::redShift / 8;
    if (shift == Destination::greenShift) return Source::greenShift / 8;
    if (shift == Destination::blueShift) return Source::blueShift / 8;
    return 0;
}

template <class Source, class Destination>
struct BoxRow : RowSignature<BoxRowArgs> {
    template <class Set>
    static ZPX_LANES_INLINE void Lanes(const BoxRowArgs& row) {
        using Ints = typename Set::Ints;
        constexpr int32_t kPixels = Set::kBytes / 8;
        BoxLaneTables& tables = *static_cast<BoxLaneTables*>(row.laneTables);
        const PictureReader& reader = *row.reader;
        const PictureWriter& writer = *row.writer;
        const Box& box = *row.box;
        const uint8_t* rows[kLargestLaneBox];
        const int32_t sy = SourceRowOf(row.y, box);
        // The running sums of the previous row serve again only when no yield
        // point since then could have run host code that draws into the source.
        if (sy != tables.summedRow || !row.sourceUnchanged) {
            for (int32_t r = 0; r < box.height; ++r) rows[r] = reader.RowAddress(sy + r);
            SumColumns<Set>(rows, box.height, reader.width, tables.prefix.get());
            tables.summedRow = sy;
        }
        RowsAhead ahead;
        const int32_t nextSy = row.y + 1 < writer.height ? SourceRowOf(row.y + 1, box) : sy;
        if (nextSy != sy) {
            for (int32_t r = 0; r < box.height; ++r) ahead.rows[r] = reader.RowAddress(nextSy + r);
            ahead.count = box.height;
        }
        ahead.rowBytes = static_cast<int64_t>(reader.width) * 4;
        const int32_t shares = (writer.width + kPixels - 1) / kPixels;
        ahead.shareBytes = (ahead.rowBytes + shares - 1) / shares;

        const Divisor16 divisor = Divisor16For(std::max(box.width * box.height, 2));
        const Ints multiplier = Set::Splat16(divisor.multiplier);
        const bool single = box.width * box.height == 1;
        const uint16_t keepLanes[4] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
        uint16_t maskLanes[4], fourthLanes[4];
        for (int p = 0; p < 4; ++p) {
            const bool fourth = p * 8 == Destination::fourthShift;
            maskLanes[p] = fourth ? 0 : keepLanes[p];
            fourthLanes[p] = fourth ? static_cast<uint16_t>(Destination::fourthWritten >> Destination::fourthShift) : 0;
        }
        const Ints keep = Set::template BroadcastPixel<16>(maskLanes);
        const Ints fourth = Set::template BroadcastPixel<16>(fourthLanes);
        const uint64_t* prefix = tables.prefix.get();
        const int32_t* columnStart = tables.columnStart.get();
        uint8_t* out = writer.currentRow;
        for (int32_t x = 0; x < writer.width; x += kPixels) {
            const Ints last = Set::GatherPixels64(prefix, columnStart + x, box.width);
            const Ints first = Set::GatherPixels64(prefix, columnStart + x, 0);
            const Ints sums = Set::Sub16(last, first);
            const Ints means = single ? sums : Divide16Lanes<Set>(sums, multiplier, divisor.shift);
            const Ints arranged = Set::template ShuffleWordsInPixels<
                SourceLaneFor<Source, Destination>(0), SourceLaneFor<Source, Destination>(1),
                SourceLaneFor<Source, Destination>(2), SourceLaneFor<Source, Destination>(3)>(means);
            const Ints bytes = Set::NarrowWordsToBytes(Set::Or(Set::And(arranged, keep), fourth));
            uint8_t* at = out + static_cast<ptrdiff_t>(x) * 4;
            if (x + kPixels <= writer.width) {
                Set::template StoreFirstBytes<Set::kBytes / 2>(at, bytes);
            } else {
                uint8_t pixels[Set::kBytes / 2];
                Set::template StoreFirstBytes<Set::kBytes / 2>(pixels, bytes);
                memcpy(at, pixels, static_cast<size_t>(writer.width - x) * 4);
            }
            ahead.FetchShare();
        }
    }
};

}  // namespace

uint32_t BoxMeanOnLanes(uint32_t sum, int64_t area) {
    return area == 1 ? sum : Divide16(sum, Divisor16For(static_cast<int32_t>(area)));
}

BoxRowFunction BoxLaneRow(PixelPath path, const PictureReader& reader, const PictureWriter& writer, const Box& box,
                          BoxLaneTables& tables) {
    if (reader.bytesPerPixel != 4 || writer.bytesPerPixel != 4) return nullptr;
    const int64_t area = static_cast<int64_t>(box.width) * box.height;
    if (box.width < 1 || box.height < 1 || area > kLargestLaneBox) return nullptr;
    const int32_t lastRow = SourceRowOf(writer.height - 1, box);
    if (static_cast<int64_t>(lastRow) + box.height > reader.height) return nullptr;
    const BoxRowFunction row =
        WithLayouts(reader.pixelFormat, writer.pixelFormat, [&](auto from, auto to) -> BoxRowFunction {
            using Source = decltype(from);
            using Destination = decltype(to);
            if constexpr (!Source::valid || !Destination::valid) {
                return nullptr;
            } else {
                return RowFor<BoxRow<Source, Destination>>(path);
            }
        });
    if (row == nullptr) return nullptr;
    const int64_t padded = static_cast<int64_t>(writer.width) + kWidestVector;
    tables.columnStart = AllocateZeroed<int32_t>(padded);
    tables.prefix = AllocateZeroed<uint64_t>(static_cast<int64_t>(reader.width) + 1);
    if (!tables.columnStart || !tables.prefix) return nullptr;
    int32_t* start = tables.columnStart.get();
    for (int32_t x = 0; x < writer.width; ++x) {
        start[x] = SourceColumnOf(x, box);
        if (start[x] < 0 || static_cast<int64_t>(start[x]) + box.width > reader.width) return nullptr;
    }
    // Past the last column the start of the last box again, so that the
    // padding reads only running sums that exist.
    for (int64_t x = writer.width; x < padded; ++x) start[x] = start[writer.width - 1];
    return row;
}
