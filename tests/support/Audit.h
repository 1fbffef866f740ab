// The host's audit with any list of pictures expected alive. The host takes
// them as an initializer list, so the list is padded with nils to a fixed
// length. Without gtest, for the fuzz targets too.
#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "host/Host.h"

namespace zpxtest {

constexpr size_t kMaxAudited = 16;

template <size_t... I>
std::string AuditOfPadded(const zpxhost::Host& host, const std::array<const void*, kMaxAudited>& alive,
                          std::index_sequence<I...>) {
    return host.AuditProblems({alive[I]...});
}

template <class Pictures>
std::string AuditOf(const zpxhost::Host& host, const Pictures& alive) {
    std::array<const void*, kMaxAudited> padded{};
    if (alive.size() > padded.size()) return "more pictures than the audit takes";
    std::copy(alive.begin(), alive.end(), padded.begin());
    return AuditOfPadded(host, padded, std::make_index_sequence<kMaxAudited>());
}

}  // namespace zpxtest
