// calloc and free for the whole of zpxbench: glibc's own, with a tally of the
// calloc'd blocks while one is running. The table is a fixed open-addressed
// array, so recording a block allocates nothing; an idle tally costs a branch.
#include "bench/CallocTally.h"

#include <cstdint>

extern "C" {
void* __libc_calloc(size_t count, size_t size);
void __libc_free(void* memory);
}

namespace {

struct Block {
    void* address;
    size_t bytes;
};

// Room for the contribution lists of the largest benchmark (one block per
// destination row or column) with the table well under half full.
constexpr size_t kSlots = size_t(1) << 16;
void* const kRemoved = reinterpret_cast<void*>(~uintptr_t(0));

Block gBlocks[kSlots];
size_t gUsedSlots = 0;  // holding a block or a removal mark
size_t gAliveBytes = 0;
bool gRunning = false;
zpxbench::CallocTally gTally;

size_t FirstSlot(const void* address) {
    uintptr_t word = reinterpret_cast<uintptr_t>(address) >> 4;
    return static_cast<size_t>((word * 0x9E3779B97F4A7C15ull) >> 32) & (kSlots - 1);
}

void Record(void* address, size_t bytes) {
    if (gUsedSlots >= kSlots / 2) {
        gTally.complete = false;
        return;
    }
    size_t slot = FirstSlot(address);
    while (gBlocks[slot].address != nullptr && gBlocks[slot].address != kRemoved) slot = (slot + 1) & (kSlots - 1);
    if (gBlocks[slot].address == nullptr) ++gUsedSlots;
    gBlocks[slot] = {address, bytes};
    gAliveBytes += bytes;
    if (gAliveBytes > gTally.peakBytes) gTally.peakBytes = gAliveBytes;
}

void Forget(void* address) {
    for (size_t slot = FirstSlot(address); gBlocks[slot].address != nullptr; slot = (slot + 1) & (kSlots - 1)) {
        if (gBlocks[slot].address == address) {
            gAliveBytes -= gBlocks[slot].bytes;
            gBlocks[slot].address = kRemoved;
            return;
        }
    }
}

}  // namespace

extern "C" void* calloc(size_t count, size_t size) noexcept {
    void* memory = __libc_calloc(count, size);
    if (gRunning && memory != nullptr) {
        size_t bytes = count * size;  // cannot overflow: glibc refuses such a request
        ++gTally.allocations;
        if (bytes > gTally.largestBlock) gTally.largestBlock = bytes;
        Record(memory, bytes);
    }
    return memory;
}

extern "C" void free(void* memory) noexcept {
    if (gRunning && memory != nullptr) Forget(memory);
    __libc_free(memory);
}

namespace zpxbench {

void StartCallocTally() {
    for (Block& block : gBlocks) block = {nullptr, 0};
    gUsedSlots = 0;
    gAliveBytes = 0;
    gTally = CallocTally{};
    gRunning = true;
}

CallocTally StopCallocTally() {
    gRunning = false;
    gTally.leftAlive = gAliveBytes;
    return gTally;
}

}  // namespace zpxbench
