// The emulated host's pictures: pixel layouts, padded and scattered rows,
// description locks, and the pictures it makes on request.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "host/Host.h"
#include "platform/CGBitmapContext.h"

namespace {

using zpxhost::AppKind;
using zpxhost::Host;
using zpxhost::HostConfig;
using zpxhost::RGBA;

template <typename Fn>
Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(Host::Resolve(name));
}

bool Lock(REALpicture picture, REALpictureDescription* description, int32_t kind) {
    return Entry<REALLockPictureDescriptionFn>("REALLockPictureDescription")(picture, description, kind);
}

void Unlock(REALpicture picture) { Entry<REALUnlockPictureDescriptionFn>("unlockPictureDescription")(picture); }

HostConfig App(AppKind app) {
    HostConfig config;
    config.app = app;
    return config;
}

uint32_t Word(int r, int g, int b, int fourth, int redShift, int fourthShift) {
    int greenShift = redShift + 8, blueShift = redShift + 16;
    if (redShift == 16) greenShift = 8, blueShift = 0;  // console: blue lowest
    return uint32_t(r) << redShift | uint32_t(g) << greenShift | uint32_t(b) << blueShift |
           uint32_t(fourth) << fourthShift;
}

TEST(HostLayouts, PlainPicturesStoreColourWhereTheirLayoutSays) {
    for (int code = 1; code <= 6; ++code) {
        HostConfig config;
        config.plainLayout = code;
        Host host(config);
        REALpicture picture = host.NewPicture(2, 1, false);
        EXPECT_EQ(host.RawWord(picture, 1, 0), 0xFFFFFFFFu) << "new plain pictures are opaque white, code " << code;
        host.SetPixel(picture, 0, 0, {10, 20, 30, 77});
        bool last = code % 2 == 1;
        EXPECT_EQ(host.RawWord(picture, 0, 0), Word(10, 20, 30, 0xFF, last ? 0 : 8, last ? 24 : 0)) << code;
        EXPECT_EQ(host.GetPixel(picture, 0, 0), (RGBA{10, 20, 30, 255})) << code;
        EXPECT_EQ(host.GetPixelStraight(picture, 0, 0), (RGBA{10, 20, 30, 255})) << code;
        EXPECT_EQ(host.LayoutCode(picture), code);
        host.Release(picture);
    }
    Host host(App(AppKind::Console));
    REALpicture picture = host.NewPicture(1, 1, false);
    EXPECT_EQ(host.RawWord(picture, 0, 0), 0x00FFFFFFu);
    host.SetPixel(picture, 0, 0, {10, 20, 30, 77});
    EXPECT_EQ(host.RawWord(picture, 0, 0), Word(10, 20, 30, 0, 16, 24));
    EXPECT_EQ(host.GetPixel(picture, 0, 0), (RGBA{10, 20, 30, 255}));
    EXPECT_EQ(host.LayoutCode(picture), 8);
    host.Release(picture);
}

TEST(HostLayouts, AlphaPicturesArePremultipliedInBitmapsAndStraightInConsoleBuffers) {
    for (int code = 1; code <= 2; ++code) {
        HostConfig config;
        config.alphaLayout = code;
        Host host(config);
        REALpicture picture = host.NewPicture(2, 1, true);
        EXPECT_EQ(host.RawWord(picture, 1, 0), 0u) << "new alpha pictures are transparent";
        host.SetPixel(picture, 0, 0, {200, 100, 50, 128});
        bool last = code == 1;
        // 200 * 128 / 255 = 100.4, 100 * 128 / 255 = 50.2, 50 * 128 / 255 = 25.1
        EXPECT_EQ(host.RawWord(picture, 0, 0), Word(100, 50, 25, 128, last ? 0 : 8, last ? 24 : 0)) << code;
        EXPECT_EQ(host.GetPixel(picture, 0, 0), (RGBA{100, 50, 25, 128}));
        RGBA straight = host.GetPixelStraight(picture, 0, 0);
        EXPECT_NEAR(straight.r, 200, 1);
        EXPECT_NEAR(straight.g, 100, 1);
        EXPECT_NEAR(straight.b, 50, 1);
        host.SetPixel(picture, 1, 0, {1, 2, 3, 255});
        EXPECT_EQ(host.GetPixelStraight(picture, 1, 0), (RGBA{1, 2, 3, 255}));
        host.Release(picture);
    }
    Host host(App(AppKind::Web));
    REALpicture picture = host.NewPicture(2, 1, true);
    EXPECT_EQ(host.RawWord(picture, 1, 0), 0xFF000000u) << "transparency 255: fully transparent";
    host.SetPixel(picture, 0, 0, {200, 100, 50, 128});
    EXPECT_EQ(host.RawWord(picture, 0, 0), Word(200, 100, 50, 127, 16, 24));
    EXPECT_EQ(host.GetPixel(picture, 0, 0), (RGBA{200, 100, 50, 128}));
    host.Release(picture);
}

TEST(HostLayouts, FillAndReadAgreeInEveryLayout) {
    const uint8_t rgba[] = {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 250, 251, 252, 255};
    const uint8_t rgb[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252};
    for (int code = 1; code <= 7; ++code) {
        HostConfig config = App(code == 7 ? AppKind::Console : AppKind::Desktop);
        config.plainLayout = std::min(code, 6);
        config.alphaLayout = 2 - code % 2;
        Host host(config);
        for (bool alpha : {false, true}) {
            REALpicture picture = host.NewPicture(2, 2, alpha);
            host.FillRGBA(picture, rgba);
            EXPECT_EQ(host.ReadRGBA(picture, true), std::vector<uint8_t>(rgba, rgba + 16)) << code;
            host.FillRGB(picture, rgb);
            EXPECT_EQ(host.ReadRGBA(picture, false), std::vector<uint8_t>(rgba, rgba + 16)) << code;
            host.Release(picture);
        }
    }
}

TEST(HostPictures, BitmapRowsArePaddedWithASentinelThatIsChecked) {
    HostConfig config;
    config.rowPadding = 8;
    config.plainLayout = 3;
    Host host(config);
    REALpicture picture = host.NewPicture(3, 2, false);
    REALpictureDescription description{};
    ASSERT_TRUE(Lock(picture, &description, REALdescriptionBitmapContext));
    EXPECT_EQ(description.kind, REALdescriptionBitmapContext);
    EXPECT_EQ(description.width, 3);
    EXPECT_EQ(description.height, 2);
    auto* context = static_cast<CGBitmapContext*>(description.data);
    EXPECT_EQ(context->bitsPerPixel, 32u);
    EXPECT_EQ(context->bytesPerRow, 3u * 4 + 8);
    EXPECT_EQ(context->alphaInfo, 3u);
    auto* bytes = static_cast<uint8_t*>(context->data);
    bytes[context->bytesPerRow + 4] = 0x11;  // row 1, pixel 1: red in layout 3
    EXPECT_EQ(host.GetPixel(picture, 1, 1).r, 0x11);
    EXPECT_TRUE(host.PaddingIntact(picture));
    bytes[context->bytesPerRow + 12] = 0;  // first byte past row 1's pixels
    EXPECT_FALSE(host.PaddingIntact(picture));
    Unlock(picture);
    host.Release(picture);
}

TEST(HostPictures, ConsoleRowsAreAllocatedApartAndNotInAddressOrder) {
    Host host(App(AppKind::Console));
    REALpicture picture = host.NewPicture(3, 4, false);
    REALpictureDescription description{};
    ASSERT_TRUE(Lock(picture, &description, REALdescriptionConsoleBuffer));
    auto* block = static_cast<REALconsoleBuffer*>(description.data);
    EXPECT_EQ(block->firstWord, 0);
    EXPECT_EQ(block->width, 3);
    EXPECT_EQ(block->height, 4);
    EXPECT_NE(block->hostWord, 0);
    for (int y = 1; y < 4; ++y) {
        EXPECT_LT(block->rowTable[y], block->rowTable[y - 1]) << "rows follow each other downwards";
        EXPECT_NE(block->rowTable[y] + 3, block->rowTable[y - 1]) << "rows are not one block";
    }
    block->rowTable[2][1] = 0x00102030;
    EXPECT_EQ(host.GetPixel(picture, 1, 2), (RGBA{0x10, 0x20, 0x30, 255}));
    EXPECT_TRUE(host.PaddingIntact(picture));
    block->rowTable[3][3] = 0;
    EXPECT_FALSE(host.PaddingIntact(picture));
    Unlock(picture);
    host.Release(picture);
}

TEST(HostPictures, EachApplicationKindLocksInItsOwnKindOnly) {
    struct Case {
        AppKind app;
        bool bitmap, console;
        const char* classRef;
    } cases[] = {{AppKind::Desktop, true, false, "Application"},
                 {AppKind::Console, false, true, "ConsoleApplication"},
                 {AppKind::Web, false, true, "WebApplication"},
                 {AppKind::None, false, false, nullptr}};
    for (const Case& c : cases) {
        Host host(App(c.app));
        REALpicture picture = host.NewPicture(2, 2, true);
        REALpictureDescription description{};
        EXPECT_EQ(Lock(picture, &description, REALdescriptionBitmapContext), c.bitmap);
        EXPECT_EQ(Lock(picture, &description, REALdescriptionConsoleBuffer), c.console);
        EXPECT_EQ(host.HeldLocks(), c.bitmap || c.console ? 1 : 0);
        if (c.bitmap || c.console) Unlock(picture);
        auto classRef = Entry<REALGetClassRefFn>("pluginObjectType");
        for (const char* name : {"Application", "ConsoleApplication", "WebApplication"}) {
            bool expected = c.classRef != nullptr && std::string(name) == c.classRef;
            EXPECT_EQ(classRef(name) != nullptr, expected) << name;
        }
        EXPECT_EQ(host.AuditProblems({picture}), "");
        host.Release(picture);
    }
}

TEST(HostPictures, LocksAreCountedAndUnmatchedUnlocksAreNotFatal) {
    Host host;
    REALpicture picture = host.NewPicture(2, 2, false);
    REALpictureDescription description{};
    ASSERT_TRUE(Lock(picture, &description, REALdescriptionBitmapContext));
    ASSERT_TRUE(Lock(picture, &description, REALdescriptionBitmapContext));
    EXPECT_EQ(host.HeldLocks(), 2);
    EXPECT_NE(host.AuditProblems({picture}), "");
    Unlock(picture);
    Unlock(picture);
    Unlock(picture);
    EXPECT_EQ(host.HeldLocks(), 0);
    EXPECT_EQ(host.UnmatchedUnlocks(), 1);
    host.RefuseLock(picture, REALdescriptionBitmapContext);
    EXPECT_FALSE(Lock(picture, &description, REALdescriptionBitmapContext));
    EXPECT_EQ(host.LockCount(picture), 3);
    EXPECT_EQ(host.UnlockCount(picture), 3);
    Entry<REALPictureClearCacheFn>("REALPictureClearCache")(picture);
    EXPECT_EQ(host.ClearCacheCount(picture), 1);
    EXPECT_EQ(host.AuditProblems({picture}), "");
    host.Release(picture);
}

TEST(HostPictures, AnOlderHostHoldsARefusedLockUntilItIsUndone) {
    HostConfig config;
    config.version = 2011.04;
    Host host(config);
    REALpicture picture = host.NewPicture(1, 1, false);
    host.RefuseLocks(REALdescriptionBitmapContext);
    REALpictureDescription description{};
    EXPECT_FALSE(Lock(picture, &description, REALdescriptionBitmapContext));
    EXPECT_NE(host.AuditProblems({picture}), "");
    Unlock(picture);
    EXPECT_EQ(host.UnmatchedUnlocks(), 0);
    EXPECT_EQ(host.AuditProblems({picture}), "");
    host.Release(picture);
}

TEST(HostPictures, NewPictureChecksItsArgumentsAndFailsOnRequest) {
    Host host;
    auto newPicture = Entry<REALNewPictureFn>("newPicture");
    EXPECT_EQ(newPicture(0, 5, 32), nullptr);
    EXPECT_EQ(newPicture(5, 5, 24), nullptr);
    REALpicture made = newPicture(5, 4, 32);
    ASSERT_NE(made, nullptr);
    EXPECT_FALSE(host.HasAlpha(made));
    EXPECT_EQ(host.GetPixel(made, 4, 3), (RGBA{255, 255, 255, 255}));
    host.Release(made);

    host.FailPictureCreation(2);
    EXPECT_EQ(newPicture(1, 1, 32), nullptr);
    EXPECT_EQ(newPicture(1, 1, 32), nullptr);
    REALpicture third = newPicture(1, 1, 32);
    EXPECT_NE(third, nullptr);
    host.Release(third);

    host.FailPictureCreationAt(2);
    REALpicture first = newPicture(1, 1, 32);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(Entry<REALnewInstanceFn>("PluginNewInstance")("Picture"), nullptr) << "instances count too";
    REALpicture after = newPicture(1, 1, 32);
    EXPECT_NE(after, nullptr);
    EXPECT_EQ(host.PictureCreations(), 7);
    host.Release(first);
    host.Release(after);
    EXPECT_EQ(host.AuditProblems({}), "");
}

TEST(HostPictures, APictureInstanceGetsPixelsFromItsConstructor) {
    for (AppKind app : {AppKind::Desktop, AppKind::Console}) {
        Host host(App(app));
        REALobject instance = Entry<REALnewInstanceFn>("PluginNewInstance")("Picture");
        ASSERT_NE(instance, nullptr);
        REALpicture picture = PictureOf(instance);
        auto getInt = Entry<REALGetPropValueInt32Fn>("REALGetPropValueInt");
        auto getBool = Entry<REALGetPropValueUInt8Fn>("REALGetPropValueBool");
        int32_t width = -1, height = 0;
        uint8_t alpha = 0;
        EXPECT_TRUE(getInt(instance, "Width", &width));
        EXPECT_EQ(width, 0);
        REALpictureDescription description{};
        EXPECT_FALSE(Lock(picture, &description, app == AppKind::Desktop ? 8 : 10)) << "no pixels yet";

        auto constructor = reinterpret_cast<REALPictureConstructorFn>(
            Entry<REALLoadObjectMethodFn>("REALLoadObjectMethod")(instance, REAL_PICTURE_CONSTRUCTOR_DECLARATION));
        ASSERT_NE(constructor, nullptr);
        constructor(instance, 3, 2);
        EXPECT_TRUE(getInt(instance, "Width", &width) && getInt(instance, "Height", &height));
        EXPECT_TRUE(getBool(instance, "HasAlphaChannel", &alpha));
        EXPECT_EQ(std::make_tuple(width, height, alpha), std::make_tuple(3, 2, uint8_t(1)));
        EXPECT_FALSE(getBool(instance, "Transparent", &alpha) || getInt(instance, "Depth", &width));
        EXPECT_EQ(host.GetPixel(picture, 2, 1).a, 0);
        EXPECT_EQ(host.AuditProblems({picture}), "");
        host.Release(picture);
    }
}

}  // namespace
