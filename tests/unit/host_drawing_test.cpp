// The emulated host's drawing and masks: DrawPicture through a Graphics
// object, one to one as the library draws, masks made, copied and assigned,
// and the switches on those methods.
#include <gtest/gtest.h>

#include <algorithm>
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
        config.plainLayout = std::min(code, 6);
        Host host(config);
        REALpicture source = zpxtest::MakePicture(host, 3, 2, false, zpxtest::TestPattern);
        REALpicture destination = host.NewPicture(3, 2, false);
        Draw(destination, source, 0, 0, 3, 2);
        EXPECT_EQ(host.ReadRGBA(destination, true), host.ReadRGBA(source, true)) << code;
        EXPECT_TRUE(host.PaddingIntact(destination));
        EXPECT_EQ(host.MethodCalls(HostMethod::DrawPicture), 1);
        EXPECT_EQ(host.AuditProblems({source, destination}), "");
        host.Release(source);
        host.Release(destination);
    }
}

TEST(HostDrawPicture, AppliesTheSourceMaskAndComposites) {
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

        REALpicture translucent = host.NewPicture(1, 1, true);
        host.SetPixel(translucent, 0, 0, {255, 0, 0, 128});
        REALpicture white = host.NewPicture(1, 1, false);
        Draw(white, translucent, 0, 0, 1, 1);
        EXPECT_EQ(host.GetPixel(white, 0, 0), (RGBA{255, 127, 127, 255}));
        REALpicture clear = host.NewPicture(1, 1, true);
        Draw(clear, translucent, 0, 0, 1, 1);
        EXPECT_EQ(host.GetPixel(clear, 0, 0), host.GetPixel(translucent, 0, 0));
        EXPECT_EQ(host.AuditProblems({source, destination, translucent, white, clear}), "");
        for (REALpicture p : {source, destination, translucent, white, clear}) host.Release(p);
    }
}

TEST(HostMasks, MadeOnRequestAndSharedWhileTheyLive) {
    Host host;
    auto getMask = Entry<REALGetPictureMaskFn>("REALGetPictureMask");
    REALpicture picture = host.NewPicture(2, 3, false);
    EXPECT_EQ(getMask(picture, false), nullptr);
    REALpicture mask = getMask(picture, true);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(host.Width(mask), 2);
    EXPECT_EQ(host.Height(mask), 3);
    EXPECT_FALSE(host.HasAlpha(mask));
    EXPECT_EQ(host.GetPixel(mask, 1, 2), (RGBA{0, 0, 0, 255}));
    EXPECT_EQ(getMask(picture, true), mask);
    EXPECT_EQ(host.RefCount(mask), 3);
    host.Release(mask);
    host.Release(mask);
    EXPECT_EQ(host.MaskOf(picture), mask);
    EXPECT_EQ(host.PictureCreations(), 1);

    host.FailPictureCreation(1);
    REALpicture other = host.NewPicture(1, 1, false);
    EXPECT_EQ(getMask(other, true), nullptr);
    EXPECT_EQ(host.AuditProblems({picture, other}), "");
    host.Release(picture);
    host.Release(other);
}

TEST(HostMasks, CopyMaskAndTheSetter) {
    Host host;
    auto copyMaskOf = [&](REALpicture picture) {
        auto copyMask = reinterpret_cast<REALCopyMaskFn>(Method(picture, REAL_COPYMASK_DECLARATION));
        return copyMask(ObjectOf(picture));
    };
    REALpicture plain = host.NewPicture(2, 1, false);
    EXPECT_EQ(copyMaskOf(plain), nullptr) << "neither mask nor alpha channel";

    REALpicture alpha = host.NewPicture(2, 1, true);
    host.SetPixel(alpha, 0, 0, {9, 9, 9, 255});
    host.SetPixel(alpha, 1, 0, {9, 9, 9, 55});
    REALpicture fromAlpha = copyMaskOf(alpha);
    ASSERT_NE(fromAlpha, nullptr);
    EXPECT_FALSE(host.HasAlpha(fromAlpha));
    EXPECT_EQ(host.GetPixel(fromAlpha, 0, 0), (RGBA{0, 0, 0, 255}));
    EXPECT_EQ(host.GetPixel(fromAlpha, 1, 0), (RGBA{200, 200, 200, 255}));

    auto setMask = reinterpret_cast<REALSetMaskFn>(Method(plain, REAL_SETMASK_DECLARATION));
    setMask(ObjectOf(plain), fromAlpha);
    EXPECT_EQ(host.MaskOf(plain), fromAlpha);
    REALpicture copied = copyMaskOf(plain);
    ASSERT_NE(copied, nullptr);
    EXPECT_NE(copied, fromAlpha);
    EXPECT_EQ(host.ReadRGBA(copied, false), host.ReadRGBA(fromAlpha, false));
    EXPECT_EQ(host.AuditProblems({plain, alpha, fromAlpha, copied}), "");
    host.Release(fromAlpha);
    setMask(ObjectOf(plain), nullptr);
    EXPECT_EQ(host.MaskOf(plain), nullptr);
    EXPECT_EQ(host.RefCount(fromAlpha), 0) << "the setter dropped the host's reference";
    EXPECT_EQ(host.AuditProblems({plain, alpha, copied}), "");
    for (REALpicture p : {plain, alpha, copied}) host.Release(p);
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
