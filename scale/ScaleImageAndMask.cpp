// ScaleImageAndMaskZPX: scales a picture as ScaleZPX does and its mask with
// the same scaler and size, then draws the scaled mask into the result's own
// mask, so that transparency survives. A picture with an alpha channel is
// first drawn into a plain picture of its size that takes the host's mask
// view of that alpha channel; the pair is then scaled like any masked
// picture, so the result is plain with a mask.
//
// Every picture and mask the call obtains lives in an owner, so that an
// exception from host code (a yield, DrawPicture, CopyMask, the mask setter)
// leaves none of them behind.
#include "picture/PictureCopy.h"
#include "plugin/HostCallbacks.h"
#include "plugin/HostRefs.h"
#include "plugin/Yield.h"
#include "scale/Scalers.h"

namespace {

constexpr int32_t kPlainDepth = 32;

bool HasAlphaChannel(REALpicture picture) {
    uint8_t value = 0;
    return REALGetPropValueUInt8(ObjectOf(picture), "HasAlphaChannel", &value) && value != 0;
}

// The mask scaled with the image's scaler, or with the box scaler when the
// smooth one cannot run: an image scaled without its mask would silently lose
// its transparency.
HostPictureRef ScaleMask(REALpicture mask, int32_t width, int32_t height, bool smooth) {
    HostPictureRef scaled(smooth ? ScalePictureNiceBigger(mask, width, height) : nullptr);
    if (!scaled) scaled.reset(ScalePictureFast(mask, width, height));
    return scaled;
}

// Draws picture's mask, scaled, into the mask of result, which the host makes
// on request. Owners drop the result mask, the scaled mask, then the mask.
void CarryMask(REALpicture picture, REALpicture result, int32_t width, int32_t height, bool smooth) {
    HostPictureRef mask(REALGetPictureMask(picture, false));
    if (!mask) return;
    HostPictureRef scaledMask = ScaleMask(mask.get(), width, height, smooth);
    if (!scaledMask) return;
    HostPictureRef resultMask(REALGetPictureMask(result, true));
    if (!resultMask) return;
    GraphicsDrawPicture(resultMask.get(), scaledMask.get(), 0, 0, width, height, 0, 0, width, height);
}

// Gives copy the receiver's transparency as the host hands it out, when the
// host offers both methods.
void AttachCopiedMask(REALpicture receiver, REALpicture copy) {
    auto copyMask =
        reinterpret_cast<REALCopyMaskFn>(REALLoadObjectMethod(ObjectOf(receiver), REAL_COPYMASK_DECLARATION));
    if (copyMask == nullptr) return;
    HostPictureRef mask(copyMask(ObjectOf(receiver)));
    if (!mask) return;
    auto setMask = reinterpret_cast<REALSetMaskFn>(REALLoadObjectMethod(ObjectOf(copy), REAL_SETMASK_DECLARATION));
    if (setMask != nullptr) setMask(ObjectOf(copy), mask.get());
}

// A plain picture of the receiver's size holding its pixels, as the host draws
// them, and its transparency as a mask.
HostPictureRef PlainCopyWithMask(REALpicture receiver, PictureSize current) {
    HostPictureRef copy(REALNewPicture(current.width, current.height, kPlainDepth));
    if (!copy) return copy;
    GraphicsDrawPicture(copy.get(), receiver, 0, 0, current.width, current.height, 0, 0, current.width, current.height);
    AttachCopiedMask(receiver, copy.get());
    return copy;
}

}  // namespace

REALpicture ScaleImageAndMaskInternal(REALpicture picture, int32_t width, int32_t height, bool AntiAlias,
                                      int32_t currentWidth, int32_t currentHeight) {
    bool smooth = WantsSmoothScaling(AntiAlias, {currentWidth, currentHeight}, width, height);
    HostPictureRef result(smooth ? ScalePictureNiceBigger(picture, width, height) : nullptr);
    if (!result) {
        smooth = false;
        result.reset(ScalePictureFast(picture, width, height));
        if (!result) return nullptr;
    }
    CarryMask(picture, result.get(), width, height, smooth);
    return result.release();
}

REALpicture ScalePictureImageAndMask(REALpicture picture, int32_t width, int32_t height, REALboolean AntiAlias,
                                     int32_t YieldTicks) {
    if (picture == nullptr) return nullptr;
    const bool antiAlias = AntiAlias != 0;
    yield.Start(YieldTicks);
    const PictureSize current = CurrentSize(picture);
    if (current.width == width && current.height == height) {
        REALLockObject(picture);
        return picture;
    }
    if (!HasAlphaChannel(picture)) {
        return ScaleImageAndMaskInternal(picture, width, height, antiAlias, current.width, current.height);
    }
    HostPictureRef copy = PlainCopyWithMask(picture, current);
    if (!copy) return nullptr;
    return ScaleImageAndMaskInternal(copy.get(), width, height, antiAlias, current.width, current.height);
}
