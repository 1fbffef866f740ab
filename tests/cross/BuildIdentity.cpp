// Prints the architecture of this build and the pixel path its operations
// take on this processor ("x86-64 avx2", "arm64 neon"), which is the path the
// module built beside it takes too.
#include <cstdio>

#include "lanes/PixelPath.h"

int main() {
#if defined(__x86_64__)
    const char* architecture = "x86-64";
#elif defined(__i386__)
    const char* architecture = "i386";
#elif defined(__aarch64__)
    const char* architecture = "arm64";
#else
    const char* architecture = "unknown";
#endif
    std::printf("%s %s\n", architecture, PixelPathName(BestPixelPath()));
    return 0;
}
