// The plug-in takes every working buffer with calloc, so the calloc'd blocks
// alive during one call are its working memory. zpxbench defines calloc and
// free itself; the module, loaded with dlopen, binds to them, and while a tally
// runs every block is recorded until it is freed.
#pragma once

#include <cstddef>

namespace zpxbench {

struct CallocTally {
    size_t peakBytes = 0;     // the most bytes of calloc'd blocks alive at one time
    size_t allocations = 0;   // calloc calls
    size_t largestBlock = 0;  // bytes of the largest one
    size_t leftAlive = 0;     // bytes still alive when the tally stopped
    bool complete = true;     // false when more blocks were alive at once than the tally can hold
};

void StartCallocTally();
CallocTally StopCallocTally();

}  // namespace zpxbench
