// The emulated host's pictures, where a wrong host would go unnoticed by the
// library's tests: pixel layouts, padded and scattered rows, which locks are
// granted and how they are counted, and the switches that make creation fail.
// (Pictures made through the Picture constructor are the library's alpha
// results in every layout test.)
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
        // A row written whole stores what pixels set one by one do.
        const uint8_t row[8] = {1, 2, 3, 4, 200, 100, 50, 128};
        host.WriteRowRGBA(picture, 0, row);
        EXPECT_EQ(host.RawWord(picture, 1, 0), c.written) << c.name;
        host.Release(picture);
    }
}

TEST(HostPictures, RowPaddingAndScatteredRowsAreCheckedBySentinels) {
    HostConfig config;
    config.rowPadding = 8;
    config.plainLayout = 3;
    Host desktop(config);
    REALpicture picture = desktop.NewPicture(3, 2, false);
    REALpictureDescription description{};
    ASSERT_TRUE(Lock(picture, &description, REALdescriptionBitmapContext));
    auto* context = static_cast<CGBitmapContext*>(description.data);
    EXPECT_EQ(context->bytesPerRow, 3u * 4 + 8);
    EXPECT_EQ(context->alphaInfo, 3u);
    auto* bytes = static_cast<uint8_t*>(context->data);
    bytes[context->bytesPerRow + 4] = 0x11;  // row 1, pixel 1: red in layout 3
    EXPECT_EQ(desktop.GetPixel(picture, 1, 1).r, 0x11);
    EXPECT_TRUE(desktop.PaddingIntact(picture));
    bytes[context->bytesPerRow + 12] = 0;  // first byte past row 1's pixels
    EXPECT_FALSE(desktop.PaddingIntact(picture));
    Unlock(picture);
    desktop.Release(picture);

    // Console rows lie apart and downwards, so that code assuming one block fails.
    Host console(App(AppKind::Console));
    picture = console.NewPicture(3, 4, false);
    ASSERT_TRUE(Lock(picture, &description, REALdescriptionConsoleBuffer));
    auto* block = static_cast<REALconsoleBuffer*>(description.data);
    for (int y = 1; y < 4; ++y) {
        EXPECT_LT(block->rowTable[y], block->rowTable[y - 1]);
        EXPECT_NE(block->rowTable[y] + 3, block->rowTable[y - 1]);
    }
    block->rowTable[2][1] = 0x00102030;
    EXPECT_EQ(console.GetPixel(picture, 1, 2), (RGBA{0x10, 0x20, 0x30, 255}));
    EXPECT_TRUE(console.PaddingIntact(picture));
    block->rowTable[3][3] = 0;
    EXPECT_FALSE(console.PaddingIntact(picture));
    Unlock(picture);
    console.Release(picture);
}

// A host that granted the other kind too would hide a library locking wrongly.
TEST(HostPictures, EachApplicationKindLocksInItsOwnKindOnly) {
    const std::tuple<AppKind, bool, bool> cases[] = {{AppKind::Desktop, true, false},
                                                     {AppKind::Console, false, true},
                                                     {AppKind::Web, false, true},
                                                     {AppKind::None, false, false}};
    for (auto [app, bitmap, console] : cases) {
        Host host(App(app));
        REALpicture picture = host.NewPicture(2, 2, true);
        REALpictureDescription description{};
        EXPECT_EQ(Lock(picture, &description, REALdescriptionBitmapContext), bitmap);
        EXPECT_EQ(Lock(picture, &description, REALdescriptionConsoleBuffer), console);
        EXPECT_EQ(host.HeldLocks(), bitmap || console ? 1 : 0);
        if (bitmap || console) Unlock(picture);
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

// Where row 0 of a locked description starts.
const void* FirstRow(const REALpictureDescription& description) {
    if (description.kind == REALdescriptionBitmapContext) return static_cast<CGBitmapContext*>(description.data)->data;
    return static_cast<REALconsoleBuffer*>(description.data)->rowTable[0];
}

// Pixels move to new storage when the last lock ends, contents and guards
// with them, so a pointer kept past its lock points at storage given up.
TEST(HostPictures, PixelsMoveWhenTheLastLockEnds) {
    for (AppKind app : {AppKind::Desktop, AppKind::Console}) {
        for (bool moves : {true, false}) {
            HostConfig config = App(app);
            config.movePixelsOnUnlock = moves;
            Host host(config);
            const int32_t kind = app == AppKind::Desktop ? REALdescriptionBitmapContext : REALdescriptionConsoleBuffer;
            REALpicture picture = host.NewPicture(3, 2, false);
            host.SetPixel(picture, 2, 1, {10, 20, 30, 255});
            REALpictureDescription outer{}, inner{}, again{};
            ASSERT_TRUE(Lock(picture, &outer, kind));
            const void* data = outer.data;
            const void* row = FirstRow(outer);
            ASSERT_TRUE(Lock(picture, &inner, kind));
            Unlock(picture);
            EXPECT_EQ(FirstRow(outer), row) << "moved under a lock still held";
            Unlock(picture);
            ASSERT_TRUE(Lock(picture, &again, kind));
            EXPECT_EQ(again.data != data, moves);
            EXPECT_EQ(FirstRow(again) != row, moves);
            Unlock(picture);
            EXPECT_EQ(host.GetPixel(picture, 2, 1), (RGBA{10, 20, 30, 255}));
            EXPECT_TRUE(host.PaddingIntact(picture));
            host.Release(picture);
        }
    }
}

TEST(HostPictures, CreationFailsOnRequestAndInstancesCountToo) {
    Host host;
    auto newPicture = Entry<REALNewPictureFn>("newPicture");
    EXPECT_EQ(newPicture(5, 5, 24), nullptr);
    host.FailPictureCreation(2);
    EXPECT_EQ(newPicture(1, 1, 32), nullptr);
    EXPECT_EQ(newPicture(1, 1, 32), nullptr);
    REALpicture third = newPicture(1, 1, 32);
    EXPECT_NE(third, nullptr);
    host.FailPictureCreationAt(2);
    REALpicture first = newPicture(1, 1, 32);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(Entry<REALnewInstanceFn>("PluginNewInstance")("Picture"), nullptr);
    REALpicture after = newPicture(1, 1, 32);
    EXPECT_NE(after, nullptr);
    EXPECT_EQ(host.PictureCreations(), 6);
    for (REALpicture p : {third, first, after}) host.Release(p);
    EXPECT_EQ(host.AuditProblems({}), "");
}

}  // namespace
