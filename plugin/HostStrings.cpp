#include "plugin/HostStrings.h"

#include <cstring>
#include <new>

#include "plugin/HostCallbacks.h"
#include "plugin/HostRefs.h"

namespace {

constexpr int64_t kLongestHostString = 2147483647;

// Set while the out-of-memory exception is being raised: running out of memory
// again while building its message must not raise once more.
bool gRaisingOutOfMemory = false;

class OutOfMemoryRaise {
public:
    OutOfMemoryRaise() { gRaisingOutOfMemory = true; }
    ~OutOfMemoryRaise() { gRaisingOutOfMemory = false; }
    OutOfMemoryRaise(const OutOfMemoryRaise&) = delete;
    OutOfMemoryRaise& operator=(const OutOfMemoryRaise&) = delete;
};

void RaiseOutOfMemory() {
    if (gRaisingOutOfMemory) return;
    OutOfMemoryRaise raising;
    RaiseException("OutOfMemoryException", "Failed to allocate memory for a string.", REALencodingASCII, 0);
}

}  // namespace

REALstring REALBuildUnicodeString(const char* bytes, int64_t count, uint32_t encoding) {
    if (bytes == nullptr || count < 1 || count > kLongestHostString) return nullptr;
    try {
        HostStringRef string(originalREALBuildString(bytes, static_cast<int32_t>(count)));
        if (!string) return nullptr;
        REALSetStringEncoding(string.get(), encoding);
        return string.release();
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory();
        return nullptr;
    }
}

void RaiseException(const char* className, const char* message, uint32_t encoding, int32_t errorNumber) {
    HostStringRef text;
    if (message != nullptr) text.reset(REALBuildUnicodeString(message, static_cast<int64_t>(strlen(message)), encoding));
    HostObjectRef exception(REALnewInstance(className));
    if (!exception) exception.reset(REALnewInstance("RuntimeException"));
    if (!exception) return;
    REALSetPropValueString(exception.get(), "Message", text.get());
    REALSetPropValueInt32(exception.get(), "ErrorNumber", errorNumber);
    REALRaiseException(exception.get());
}
