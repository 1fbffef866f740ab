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

// Where each kind of picture keeps its colour: red, green, blue and the fourth
// byte from the lowest byte up, written as a word.
TEST(HostLayouts, PicturesStoreColourWhereTheirLayoutSays) {
    struct Case {
        const char* name;
        HostConfig config;
        bool alpha;
        uint32_t fresh;     // a new picture's word
        uint32_t written;   // after setting 200, 100, 50 at opacity 128
        RGBA read;          // as stored: premultiplied in bitmaps
        int layout;
    };
    auto desktop = [](int plain, int alpha) {
        HostConfig config;
        config.plainLayout = plain;
        config.alphaLayout = alpha;
        return config;
    };
    // 200 * 128 / 255 = 100.4, 100 * 128 / 255 = 50.2, 50 * 128 / 255 = 25.1
    const Case cases[] = {
        {"plain 1", desktop(1, 2), false, 0xFFFFFFFFu, 0xFF3264C8u, {200, 100, 50, 255}, 1},
        {"plain 2", desktop(2, 2), false, 0xFFFFFFFFu, 0x3264C8FFu, {200, 100, 50, 255}, 2},
        {"plain 3", desktop(3, 2), false, 0xFFFFFFFFu, 0xFF3264C8u, {200, 100, 50, 255}, 3},
        {"plain 4", desktop(4, 2), false, 0xFFFFFFFFu, 0x3264C8FFu, {200, 100, 50, 255}, 4},
        {"plain 5", desktop(5, 2), false, 0xFFFFFFFFu, 0xFF3264C8u, {200, 100, 50, 255}, 5},
        {"plain 6", desktop(6, 2), false, 0xFFFFFFFFu, 0x3264C8FFu, {200, 100, 50, 255}, 6},
        {"alpha 1", desktop(6, 1), true, 0u, 0x80193264u, {100, 50, 25, 128}, 1},
        {"alpha 2", desktop(6, 2), true, 0u, 0x19326480u, {100, 50, 25, 128}, 2},
        {"console plain", App(AppKind::Console), false, 0x00FFFFFFu, 0x00C86432u, {200, 100, 50, 255}, 8},
        // Transparency rather than opacity, 255 for fully transparent.
        {"web alpha", App(AppKind::Web), true, 0xFF000000u, 0x7FC86432u, {200, 100, 50, 128}, 8},
    };
    for (const Case& c : cases) {
        Host host(c.config);
        REALpicture picture = host.NewPicture(2, 1, c.alpha);
        EXPECT_EQ(host.RawWord(picture, 1, 0), c.fresh) << c.name;
        host.SetPixel(picture, 0, 0, {200, 100, 50, 128});
        EXPECT_EQ(host.RawWord(picture, 0, 0), c.written) << c.name;
        EXPECT_EQ(host.GetPixel(picture, 0, 0), c.read) << c.name;
        const RGBA straight = host.GetPixelStraight(picture, 0, 0);
        EXPECT_NEAR(straight.r, 200, 1) << c.name;
        EXPECT_NEAR(straight.b, 50, 1) << c.name;
        EXPECT_EQ(host.LayoutCode(picture), c.layout) << c.name;
        host.Release(picture);
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

TEST(HostPictures, LocksAreCountedAndRefusedOnesHeldByOlderHosts) {
    REALpictureDescription description{};
    {
        Host host;
        REALpicture picture = host.NewPicture(2, 2, false);
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
    // An older host holds a refused lock until it is undone.
    HostConfig config;
    config.version = 2011.04;
    Host older(config);
    REALpicture picture = older.NewPicture(1, 1, false);
    older.RefuseLocks(REALdescriptionBitmapContext);
    EXPECT_FALSE(Lock(picture, &description, REALdescriptionBitmapContext));
    EXPECT_NE(older.AuditProblems({picture}), "");
    Unlock(picture);
    EXPECT_EQ(older.UnmatchedUnlocks(), 0);
    EXPECT_EQ(older.AuditProblems({picture}), "");
    older.Release(picture);
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
