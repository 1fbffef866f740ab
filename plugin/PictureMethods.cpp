// The methods this library adds to the host's Picture class, in the order the
// host lists them. Flags hold bit 18 until REALPluginMain converts them for
// the host at hand.
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
}  // namespace

REALmethodDefinition pictureMethods[] = {
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
const uint32_t pictureMethodCount = sizeof pictureMethods / sizeof pictureMethods[0];

REALclassDefinition pictureClass = [] {
    REALclassDefinition definition{};
    definition.version = 13;
    definition.name = "Picture";
    definition.methods = pictureMethods;
    definition.methodCount = pictureMethodCount;
    definition.mFlags = REALdefaultMethodFlags;
    return definition;
}();
