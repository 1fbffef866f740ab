// New result pictures: created by the host, opened for writing, handed out.
#include <utility>

#include "picture/PictureEditor.h"
#include "plugin/HostCallbacks.h"
#include "plugin/HostFacts.h"
#include "plugin/HostRefs.h"

namespace {

// The host's new-picture entry makes plain pictures of at most this many
// pixels a side; the Picture constructor has no limit of its own.
constexpr int32_t kLargestPlainSide = 32767;

REALpicture NewPictureWithAlpha(int32_t width, int32_t height) {
    if (rbversion < kHostVersionPictureConstructor) return nullptr;
    HostObjectRef instance(REALnewInstance("Picture"));
    if (!instance) return nullptr;
    auto construct = reinterpret_cast<REALPictureConstructorFn>(
        REALLoadObjectMethod(instance.get(), REAL_PICTURE_CONSTRUCTOR_DECLARATION));
    if (construct == nullptr) return nullptr;
    construct(instance.get(), width, height);
    return PictureOf(instance.release());
}

REALpicture NewPlainPicture(int32_t width, int32_t height) {
    if (width > kLargestPlainSide || height > kLargestPlainSide) return nullptr;
    return REALNewPicture(width, height, 32);
}

}  // namespace

bool PictureWriter::NewPictureWriter(const PictureEditor& reader, int32_t newWidth, int32_t newHeight) {
    if (newWidth < 1 || newHeight < 1) return false;
    HostPictureRef created(reader.hasAlpha ? NewPictureWithAlpha(newWidth, newHeight)
                                           : NewPlainPicture(newWidth, newHeight));
    if (!created) return false;
    // The open view takes its own reference; a view that failed holds none,
    // and the new picture disappears with the creation reference.
    return GetPictureEditor(created.get(), false, true);
}

REALpicture PictureEditor::RenderPictureWriter() {
    REALpicture result = nullptr;
    if (picture != nullptr) {
        REALLockObject(picture);
        result = picture;
        // Should the host throw from here on, the caller's reference must not leak.
        HostPictureRef handedOut(result);
        REALPictureClearCache(picture);
        ReleasePicture();
        return handedOut.release();
    }
    ReleasePicture();
    return result;
}
