// A locked view of a host picture's pixels as rows of 32-bit words. The view
// converts nothing: operations read and write pixels in the picture's own
// layout, told by pixelFormat (see PixelFormat.h). An open view holds one host
// reference to its picture and the host's description lock; both end in
// ReleasePicture, which the destructor calls, so a view on the stack is
// released on every path, also when an exception passes through.
#pragma once

#include <cstdint>

#include "plugin/REALplugin.h"

class PictureEditor {
public:
    PictureEditor() = default;
    virtual ~PictureEditor();
    PictureEditor(const PictureEditor&) = delete;
    PictureEditor& operator=(const PictureEditor&) = delete;

    // Opens the view on picture. allowCopy lets a read view fall back to a
    // private 32-bit copy drawn by the host; clearCacheOnRelease marks a view
    // that writes, so the host is told on release. False leaves the view empty.
    bool GetPictureEditor(REALpicture picture, bool allowCopy, bool clearCacheOnRelease);

    // Start of row y; baseAddress for rows at or past height.
    uint8_t* RowAddress(int32_t y) const;
    // Moves the writing position to the start of the next row.
    void NextRow();
    // Unlocks, tells the host of changes when written, drops the reference.
    void ReleasePicture();
    // Hands the picture out with one reference for the caller and empties the
    // view; null when the view holds no picture.
    REALpicture RenderPictureWriter();

    int32_t rowBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 0;
    int32_t pixelFormat = 0;
    uint8_t* currentRow = nullptr;
    REALpictureDescription description{};
    uint8_t* baseAddress = nullptr;
    int32_t cursorX = 0;
    int32_t cursorY = 0;
    REALpicture picture = nullptr;
    uint32_t** rowTable = nullptr;
    uint8_t hasAlpha = 0;
    uint8_t clearCacheOnRelease = 0;
    uint8_t descriptionLocked = 0;

private:
    bool OpenBitmapContextView(REALpicture picture);
    bool OpenPrivateCopy(REALpicture picture);
    bool OpenConsoleView(REALpicture picture);
    bool Adopt(REALpicture picture);
    void ClearLayout();
};

// A picture an operation reads.
class PictureReader : public PictureEditor {};

// A new picture an operation writes and hands out.
class PictureWriter : public PictureEditor {
public:
    // Asks the host for a width x height picture (with an alpha channel when
    // the reader's picture has one) and opens a writing view on it.
    bool NewPictureWriter(const PictureEditor& reader, int32_t width, int32_t height);
};

// Locks picture's description in kind; false when refused or the host has no
// such entry. Older hosts want a refused lock undone all the same.
bool LockDescription(REALpicture picture, REALpictureDescription* description, int32_t kind);
