#include "picture/PictureCopy.h"

#include <cstring>

#include "picture/PictureEditor.h"
#include "plugin/HostCallbacks.h"
#include "plugin/HostRefs.h"

namespace {

// The release order of OwnCopy: destination unlocked (when it was locked),
// source unlocked, destination's cache cleared. Runs on every path once the
// source is locked, also when an exception passes through.
class OwnCopyLocks {
public:
    OwnCopyLocks(REALpicture destination, REALpicture source) : destination_(destination), source_(source) {}
    ~OwnCopyLocks() {
        if (destinationLocked) REALUnlockPictureDescription(destination_);
        REALUnlockPictureDescription(source_);
        REALPictureClearCache(destination_);
    }
    OwnCopyLocks(const OwnCopyLocks&) = delete;
    OwnCopyLocks& operator=(const OwnCopyLocks&) = delete;
    bool destinationLocked = false;

private:
    REALpicture destination_;
    REALpicture source_;
};

bool SameSizedConsoleBuffers(const REALconsoleBuffer* destination, const REALconsoleBuffer* source) {
    return destination != nullptr && source != nullptr && destination->width == source->width &&
           destination->height == source->height && destination->firstWord == 0 && source->firstWord == 0 &&
           destination->rowTable != nullptr && source->rowTable != nullptr;
}

void CopyRows(const REALconsoleBuffer* destination, const REALconsoleBuffer* source) {
    if (source->width <= 0) return;
    const size_t rowBytes = static_cast<size_t>(source->width) * 4;
    for (int32_t y = 0; y < source->height; ++y) memcpy(destination->rowTable[y], source->rowTable[y], rowBytes);
}

}  // namespace

bool OwnCopy(REALpicture destination, REALpicture source, int32_t x, int32_t y, int32_t w, int32_t h, int32_t sx,
             int32_t sy, int32_t sw, int32_t sh) {
    if (destination == nullptr || source == nullptr) return false;
    if (sw != w || sh != h) return false;
    REALpictureDescription sourceDescription{};
    if (!LockDescription(source, &sourceDescription, REALdescriptionConsoleBuffer)) return false;
    OwnCopyLocks locks(destination, source);
    REALpictureDescription destinationDescription{};
    locks.destinationLocked = LockDescription(destination, &destinationDescription, REALdescriptionConsoleBuffer);
    if (!locks.destinationLocked) return false;
    auto* to = static_cast<const REALconsoleBuffer*>(destinationDescription.data);
    auto* from = static_cast<const REALconsoleBuffer*>(sourceDescription.data);
    if (!SameSizedConsoleBuffers(to, from)) return false;
    CopyRows(to, from);
    return true;
}

void GraphicsDrawPicture(REALpicture destination, REALpicture source, int32_t x, int32_t y, int32_t w, int32_t h,
                         int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
    HostObjectRef graphics(REALGetPictureGraphics(destination));
    if (graphics && source != nullptr) {
        auto drawPicture = reinterpret_cast<REALGraphicsDrawPictureFn>(
            REALLoadObjectMethod(graphics.get(), REAL_DRAWPICTURE_DECLARATION));
        if (drawPicture != nullptr) {
            drawPicture(graphics.get(), source, x, y, w, h, sx, sy, sw, sh);
            return;
        }
    }
    OwnCopy(destination, source, x, y, w, h, sx, sy, sw, sh);
}
