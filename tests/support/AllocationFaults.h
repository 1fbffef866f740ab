// calloc is wrapped in the test programs (-Wl,--wrap=calloc): the plug-in's
// working buffers can be counted, and any one of them made to fail.
#pragma once

#include <cstddef>

namespace zpxtest {

// Counts callocs from now on; the n-th (1-based) returns null; 0 fails none.
void FailNthAllocation(int n);
int AllocationsSeen();
// Largest byte size asked for since the last reset.
size_t LargestAllocation();
void ResetAllocationFaults();

}  // namespace zpxtest
