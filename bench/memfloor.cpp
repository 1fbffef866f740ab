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

// Sums the words two at a time into four independent sums kept in
// registers, so that the loop waits on memory rather than on its additions.
uint64_t ReadAll(const std::vector<uint32_t>& words) {
    const uint32_t* at = words.data();
    const size_t blocks = words.size() / 8;
    uint64_t a = 0, b = 0, c = 0, d = 0;
    for (size_t i = 0; i < blocks; ++i, at += 8) {
        uint64_t block[4];
        memcpy(block, at, sizeof block);
        a += block[0];
        b += block[1];
        c += block[2];
        d += block[3];
    }
    uint64_t sum = a + b + c + d;
    for (size_t j = blocks * 8; j < words.size(); ++j) sum += words[j];
    return sum;
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
        const uint64_t sum = ReadAll(from);
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
