// The emulated host's drawing where the library's tests would not notice it
// wrong: copies one to one in every layout (the private copy the library
// reads is tried in one only), a masked source composited, and the switches
// on the host's methods. (Masks made and copied from alpha, and alpha drawn
// over white, are what ScaleMaskLayouts expects from the host.)
#include <gtest/gtest.h>

#include <stdexcept>

#include "host/Host.h"
#include "tests/support/Pictures.h"

namespace {

using zpxhost::AppKind;
using zpxhost::Host;
using zpxhost::HostConfig;
using zpxhost::HostMethod;
using zpxhost::RGBA;

template <typename Fn>
Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(Host::Resolve(name));
}

void* Method(const void* object, const char* declaration) {
    return Entry<REALLoadObjectMethodFn>("REALLoadObjectMethod")(static_cast<REALobject>(const_cast<void*>(object)),
                                                                 declaration);
}

void Draw(REALpicture destination, REALpicture source, int x, int y, int w, int h, int sx = 0, int sy = 0,
          int sw = -10000, int sh = -10000) {
    REALobject graphics = Entry<REALGetPictureGraphicsFn>("pluginPictureGraphicsGetter")(destination);
    ASSERT_NE(graphics, nullptr);
    auto drawPicture = reinterpret_cast<REALGraphicsDrawPictureFn>(Method(graphics, REAL_DRAWPICTURE_DECLARATION));
    ASSERT_NE(drawPicture, nullptr);
    drawPicture(graphics, source, x, y, w, h, sx, sy, sw, sh);
    Entry<REALUnlockObjectFn>("REALUnlockObject")(graphics);
}

TEST(HostDrawPicture, CopiesOneToOneAcrossLayouts) {
    for (int code = 1; code <= 7; ++code) {
        HostConfig config;
        config.app = code == 7 ? AppKind::Console : AppKind::Desktop;
        config.plainLayout = code == 7 ? 1 : code;
        Host host(config);
        REALpicture source = zpxtest::MakePicture(host, 3, 2, false, zpxtest::TestPattern);
        REALpicture destination = host.NewPicture(3, 2, false);
        Draw(destination, source, 0, 0, 3, 2);
        EXPECT_EQ(host.ReadRGBA(destination, true), host.ReadRGBA(source, true)) << code;
        EXPECT_TRUE(host.PaddingIntact(destination));
        EXPECT_EQ(host.AuditProblems({source, destination}), "");
        host.Release(source);
        host.Release(destination);
    }
}

TEST(HostDrawPicture, AppliesTheSourceMask) {
    for (AppKind app : {AppKind::Desktop, AppKind::Console}) {
        HostConfig config;
        config.app = app;
        Host host(config);
        REALpicture source = zpxtest::MakePicture(host, 3, 1, false, [](int, int) { return RGBA{0, 0, 200, 255}; });
        const int levels[] = {0, 255, 153};  // 153: 40% coverage
        zpxtest::AttachMask(host, source, [&](int x, int) { return levels[x]; });
        REALpicture destination =
            zpxtest::MakePicture(host, 3, 1, false, [](int, int) { return RGBA{100, 0, 0, 255}; });
        Draw(destination, source, 0, 0, 3, 1);
        EXPECT_EQ(host.GetPixel(destination, 0, 0), (RGBA{0, 0, 200, 255})) << "black: opaque";
        EXPECT_EQ(host.GetPixel(destination, 1, 0), (RGBA{100, 0, 0, 255})) << "white: transparent";
        EXPECT_EQ(host.GetPixel(destination, 2, 0), (RGBA{60, 0, 80, 255}));
        EXPECT_EQ(host.AuditProblems({source, destination}), "");
        host.Release(source);
        host.Release(destination);
    }
}

TEST(HostMethods, FoundByExactDeclarationSwitchedOffOrThrowing) {
    Host host;
    REALpicture picture = host.NewPicture(2, 2, false);
    REALpicture source = host.NewPicture(2, 2, false);
    host.SetPixel(source, 0, 0, {1, 2, 3, 255});
    EXPECT_EQ(Method(picture, "copymask as picture"), nullptr);
    EXPECT_EQ(Method(picture, REAL_DRAWPICTURE_DECLARATION), nullptr) << "a Graphics method";
    host.SetMethodMissing(HostMethod::CopyMask);
    EXPECT_EQ(Method(picture, REAL_COPYMASK_DECLARATION), nullptr);

    host.SetMethodHook(HostMethod::DrawPicture, [] { throw std::runtime_error("drawing failed"); });
    EXPECT_THROW(Draw(picture, source, 0, 0, 2, 2), std::runtime_error);
    EXPECT_EQ(host.GetPixel(picture, 0, 0), (RGBA{255, 255, 255, 255}));
    host.SetMethodHook(HostMethod::SetMask, [] { throw std::runtime_error("no mask today"); });
    auto setMask = reinterpret_cast<REALSetMaskFn>(Method(picture, REAL_SETMASK_DECLARATION));
    EXPECT_THROW(setMask(ObjectOf(picture), source), std::runtime_error);
    EXPECT_EQ(host.MaskOf(picture), nullptr);
    EXPECT_EQ(host.MethodCalls(HostMethod::SetMask), 1);

    host.SetGraphicsMissing();
    EXPECT_EQ(Entry<REALGetPictureGraphicsFn>("pluginPictureGraphicsGetter")(picture), nullptr);
    host.Release(picture);
    host.Release(source);
}

}  // namespace
