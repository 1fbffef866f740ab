// ScalingZPX: separable two-pass filtered resampling. The horizontal pass
// turns every source row into `width` pixels of an intermediate buffer of
// packed 8-bit channels; the vertical pass turns every column of that buffer
// into `height` pixels of the result. The arithmetic of a pixel is in
// ResamplerPixels.h; each pass runs one row function per row (two source rows
// per call in the horizontal pass), chosen once per call: the plain row, or
// the lane row of the active pixel path (ResamplerLanes.h).
#include "resample/Resampler.h"

#include "lanes/PixelPath.h"
#include "picture/CBuffer.h"
#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/HostRefs.h"
#include "plugin/Yield.h"
#include "resample/Contributions.h"
#include "resample/ResamplerLanes.h"
#include "resample/ResamplerPixels.h"

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

}  // namespace

void ResampleRows(PictureReader& reader, const ContributionList* lists, uint32_t* buffer, int32_t width) {
    const PixelPath path = ActivePixelPath();
    ResampleLaneTables tables;
    ResampleRowHFunction row = nullptr;
    if (path != PixelPath::Plain && reader.bytesPerPixel == 4 && tables.Build(lists, width, reader.width)) {
        row = ResampleRowHLanes(path, reader.pixelFormat);
    }
    if (row == nullptr) {
        row = WithLayout(reader.pixelFormat,
                         [](auto layout) -> ResampleRowHFunction { return ResampleRowH_Plain<decltype(layout)>; });
    }
    // Two rows a call; a last odd row is given twice, and both write the same words.
    for (int32_t k = 0; k < reader.height; k += 2) {
        const int32_t second = k + 1 < reader.height ? k + 1 : k;
        const int32_t next = k + 2 < reader.height ? k + 2 : -1;
        const int32_t nextSecond = k + 3 < reader.height ? k + 3 : next;
        ResampleRowHArgs args{
            {reader.RowAddress(k), reader.RowAddress(second)},
            {next < 0 ? nullptr : reader.RowAddress(next), next < 0 ? nullptr : reader.RowAddress(nextSecond)},
            {buffer + static_cast<ptrdiff_t>(k) * width, buffer + static_cast<ptrdiff_t>(second) * width},
            second - k + 1,
            width,
            reader.bytesPerPixel,
            lists,
            &tables};
        row(args);
    }
}

void ResampleColumns(PictureWriter& writer, const ContributionList* lists, const uint32_t* buffer, int32_t width,
                     YieldData& yieldRecord) {
    ResampleRowVFunction row =
        writer.bytesPerPixel == 4 ? ResampleRowVLanes(ActivePixelPath(), writer.pixelFormat) : nullptr;
    if (row == nullptr) {
        row = WithLayout(writer.pixelFormat,
                         [](auto layout) -> ResampleRowVFunction { return ResampleRowV_Plain<decltype(layout)>; });
    }
    for (int32_t r = 0; r < writer.height; ++r) {
        writer.cursorX = 0;
        writer.cursorY = r;
        row(ResampleRowVArgs{&lists[r], r + 1 < writer.height ? &lists[r + 1] : nullptr, buffer, width,
                             writer.RowAddress(r)});
        yieldRecord.YieldPoint();
    }
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
