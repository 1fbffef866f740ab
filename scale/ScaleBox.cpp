// ScaleZPX and the box-averaging scaler. ScaleZPX enlarges smoothly when asked
// to anti-alias a picture that grows both ways, and box-scales otherwise, also
// when the smooth scaler cannot run. The arithmetic is in BoxPixels.h.
//
// Each destination row is one row function, chosen once per call: the plain
// row, or the lane row of the active pixel path (BoxLanes.h), which computes
// the same bytes for boxes of up to 257 pixels.
#include "lanes/PixelPath.h"
#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/HostCallbacks.h"
#include "plugin/HostRefs.h"
#include "plugin/Yield.h"
#include "scale/BoxLanes.h"
#include "scale/BoxPixels.h"
#include "scale/Scalers.h"

namespace {

template <class Source, class Destination>
void BoxRow_Plain(const BoxRowArgs& row) {
    const PictureReader& reader = *row.reader;
    PictureWriter& writer = *row.writer;
    const Box& box = *row.box;
    const int32_t sy = SourceRowOf(row.y, box);
    uint8_t* out = writer.currentRow;
    for (int32_t x = 0; x < writer.width; ++x) {
        const int32_t sx = SourceColumnOf(x, box);
        uint64_t red = 0, green = 0, blue = 0;
        for (int32_t line = sy; line < sy + box.height; ++line) {
            const uint8_t* pixel = reader.RowAddress(line) + static_cast<ptrdiff_t>(sx) * reader.bytesPerPixel;
            for (int32_t column = 0; column < box.width; ++column, pixel += reader.bytesPerPixel) {
                const uint32_t word = LoadPixel(pixel);
                red += RedOf<Source>(word);
                green += GreenOf<Source>(word);
                blue += BlueOf<Source>(word);
            }
        }
        if (Destination::valid) {
            StorePixel(out, Encode<Destination>(MeanChannel(red, box.area), MeanChannel(green, box.area),
                                                MeanChannel(blue, box.area)));
            out += writer.bytesPerPixel;
        }
    }
}

void ScaleBoxRows(PictureReader& reader, PictureWriter& writer, const Box& box) {
    BoxLaneTables tables;
    BoxRowFunction row = BoxLaneRow(ActivePixelPath(), reader, writer, box, tables);
    if (row == nullptr) {
        row = WithLayouts(reader.pixelFormat, writer.pixelFormat, [](auto from, auto to) -> BoxRowFunction {
            return BoxRow_Plain<decltype(from), decltype(to)>;
        });
    }
    bool handedOver = false;
    for (int32_t y = 0; y < writer.height; ++y) {
        row(BoxRowArgs{&reader, &writer, &box, y, !handedOver, &tables});
        writer.NextRow();
        // Only a yield point with the interval on can run host code.
        handedOver = yield.interval != 0;
        yield.YieldPoint();
    }
}

int32_t CurrentDimension(REALpicture picture, const char* name) {
    int32_t value = 0;
    if (!REALGetPropValueInt32(ObjectOf(picture), name, &value)) value = 0;
    return value;
}

}  // namespace

PictureSize CurrentSize(REALpicture picture) {
    if (picture == nullptr) return {0, 0};
    const int32_t width = CurrentDimension(picture, "Width");
    return {width, CurrentDimension(picture, "Height")};
}

REALpicture ScalePictureFast(REALpicture source, int32_t width, int32_t height) {
    HostPictureRef result;
    {
        PictureReader reader;
        if (reader.GetPictureEditor(source, true, false)) {
            PictureWriter writer;
            if (writer.NewPictureWriter(reader, width, height)) {
                ScaleBoxRows(reader, writer, BoxFor(reader.width, reader.height, width, height));
                result.reset(writer.RenderPictureWriter());
            }
            reader.ReleasePicture();
        }
    }
    yield.YieldPoint();
    return result.release();
}

REALpicture ScalePicture(REALpicture picture, int32_t width, int32_t height, REALboolean AntiAlias,
                         int32_t YieldTicks) {
    yield.Start(YieldTicks);
    const PictureSize current = CurrentSize(picture);
    if (current.width == width && current.height == height) {
        if (picture != nullptr) REALLockObject(picture);
        return picture;
    }
    if (WantsSmoothScaling(AntiAlias != 0, current, width, height)) {
        if (REALpicture smooth = ScalePictureNiceBigger(picture, width, height)) return smooth;
    }
    return ScalePictureFast(picture, width, height);
}
