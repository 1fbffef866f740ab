// The memory-bandwidth floor of an operation that reads a source once and
// writes a result once: a plain pass summing the source's words and filling
// the result, timed like the benchmarks (median of repeated runs; the wall
// clock, or with BENCH_CLOCK=cpu the process's CPU time).
//
//   memfloor SRC_WIDTH SRC_HEIGHT DST_WIDTH DST_HEIGHT [REPEAT]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

double Milliseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1000 + double(now.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: memfloor SRC_WIDTH SRC_HEIGHT DST_WIDTH DST_HEIGHT [REPEAT]\n");
        return 2;
    }
    const size_t source = size_t(atol(argv[1])) * size_t(atol(argv[2]));
    const size_t destination = size_t(atol(argv[3])) * size_t(atol(argv[4]));
    const int repeat = argc > 5 ? atoi(argv[5]) : 15;
    std::vector<uint32_t> from(source, 0x01020304u), to(destination);
    const char* clockName = std::getenv("BENCH_CLOCK");
    const clockid_t clock =
        clockName != nullptr && std::strcmp(clockName, "cpu") == 0 ? CLOCK_PROCESS_CPUTIME_ID : CLOCK_MONOTONIC;
    std::vector<double> times;
    uint64_t checksum = 0;
    for (int run = 0; run < repeat; ++run) {
        double start = Milliseconds(clock);
        uint64_t sum = 0;
        for (size_t i = 0; i < source; ++i) sum += from[i];
        std::fill(to.begin(), to.end(), static_cast<uint32_t>(sum));
        double stop = Milliseconds(clock);
        checksum += sum + to[destination / 2];
        times.push_back(stop - start);
    }
    std::sort(times.begin(), times.end());
    printf("read %zu and write %zu pixels: median %.3f ms (checksum %llu)\n", source, destination,
           times[times.size() / 2], static_cast<unsigned long long>(checksum & 0xFF));
    return 0;
}
