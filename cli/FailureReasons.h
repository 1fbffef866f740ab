// Why a method gave nil or false, as far as zpx can tell without asking the
// library: from the host it plays (its version, the largest picture it
// makes), the receiver, the arguments, and the limits the library documents
// for its working buffers and its drawing.
#pragma once

#include <string>
#include <vector>

#include "host/Host.h"

namespace zpxcli {

// One clause for "ScaleZPX returned nil: ...", or "" when none of the known
// reasons applies.
std::string FailureReason(const zpxhost::Host& host, const std::string& method, REALpicture receiver,
                          const std::vector<zpxhost::Value>& arguments);

}  // namespace zpxcli
