#include "lanes/PixelPath.h"

#if defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace {

PixelPath DetectBestPath() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")) {
        return PixelPath::Avx512;
    }
    if (__builtin_cpu_supports("avx2")) return PixelPath::Avx2;
    return PixelPath::Baseline;
#elif defined(__aarch64__)
    return (getauxval(AT_HWCAP) & HWCAP_ASIMD) != 0 ? PixelPath::Baseline : PixelPath::Plain;
#else
    return PixelPath::Plain;
#endif
}

PixelPath& Forced() {
    static PixelPath path = BestPixelPath();
    return path;
}

}  // namespace

PixelPath BestPixelPath() {
    static const PixelPath best = DetectBestPath();
    return best;
}

bool PixelPathAvailable(PixelPath path) { return static_cast<int>(path) <= static_cast<int>(BestPixelPath()); }

PixelPath ActivePixelPath() { return Forced(); }

void ForcePixelPath(PixelPath path) { Forced() = PixelPathAvailable(path) ? path : BestPixelPath(); }

const char* PixelPathName(PixelPath path) {
    switch (path) {
        case PixelPath::Plain:
            return "plain";
        case PixelPath::Baseline:
#if defined(__aarch64__)
            return "neon";
#else
            return "baseline";
#endif
        case PixelPath::Avx2:
            return "avx2";
        case PixelPath::Avx512:
            return "avx512";
    }
    return "unknown";
}
