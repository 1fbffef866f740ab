// The methods this library adds to the host's Picture class, in the order the
// host lists them, written with bit 18 in their flags. REALPluginMain converts
// the flags in the registered records themselves, so each load first resets
// those records to the rows as written: converting converted flags again would
// give the answer for another host.
#include <algorithm>
#include <iterator>

#include "effects/Blur.h"
#include "effects/DrawPictureF.h"
#include "plugin/PluginMain.h"
#include "resample/Resampler.h"
#include "scale/Scalers.h"

namespace {
template <typename Function>
void* Entry(Function function) {
    return reinterpret_cast<void*>(function);
}

const REALmethodDefinition kRowsAsWritten[] = {
    {Entry(DrawPictureF), nullptr,
     "DrawPictureFZPX(pic as picture, x as double, y as double, alpha as double = 1.0, yield as integer = 0) as "
     "boolean",
     REALdefaultMethodFlags, 0, 0},
    {Entry(ScalePicture), nullptr,
     "ScaleZPX(width as integer, height as integer, AntiAlias as boolean=false, YieldTicks as integer=0) as picture",
     REALdefaultMethodFlags, 0, 0},
    {Entry(ScalePictureImageAndMask), nullptr,
     "ScaleImageAndMaskZPX(width as integer, height as integer, AntiAlias as boolean=false, YieldTicks as "
     "integer=0) as picture",
     REALdefaultMethodFlags, 0, 0},
    {Entry(PictureScalingZPX), nullptr,
     "ScalingZPX(mode as integer, width as integer, height as integer, yield as integer = 0) as picture",
     REALdefaultMethodFlags, 0, 0},
    {Entry(BlurZPX), nullptr, "BlurZPX(Radius as double, yield as integer = 0) as picture", REALdefaultMethodFlags,
     0, 0},
};
}  // namespace

const uint32_t pictureMethodCount = std::size(kRowsAsWritten);
REALmethodDefinition pictureMethods[std::size(kRowsAsWritten)];
REALclassDefinition pictureClass{};

void ResetPictureClass() {
    std::copy(std::begin(kRowsAsWritten), std::end(kRowsAsWritten), pictureMethods);
    pictureClass = REALclassDefinition{};
    pictureClass.version = 13;
    pictureClass.name = "Picture";
    pictureClass.methods = pictureMethods;
    pictureClass.methodCount = pictureMethodCount;
    pictureClass.mFlags = REALdefaultMethodFlags;
}
