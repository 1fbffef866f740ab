// ScalingZPX: separable two-pass filtered resampling. The horizontal pass
// turns every source row into `width` pixels of an intermediate buffer of
// packed 8-bit channels; the vertical pass turns every column of that buffer
// into `height` pixels of the result.
//
// Precision is part of the result: weights are floats; the horizontal pass
// forms each product in double (channel * widened weight), the vertical pass
// in float (float channel * weight) widened to double; both accumulate in
// double in the stored tap order, divide by the list's weightSum, add 0.5 and
// truncate, clamped to 0..255.
#include "resample/Resampler.h"

#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/CBuffer.h"
#include "plugin/HostRefs.h"
#include "plugin/PixelPath.h"
#include "plugin/Yield.h"
#include "resample/Contributions.h"
#include "resample/ResampleVector.h"
#include "resample/ResampleWide.h"

namespace {

// The array of lists of the running call: entries are freed with it on every
// path, also when a yield hands an exception back.
class ContributionTable {
public:
    bool Allocate(int32_t length) {
        Clear();
        lists_ = AllocateZeroed<ContributionList>(length);
        length_ = lists_ ? length : 0;
        return static_cast<bool>(lists_);
    }
    void FreeEntries() { FreeContributions(lists_.get(), length_); }
    void Clear() {
        FreeEntries();
        lists_.reset();
        length_ = 0;
    }
    ~ContributionTable() { FreeEntries(); }
    ContributionList* get() const { return lists_.get(); }
    int32_t length() const { return length_; }

private:
    CBuffer<ContributionList> lists_;
    int32_t length_ = 0;
};

template <class Source>
void ResampleRowsPlain(PictureReader& reader, const ContributionList* lists, uint32_t* buffer, int32_t width) {
    for (int32_t k = 0; k < reader.height; ++k) {
        const uint8_t* row = reader.currentRow;
        uint32_t* out = buffer + static_cast<ptrdiff_t>(k) * width;
        for (int32_t i = 0; i < width; ++i) {
            const ContributionList& list = lists[i];
            double red = 0.0, green = 0.0, blue = 0.0;
            for (int32_t t = 0; t < list.count; ++t) {
                const Contribution& tap = list.entries[t];
                if (tap.weight == 0.0f) continue;
                const uint32_t word = LoadPixel(row + static_cast<ptrdiff_t>(tap.pixel) * reader.bytesPerPixel);
                const double weight = static_cast<double>(tap.weight);
                red += static_cast<double>(RedOf<Source>(word)) * weight;
                green += static_cast<double>(GreenOf<Source>(word)) * weight;
                blue += static_cast<double>(BlueOf<Source>(word)) * weight;
            }
            out[i] = list.count == 0 ? 0
                                     : PackIntermediate(NormalisedChannel(red, list.weightSum),
                                                        NormalisedChannel(green, list.weightSum),
                                                        NormalisedChannel(blue, list.weightSum));
        }
        reader.NextRow();
    }
}

template <class Destination>
void ResampleColumnsPlain(PictureWriter& writer, const ContributionList* lists, const uint32_t* buffer, int32_t width,
                       YieldData& yieldRecord) {
    for (int32_t r = 0; r < writer.height; ++r) {
        const ContributionList& list = lists[r];
        writer.cursorX = 0;
        writer.cursorY = r;
        uint8_t* out = writer.RowAddress(r);
        for (int32_t i = 0; i < width && Destination::valid; ++i) {
            double red = 0.0, green = 0.0, blue = 0.0;
            for (int32_t t = 0; t < list.count; ++t) {
                const Contribution& tap = list.entries[t];
                if (tap.weight == 0.0f) continue;
                const uint32_t word = buffer[static_cast<ptrdiff_t>(tap.pixel) * width + i];
                red += static_cast<double>(static_cast<float>((word >> 16) & 0xFFu) * tap.weight);
                green += static_cast<double>(static_cast<float>((word >> 8) & 0xFFu) * tap.weight);
                blue += static_cast<double>(static_cast<float>(word & 0xFFu) * tap.weight);
            }
            const uint32_t pixel =
                list.count == 0 ? Encode<Destination>(0, 0, 0)
                                : Encode<Destination>(NormalisedChannel(red, list.weightSum),
                                                      NormalisedChannel(green, list.weightSum),
                                                      NormalisedChannel(blue, list.weightSum));
            StorePixel(out + static_cast<ptrdiff_t>(i) * writer.bytesPerPixel, pixel);
        }
        yieldRecord.YieldPoint();
    }
}

}  // namespace

void ResampleRows(PictureReader& reader, const ContributionList* lists, uint32_t* buffer, int32_t width) {
    const PixelPath path = ActivePixelPath();
    if (ResampleRowsWide(path, reader, lists, buffer, width)) return;
    WithLayout(reader.pixelFormat, [&](auto layout) {
        using Layout = decltype(layout);
        if (path == PixelPath::Plain || !ResampleRowsVector<Layout>(reader, lists, buffer, width)) {
            ResampleRowsPlain<Layout>(reader, lists, buffer, width);
        }
    });
}

void ResampleColumns(PictureWriter& writer, const ContributionList* lists, const uint32_t* buffer, int32_t width,
                     YieldData& yieldRecord) {
    const PixelPath path = ActivePixelPath();
    if (ResampleColumnsWide(path, writer, lists, buffer, width, yieldRecord)) return;
    WithLayout(writer.pixelFormat, [&](auto layout) {
        using Layout = decltype(layout);
        if (path == PixelPath::Plain) {
            ResampleColumnsPlain<Layout>(writer, lists, buffer, width, yieldRecord);
        } else {
            ResampleColumnsVector<Layout>(writer, lists, buffer, width, yieldRecord);
        }
    });
}

REALpicture PictureScalingZPX(REALpicture picture, int32_t mode, int32_t width, int32_t height, int32_t yieldArg) {
    const FilterKernel* kernel = FindFilterKernel(mode);
    if (picture == nullptr || height <= 0 || width <= 0 || kernel == nullptr) return nullptr;
    YieldData yieldRecord;
    yieldRecord.Start(yieldArg);

    PictureReader reader;
    if (!reader.GetPictureEditor(picture, true, false)) return nullptr;
    CBuffer<uint32_t> buffer = AllocateZeroed<uint32_t>(static_cast<int64_t>(width) * reader.height);
    ContributionTable lists;
    if (!buffer || !lists.Allocate(width)) {
        reader.ReleasePicture();
        return nullptr;
    }
    yieldRecord.YieldPoint();
    BuildContributions(*kernel, reader.width, width, lists.get());
    yieldRecord.YieldPoint();
    ResampleRows(reader, lists.get(), buffer.get(), width);
    lists.FreeEntries();
    yieldRecord.YieldPoint();
    if (height > width && !lists.Allocate(height)) {
        reader.ReleasePicture();
        return nullptr;
    }
    BuildContributions(*kernel, reader.height, height, lists.get());
    yieldRecord.YieldPoint();

    HostPictureRef result;
    {
        PictureWriter writer;
        if (writer.NewPictureWriter(reader, width, height)) {
            ResampleColumns(writer, lists.get(), buffer.get(), width, yieldRecord);
            yieldRecord.YieldPoint();
            result.reset(writer.RenderPictureWriter());
            yieldRecord.YieldPoint();
        }
        lists.Clear();
        buffer.reset();
        reader.ReleasePicture();
    }
    yieldRecord.YieldPoint();
    return result.release();
}
