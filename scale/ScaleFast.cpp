// ScaleZPX and the box-averaging scaler. ScaleZPX enlarges smoothly when asked
// to anti-alias a picture that grows both ways, and box-scales otherwise, also
// when the smooth scaler cannot run. Each destination pixel is the mean of
// a ceil(xRatio) x ceil(yRatio) box whose corner is the truncated source
// position; when enlarging the box is one pixel and this is nearest-neighbour.
//
// The mean is (0.5 + sum) / area in double, truncated. Channel values are
// small integers, so summing them as integers and adding the 0.5 afterwards
// gives exactly the double running sum that starts at 0.5.
//
// ScaleBoxRows is the plain form of the loop; on the vector pixel paths
// BoxVector.h computes the same bytes for boxes of up to 257 pixels.
#include <cmath>

#include "picture/PictureEditor.h"
#include "picture/PixelFormat.h"
#include "plugin/HostCallbacks.h"
#include "plugin/HostRefs.h"
#include "plugin/Yield.h"
#include "scale/BoxVector.h"
#include "scale/Scalers.h"

namespace {

struct Box : BoxShape {
    double area;
};

Box BoxFor(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height) {
    Box box;
    box.xRatio = static_cast<double>(sourceWidth) / static_cast<double>(width);
    box.yRatio = static_cast<double>(sourceHeight) / static_cast<double>(height);
    box.width = static_cast<int32_t>(std::ceil(box.xRatio));
    box.height = static_cast<int32_t>(std::ceil(box.yRatio));
    box.area = static_cast<double>(static_cast<int64_t>(box.width) * box.height);
    return box;
}

inline uint32_t MeanChannel(uint64_t sum, double area) {
    return static_cast<uint32_t>((0.5 + static_cast<double>(sum)) / area);
}

template <class Source, class Destination>
void ScaleBoxRows(const PictureReader& reader, PictureWriter& writer, const Box& box) {
    for (int32_t y = 0; y < writer.height; ++y) {
        const int32_t sy = static_cast<int32_t>(static_cast<double>(y) * box.yRatio);
        uint8_t* out = writer.currentRow;
        for (int32_t x = 0; x < writer.width; ++x) {
            const int32_t sx = static_cast<int32_t>(box.xRatio * static_cast<double>(x));
            uint64_t red = 0, green = 0, blue = 0;
            for (int32_t row = sy; row < sy + box.height; ++row) {
                const uint8_t* pixel = reader.RowAddress(row) + static_cast<ptrdiff_t>(sx) * reader.bytesPerPixel;
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
        writer.NextRow();
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
                const Box box = BoxFor(reader.width, reader.height, width, height);
                WithLayouts(reader.pixelFormat, writer.pixelFormat, [&](auto from, auto to) {
                    using Source = decltype(from);
                    using Destination = decltype(to);
                    if (!ScaleBoxRowsVector<Source, Destination>(reader, writer, box)) {
                        ScaleBoxRows<Source, Destination>(reader, writer, box);
                    }
                });
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
