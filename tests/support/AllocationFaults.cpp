#include "tests/support/AllocationFaults.h"

#include <cstdlib>

extern "C" void* __real_calloc(size_t count, size_t size);

namespace {
int gFailAt = 0;
int gSeen = 0;
size_t gLargest = 0;
}  // namespace

extern "C" void* __wrap_calloc(size_t count, size_t size) {
    ++gSeen;
    size_t bytes = count * size;
    if (size != 0 && bytes / size == count && bytes > gLargest) gLargest = bytes;
    if (gSeen == gFailAt) return nullptr;
    return __real_calloc(count, size);
}

namespace zpxtest {

void FailNthAllocation(int n) {
    gSeen = 0;
    gFailAt = n;
}
int AllocationsSeen() { return gSeen; }
size_t LargestAllocation() { return gLargest; }
void ResetAllocationFaults() {
    gFailAt = 0;
    gSeen = 0;
    gLargest = 0;
}

}  // namespace zpxtest
