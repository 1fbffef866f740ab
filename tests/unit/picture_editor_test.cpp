// Pixel views: the three ways to reach a picture's pixels, new pictures, and
// copies between pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/Host.h"
#include "picture/PictureCopy.h"
#include "picture/PictureEditor.h"
#include "plugin/PluginMain.h"
#include "tests/support/Plugin.h"

namespace {

using zpxhost::AppKind;
using zpxhost::Host;
using zpxhost::HostConfig;
using zpxhost::HostMethod;
using zpxhost::RGBA;
using zpxhost::Spoiled;

using zpxtest::HostOf;

HostConfig Console() { return HostOf(AppKind::Console); }
HostConfig Version(double version) { return HostOf(AppKind::Desktop, version); }

using Loaded = zpxtest::LoadedHost;

TEST(PictureEditor, BitmapViewReportsTheContextLayout) {
    HostConfig config;
    config.plainLayout = 5;
    config.rowPadding = 12;
    Loaded loaded(config);
    REALpicture picture = loaded.keep(loaded.host.NewPicture(7, 3, false));
    {
        PictureReader reader;
        ASSERT_TRUE(reader.GetPictureEditor(picture, true, false));
        EXPECT_TRUE(IsDesktop);
        EXPECT_FALSE(IsConsole);
        EXPECT_EQ(reader.pixelFormat, 5);
        EXPECT_EQ(reader.width, 7);
        EXPECT_EQ(reader.height, 3);
        EXPECT_EQ(reader.rowBytes, 7 * 4 + 12);
        EXPECT_EQ(reader.bytesPerPixel, 4);
        EXPECT_EQ(reader.RowAddress(2), reader.baseAddress + 2 * reader.rowBytes);
        EXPECT_EQ(reader.RowAddress(3), reader.baseAddress);
        EXPECT_EQ(reader.RowAddress(100), reader.baseAddress);
        EXPECT_EQ(loaded.host.RefCount(picture), 2);
        EXPECT_EQ(loaded.host.HeldLocks(), 1);
    }
    EXPECT_EQ(loaded.host.ClearCacheCount(picture), 0);
}

TEST(PictureEditor, ConsoleViewFollowsTheRowTable) {
    Loaded loaded(Console());
    REALpicture picture = loaded.keep(loaded.host.NewPicture(5, 4, false));
    loaded.host.SetPixel(picture, 1, 3, RGBA{10, 20, 30, 255});
    {
        PictureReader reader;
        ASSERT_TRUE(reader.GetPictureEditor(picture, true, false));
        EXPECT_TRUE(IsConsole);
        EXPECT_EQ(reader.pixelFormat, 8);
        EXPECT_EQ(reader.rowBytes, 20);
        EXPECT_EQ(reader.RowAddress(0), reader.baseAddress);
        // Rows lie apart, not in address order; the view goes through the table.
        EXPECT_NE(reader.RowAddress(1), reader.baseAddress + reader.rowBytes);
        uint32_t word;
        memcpy(&word, reader.RowAddress(3) + 4, 4);
        EXPECT_EQ(word & 0x00FFFFFFu, 0x000A141Eu);
        EXPECT_EQ(reader.RowAddress(4), reader.baseAddress);
        reader.cursorY = 2;
        reader.NextRow();
        EXPECT_EQ(reader.currentRow, reader.RowAddress(3));
        reader.NextRow();
        EXPECT_EQ(reader.currentRow, reader.baseAddress);
    }
}

TEST(PictureEditor, OpeningAnOpenViewReleasesTheFirstPicture) {
    Loaded loaded;
    REALpicture first = loaded.keep(loaded.host.NewPicture(2, 2, false));
    REALpicture second = loaded.keep(loaded.host.NewPicture(3, 3, false));
    {
        PictureWriter view;
        ASSERT_TRUE(view.GetPictureEditor(first, false, true));
        ASSERT_TRUE(view.GetPictureEditor(second, false, true));
        EXPECT_EQ(loaded.host.RefCount(first), 1);
        EXPECT_EQ(loaded.host.ClearCacheCount(first), 1);
        EXPECT_EQ(loaded.host.LockCount(first), loaded.host.UnlockCount(first));
        EXPECT_EQ(view.width, 3);
    }
    EXPECT_EQ(loaded.host.ClearCacheCount(second), 1);
}

TEST(PictureEditor, UnlockablePlainPictureIsReadThroughAPrivateCopy) {
    Loaded loaded;
    REALpicture picture = loaded.keep(zpxtest::MakePicture(loaded.host, 4, 3, false, zpxtest::TestPattern));
    loaded.host.RefuseLock(picture, REALdescriptionBitmapContext);
    {
        PictureReader reader;
        ASSERT_TRUE(reader.GetPictureEditor(picture, true, false));
        EXPECT_NE(reader.picture, picture);
        EXPECT_EQ(reader.width, 4);
        EXPECT_EQ(loaded.host.RefCount(picture), 1);  // the original is not held
        EXPECT_EQ(loaded.host.RefCount(reader.picture), 1);
        uint32_t word;
        memcpy(&word, reader.RowAddress(2) + 3 * 4, 4);
        EXPECT_EQ(word, loaded.host.RawWord(reader.picture, 3, 2));
        EXPECT_EQ(loaded.host.GetPixel(reader.picture, 3, 2), zpxtest::TestPattern(3, 2));
    }
}

// Views that cannot be opened take nothing: no picture is made, no lock or
// reference kept; the lock requests show which ways were tried. A
// description or console block a view cannot use leaves the view closed and
// the lock undone; the same picture opens once it is whole again.
TEST(PictureEditor, RefusedViewsLeaveNothingBehind) {
    HostConfig unpremultiplied;
    unpremultiplied.alphaLayout = 3;
    struct Case {
        std::string name;
        HostConfig config;
        bool alpha, refused, allowCopy;
        const char* missing;  // a host entry the host lacks
        int locks, unlocks;
        Spoiled spoiled = Spoiled::Nothing;
    };
    std::vector<Case> cases = {
        // No private copy stands in for an alpha picture or where copying is not allowed.
        {"alpha picture", {}, true, true, true, nullptr, 1, 0},
        {"copy not allowed", {}, false, true, false, nullptr, 1, 0},
        // The application class told us this is a desktop host: no console attempt.
        {"copy of unknown size", {}, false, true, true, "REALGetPropValueInt", 1, 0},
        {"alpha in an unpremultiplied context", unpremultiplied, true, false, true, nullptr, 1, 1},
        // An older host keeps a refused lock until it is undone; a newer one does not.
        {"older host", Version(2011.5), true, true, true, nullptr, 1, 1},
        {"newer host", Version(2012.0), true, true, true, nullptr, 1, 0},
    };
    for (AppKind app : {AppKind::Desktop, AppKind::Console}) {
        for (Spoiled spoiled : zpxtest::SpoilsOf(app)) {
            cases.push_back({std::string(app == AppKind::Desktop ? "desktop" : "console") + " spoil " +
                                 std::to_string(static_cast<int>(spoiled)),
                             HostOf(app), false, false, true, nullptr, 1, 1, spoiled});
        }
    }
    for (const Case& c : cases) {
        Loaded loaded(c.config);
        Host& host = loaded.host;
        REALpicture picture = host.NewPicture(4, 3, c.alpha);
        host.RefuseLock(picture, REALdescriptionBitmapContext, c.refused);
        host.Spoil(picture, c.spoiled);
        if (c.missing != nullptr) host.SetMissing(c.missing);
        const int created = host.PictureCreations();
        {
            PictureReader reader;
            EXPECT_FALSE(reader.GetPictureEditor(picture, c.allowCopy, false)) << c.name;
        }
        EXPECT_EQ(host.PictureCreations(), created) << c.name;
        EXPECT_EQ(host.LockCount(picture), c.locks) << c.name;
        EXPECT_EQ(host.UnlockCount(picture), c.unlocks) << c.name;
        if (c.spoiled != Spoiled::Nothing) {
            host.Spoil(picture, Spoiled::Nothing);
            PictureReader reader;
            EXPECT_TRUE(reader.GetPictureEditor(picture, true, false)) << c.name;
        }
        EXPECT_EQ(host.AuditProblems({picture}), "") << c.name;
        host.Release(picture);
    }
    Loaded loaded;
    PictureReader reader;
    EXPECT_FALSE(reader.GetPictureEditor(nullptr, true, false));
    EXPECT_EQ(reader.picture, nullptr);
    EXPECT_FALSE(IsDesktop || IsConsole);
}

// A host of no known application kind is asked again at the next opening.
std::vector<std::string> gClassesAsked;
REALclassRef CountingClassRef(const char* className) {
    gClassesAsked.push_back(className);
    return reinterpret_cast<REALGetClassRefFn>(Host::Resolve("pluginObjectType"))(className);
}

TEST(PictureEditor, AnUnknownApplicationKindIsAskedAgainAtTheNextOpening) {
    Host host(HostOf(AppKind::None));
    REALPluginMain([](const char* name) -> void* {
        if (std::string(name) == "pluginObjectType") return reinterpret_cast<void*>(&CountingClassRef);
        return Host::Resolve(name);
    });
    REALpicture picture = host.NewPicture(2, 2, false);
    gClassesAsked.clear();
    for (int opening = 0; opening < 2; ++opening) {
        PictureReader reader;
        EXPECT_FALSE(reader.GetPictureEditor(picture, false, false));
    }
    const std::vector<std::string> once = {"Application", "WebApplication", "ConsoleApplication"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(gClassesAsked, twice);
    EXPECT_FALSE(IsDesktop || IsConsole);
    EXPECT_EQ(host.AuditProblems({picture}), "");
    host.Release(picture);
}

TEST(PictureWriter, NewPicturesFollowTheSourceAndTheSizeRules) {
    Loaded loaded;
    REALpicture plain = loaded.keep(loaded.host.NewPicture(2, 2, false));
    REALpicture alpha = loaded.keep(loaded.host.NewPicture(2, 2, true));
    PictureReader plainReader, alphaReader;
    ASSERT_TRUE(plainReader.GetPictureEditor(plain, true, false));
    ASSERT_TRUE(alphaReader.GetPictureEditor(alpha, true, false));
    const int created = loaded.host.PictureCreations();
    PictureWriter writer;
    EXPECT_FALSE(writer.NewPictureWriter(plainReader, 0, 5));
    EXPECT_FALSE(writer.NewPictureWriter(plainReader, 5, -1));
    EXPECT_FALSE(writer.NewPictureWriter(plainReader, 32768, 1));
    EXPECT_EQ(loaded.host.PictureCreations(), created);
    ASSERT_TRUE(writer.NewPictureWriter(alphaReader, 32768, 1));
    EXPECT_EQ(writer.width, 32768);
    EXPECT_TRUE(writer.hasAlpha);
    REALpicture made = loaded.keep(writer.RenderPictureWriter());
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(writer.picture, nullptr);
    EXPECT_EQ(loaded.host.RefCount(made), 1);
    EXPECT_EQ(loaded.host.ClearCacheCount(made), 2);
    EXPECT_EQ(writer.RenderPictureWriter(), nullptr);
    plainReader.ReleasePicture();
    alphaReader.ReleasePicture();
}

TEST(PictureWriter, FailedCreationsLeaveNothingBehind) {
    const std::function<void(Host&)> failures[] = {
        [](Host& host) { host.SetMethodMissing(HostMethod::PictureConstructor); },
        [](Host& host) { host.SetInstantiable("Picture", false); },
        [](Host& host) { host.RefuseLocks(REALdescriptionBitmapContext); },
        nullptr,  // an older host, without the constructor alpha results need
    };
    for (const auto& fail : failures) {
        Loaded loaded(Version(fail ? 2019.0 : 2011.03));
        REALpicture alpha = loaded.host.NewPicture(2, 2, true);
        PictureReader reader;
        ASSERT_TRUE(reader.GetPictureEditor(alpha, true, false));
        if (fail) fail(loaded.host);
        PictureWriter writer;
        EXPECT_FALSE(writer.NewPictureWriter(reader, 4, 4));
        reader.ReleasePicture();
        EXPECT_EQ(loaded.host.AuditProblems({alpha}), "");
        loaded.host.Release(alpha);
    }
}

TEST(OwnCopy, RefusesWhatItCannotCopy) {
    Loaded loaded(Console());
    REALpicture source = loaded.keep(loaded.host.NewPicture(4, 4, false));
    REALpicture other = loaded.keep(loaded.host.NewPicture(4, 5, false));
    REALpicture destination = loaded.keep(loaded.host.NewPicture(4, 4, false));
    EXPECT_FALSE(OwnCopy(destination, nullptr, 0, 0, 4, 4, 0, 0, 4, 4));
    EXPECT_FALSE(OwnCopy(destination, source, 0, 0, 4, 4, 0, 0, 3, 4));
    EXPECT_EQ(loaded.host.LockCount(source), 0);
    EXPECT_FALSE(OwnCopy(other, source, 0, 0, 4, 4, 0, 0, 4, 4));
}

// OwnCopy copies whole console blocks of equal size (the rectangles only have
// to agree in size), reading each block's width, height, first word and row
// table and nothing else of it; a copy it refuses leaves the destination as it was.
// Once the source is locked it releases the destination's lock (when it has
// one), then the source's, then tells the host the destination changed; an
// older host has a refused lock undone too.
TEST(OwnCopy, CopiesWhatItCanAndReleasesInItsOrder) {
    using Arrange = std::function<void(Host&, REALpicture source, REALpicture destination)>;
    auto spoil = [](bool source, Spoiled what) -> Arrange {
        return [=](Host& host, REALpicture s, REALpicture d) { host.Spoil(source ? s : d, what); };
    };
    auto refuse = [](bool source) -> Arrange {
        return [=](Host& host, REALpicture s, REALpicture d) {
            host.RefuseLock(source ? s : d, REALdescriptionConsoleBuffer);
        };
    };
    const std::vector<std::string> whole = {"lock S", "lock D", "unlock D", "unlock S", "clear D"};
    struct Case {
        const char* name;
        double version;
        Arrange arrange;
        bool copies;
        std::vector<std::string> journal;
    } const cases[] = {
        {"copied", 2019.0, nullptr, true, whole},
        {"kind spoiled", 2019.0, spoil(true, Spoiled::Kind), true, whole},
        {"host word spoiled", 2019.0, spoil(false, Spoiled::HostWord), true, whole},
        {"source data spoiled", 2019.0, spoil(true, Spoiled::Data), false, whole},
        {"destination data spoiled", 2019.0, spoil(false, Spoiled::Data), false, whole},
        {"source first word spoiled", 2019.0, spoil(true, Spoiled::FirstWord), false, whole},
        {"destination first word spoiled", 2019.0, spoil(false, Spoiled::FirstWord), false, whole},
        {"source row table spoiled", 2019.0, spoil(true, Spoiled::RowTable), false, whole},
        {"destination row table spoiled", 2019.0, spoil(false, Spoiled::RowTable), false, whole},
        {"destination refused", 2019.0, refuse(false), false, {"lock S", "lock D", "unlock S", "clear D"}},
        {"destination refused, older host", 2011.5, refuse(false), false, whole},
        {"source refused", 2019.0, refuse(true), false, {"lock S"}},
        {"source refused, older host", 2011.5, refuse(true), false, {"lock S", "unlock S"}},
    };
    for (const Case& c : cases) {
        Loaded loaded(HostOf(AppKind::Console, c.version));
        Host& host = loaded.host;
        REALpicture source = zpxtest::MakePicture(host, 3, 2, false, zpxtest::TestPattern);
        REALpicture destination = host.NewPicture(3, 2, false);
        const std::vector<RGBA> blank = zpxtest::StoredPixels(host, destination);
        if (c.arrange) c.arrange(host, source, destination);
        host.KeepJournal();
        EXPECT_EQ(OwnCopy(destination, source, 0, 0, 2, 1, 1, 1, 2, 1), c.copies) << c.name;
        EXPECT_EQ(zpxtest::JournalOf(host, {{source, "S"}, {destination, "D"}}), c.journal) << c.name;
        EXPECT_EQ(zpxtest::StoredPixels(host, destination), c.copies ? zpxtest::StoredPixels(host, source) : blank)
            << c.name;
        EXPECT_EQ(host.AuditProblems({source, destination}), "") << c.name;
        for (REALpicture p : {source, destination}) host.Release(p);
    }
}

TEST(GraphicsDrawPicture, NilSourceDropsTheGraphicsAndConsoleHostsWithoutDrawingCopyRows) {
    {
        Loaded loaded;
        REALpicture destination = loaded.keep(loaded.host.NewPicture(4, 4, false));
        GraphicsDrawPicture(destination, nullptr, 0, 0, 4, 4, 0, 0, 4, 4);
        EXPECT_EQ(loaded.host.MethodCalls(HostMethod::DrawPicture), 0);
    }
    Loaded loaded(Console());
    loaded.host.SetGraphicsMissing();
    REALpicture source = loaded.keep(zpxtest::MakePicture(loaded.host, 3, 2, false, zpxtest::TestPattern));
    REALpicture destination = loaded.keep(loaded.host.NewPicture(3, 2, false));
    GraphicsDrawPicture(destination, source, 0, 0, 3, 2, 0, 0, 3, 2);
    EXPECT_EQ(zpxtest::StoredPixels(loaded.host, destination), zpxtest::StoredPixels(loaded.host, source));
}

}  // namespace
