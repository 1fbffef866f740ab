#include "picture/PictureEditor.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>

#include "picture/PictureCopy.h"
#include "picture/PixelFormat.h"
#include "platform/CGBitmapContext.h"
#include "plugin/HostCallbacks.h"
#include "plugin/HostFacts.h"
#include "plugin/HostRefs.h"

namespace {

constexpr int32_t kBitsPerPixel = 32;
constexpr int32_t kBytesPerPixel = 4;
constexpr uint32_t kAlphaInfoMask = 7;

// Holds a description lock while a view is being opened, so that a failed
// check or an exception from the host undoes it.
class DescriptionLockGuard {
public:
    explicit DescriptionLockGuard(REALpicture picture) : picture_(picture) {}
    ~DescriptionLockGuard() {
        if (picture_ != nullptr) REALUnlockPictureDescription(picture_);
    }
    DescriptionLockGuard(const DescriptionLockGuard&) = delete;
    DescriptionLockGuard& operator=(const DescriptionLockGuard&) = delete;
    void KeepLocked() { picture_ = nullptr; }

private:
    REALpicture picture_;
};

bool FitsInt32(size_t value) { return value <= static_cast<size_t>(std::numeric_limits<int32_t>::max()); }

bool ReadHasAlpha(REALpicture picture) {
    uint8_t value = 0;
    return REALGetPropValueUInt8(ObjectOf(picture), "HasAlphaChannel", &value) && value != 0;
}

int32_t ReadIntProperty(REALpicture picture, const char* name) {
    int32_t value = 0;
    return REALGetPropValueInt32(ObjectOf(picture), name, &value) ? value : 0;
}

void LearnApplicationKind() {
    if (IsDesktop || IsConsole) return;
    bool desktop = REALGetClassRef("Application") != nullptr;
    bool web = REALGetClassRef("WebApplication") != nullptr;
    bool console = REALGetClassRef("ConsoleApplication") != nullptr;
    if (desktop) {
        IsDesktop = true;
    } else if (web || console) {
        IsConsole = true;
    }
}

}  // namespace

bool LockDescription(REALpicture picture, REALpictureDescription* description, int32_t kind) {
    if (REALLockPictureDescription(picture, description, kind)) return true;
    if (IsOlderHost()) REALUnlockPictureDescription(picture);
    return false;
}

PictureEditor::~PictureEditor() { ReleasePicture(); }

void PictureEditor::ReleasePicture() {
    if (descriptionLocked) {
        if (picture != nullptr) REALUnlockPictureDescription(picture);
        descriptionLocked = 0;
    }
    if (clearCacheOnRelease && picture != nullptr) REALPictureClearCache(picture);
    if (picture != nullptr) {
        REALpicture held = std::exchange(picture, nullptr);
        REALUnlockObject(held);
    }
}

uint8_t* PictureEditor::RowAddress(int32_t y) const {
    if (y < 0 || y >= height) return baseAddress;
    if (pixelFormat == kFormatConsole) return reinterpret_cast<uint8_t*>(rowTable[y]);
    return baseAddress + static_cast<ptrdiff_t>(y) * rowBytes;
}

void PictureEditor::NextRow() {
    cursorX = 0;
    ++cursorY;
    currentRow = RowAddress(cursorY);
}

// The view's own reference; taken before the view points at the picture so
// that an exception from the host leaves nothing half-owned. Without both
// entries there is no view: releasing a reference never taken would drop the
// caller's, and one that cannot be dropped would keep the picture for good.
bool PictureEditor::Adopt(REALpicture target) {
    if (!HostCanDropReferences() || !REALLockObject(target)) return false;
    picture = target;
    descriptionLocked = 1;
    cursorX = 0;
    cursorY = 0;
    bytesPerPixel = kBytesPerPixel;
    return true;
}

void PictureEditor::ClearLayout() {
    rowBytes = width = height = bytesPerPixel = pixelFormat = 0;
    currentRow = baseAddress = nullptr;
    rowTable = nullptr;
    cursorX = cursorY = 0;
    hasAlpha = 0;
    description = REALpictureDescription{};
}

bool PictureEditor::GetPictureEditor(REALpicture target, bool allowCopy, bool clearCache) {
    ReleasePicture();
    ClearLayout();
    if (target == nullptr) return false;
    clearCacheOnRelease = clearCache ? 1 : 0;
    LearnApplicationKind();
    hasAlpha = ReadHasAlpha(target) ? 1 : 0;
    if (!IsConsole) {
        if (LockDescription(target, &description, REALdescriptionBitmapContext)) {
            IsDesktop = true;
            return OpenBitmapContextView(target);
        }
        if (!hasAlpha && allowCopy && !clearCache) return OpenPrivateCopy(target);
    }
    return OpenConsoleView(target);
}

bool PictureEditor::OpenBitmapContextView(REALpicture target) {
    DescriptionLockGuard lock(target);
    if (description.kind != REALdescriptionBitmapContext || description.data == nullptr) return false;
    CGContextRef context = static_cast<CGContextRef>(description.data);
    void* data = CGBitmapContextGetData(context);
    size_t bitsPerPixel = CGBitmapContextGetBitsPerPixel(context);
    size_t contextWidth = CGBitmapContextGetWidth(context);
    size_t contextHeight = CGBitmapContextGetHeight(context);
    size_t bytesPerRow = CGBitmapContextGetBytesPerRow(context);
    int32_t code = static_cast<int32_t>(CGBitmapContextGetAlphaInfo(context) & kAlphaInfoMask);

    bool codeFits = hasAlpha ? (code == 1 || code == 2) : (code >= 1 && code <= 6);
    if (!codeFits || bitsPerPixel != kBitsPerPixel) return false;
    // Our own guard: sizes the 32-bit fields cannot hold, or rows shorter than
    // their pixels, would send every operation outside the pixels.
    if (!FitsInt32(contextWidth) || !FitsInt32(contextHeight) || !FitsInt32(bytesPerRow) ||
        bytesPerRow < contextWidth * kBytesPerPixel || (data == nullptr && contextHeight > 0)) {
        return false;
    }

    if (!Adopt(target)) return false;
    lock.KeepLocked();
    rowBytes = static_cast<int32_t>(bytesPerRow);
    pixelFormat = code;
    baseAddress = currentRow = static_cast<uint8_t*>(data);
    width = static_cast<int32_t>(contextWidth);
    height = static_cast<int32_t>(contextHeight);
    return true;
}

// A plain picture that cannot be locked is read through a 32-bit copy the host
// draws. The copy is viewed without a further copy, so copying ends there.
bool PictureEditor::OpenPrivateCopy(REALpicture target) {
    int32_t copyWidth = ReadIntProperty(target, "Width");
    int32_t copyHeight = ReadIntProperty(target, "Height");
    if (copyWidth < 1 || copyHeight < 1) return OpenConsoleView(target);
    HostPictureRef copy(REALNewPicture(copyWidth, copyHeight, kBitsPerPixel));
    if (!copy) return OpenConsoleView(target);
    GraphicsDrawPicture(copy.get(), target, 0, 0, copyWidth, copyHeight, 0, 0, copyWidth, copyHeight);
    return GetPictureEditor(copy.get(), false, false);
}

bool PictureEditor::OpenConsoleView(REALpicture target) {
    if (IsDesktop) return false;
    if (!LockDescription(target, &description, REALdescriptionConsoleBuffer)) return false;
    IsConsole = true;
    DescriptionLockGuard lock(target);
    if (description.kind != REALdescriptionConsoleBuffer || description.data == nullptr) return false;
    const REALconsoleBuffer* block = static_cast<const REALconsoleBuffer*>(description.data);
    if (block->firstWord != 0 || block->hostWord == 0 || block->rowTable == nullptr) return false;
    if (description.width < 0 || description.height < 0 ||
        description.width > std::numeric_limits<int32_t>::max() / kBytesPerPixel) {
        return false;
    }

    if (!Adopt(target)) return false;
    lock.KeepLocked();
    pixelFormat = kFormatConsole;
    width = description.width;
    height = description.height;
    rowBytes = width * kBytesPerPixel;
    rowTable = block->rowTable;
    baseAddress = currentRow = height > 0 ? reinterpret_cast<uint8_t*>(rowTable[0]) : nullptr;
    return true;
}
