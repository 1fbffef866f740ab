// CTest runs the unit suite once per pixel path (ZPX_TEST_PIXEL_PATH = plain,
// baseline, avx2, avx512): every test starts on that path, so every pixel test
// proves its bytes on each of them. A path the processor lacks runs the best
// one it has.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "lanes/PixelPath.h"

namespace {

PixelPath RequestedPath() {
    const char* name = getenv("ZPX_TEST_PIXEL_PATH");
    if (name == nullptr) return BestPixelPath();
    for (PixelPath path : {PixelPath::Plain, PixelPath::Baseline, PixelPath::Avx2, PixelPath::Avx512}) {
        if (strcmp(name, PixelPathName(path)) == 0) return path;
    }
    return BestPixelPath();
}

class PixelPathForEachTest : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { ForcePixelPath(RequestedPath()); }
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new PixelPathForEachTest);
    return true;
}();

}  // namespace
