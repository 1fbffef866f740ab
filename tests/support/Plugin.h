// For the unit tests, which link the library's code: a host with the library
// loaded, and the comparison of every pixel path with the plain one. Header
// only, as the end-to-end tests load the built module instead.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "host/Host.h"
#include "lanes/PixelPath.h"
#include "plugin/PluginMain.h"
#include "tests/support/AllocationFaults.h"
#include "tests/support/Pictures.h"

namespace zpxtest {

// A host with the library loaded, and the pictures its test keeps.
struct LoadedHost {
    explicit LoadedHost(zpxhost::HostConfig config = {}) : host(config) { host.LoadEntry(REALPluginMain); }
    zpxhost::Host host;
    KeptPictures keep{host};
};

template <class Base>
class WithPlugin : public Base {
protected:
    void SetUp() override { host.LoadEntry(REALPluginMain); }
    void TearDown() override { ResetAllocationFaults(); }
    zpxhost::Host host{ConfigOfParameter()};
    KeptPictures keep{host};

private:
    zpxhost::HostConfig ConfigOfParameter() {
        if constexpr (std::is_base_of_v<::testing::WithParamInterface<HostSetup>, Base>) return Base::GetParam().config;
        return {};
    }
};

// A host of the default configuration with the library loaded.
using PluginTest = WithPlugin<::testing::Test>;
// The same in each host configuration of the parameter (EveryLayout, DesktopAndConsole).
using PluginLayoutTest = WithPlugin<::testing::TestWithParam<HostSetup>>;

// The words of a new picture, checked for writes past its rows, then released.
inline std::vector<uint32_t> TakeWords(zpxhost::Host& host, REALpicture result) {
    if (result == nullptr) {
        ADD_FAILURE() << "no result";
        return {};
    }
    EXPECT_TRUE(host.PaddingIntact(result));
    std::vector<uint32_t> words = RawWords(host, result);
    host.Release(result);
    return words;
}

// Runs `words` on the plain path, then on every other path the processor has,
// and expects the same words from each; the path taken before comes back.
inline void ExpectEveryPathGivesPlain(const std::string& what, const std::function<std::vector<uint32_t>()>& words) {
    const PixelPath before = ActivePixelPath();
    ForcePixelPath(PixelPath::Plain);
    const std::vector<uint32_t> plain = words();
    for (PixelPath path : {PixelPath::Baseline, PixelPath::Avx2, PixelPath::Avx512}) {
        if (!PixelPathAvailable(path)) continue;
        ForcePixelPath(path);
        EXPECT_EQ(words(), plain) << what << " on the " << PixelPathName(path) << " path";
    }
    ForcePixelPath(before);
}

}  // namespace zpxtest
