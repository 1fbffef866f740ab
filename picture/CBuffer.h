// Working buffers taken with calloc and owned by the operation that took them.
// Byte sizes are checked in 64 bits before the request: a buffer of 0 bytes or
// more than 2^31 - 1 bytes is not requested and counts as missing.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

struct FreeDeleter {
    void operator()(void* memory) const { free(memory); }
};

template <typename T>
using CBuffer = std::unique_ptr<T[], FreeDeleter>;

constexpr int64_t kLargestWorkingBuffer = 2147483647;

inline bool WorkingBufferSizeAllowed(int64_t bytes) { return bytes >= 1 && bytes <= kLargestWorkingBuffer; }

// count elements of T, zero-filled; null when the size is refused or calloc fails.
template <typename T>
CBuffer<T> AllocateZeroed(int64_t count) {
    if (count < 1 || count > kLargestWorkingBuffer / static_cast<int64_t>(sizeof(T))) return nullptr;
    return CBuffer<T>(static_cast<T*>(calloc(static_cast<size_t>(count), sizeof(T))));
}

// An exact byte size (which may include slack beyond whole elements).
template <typename T>
CBuffer<T> AllocateZeroedBytes(int64_t bytes) {
    if (!WorkingBufferSizeAllowed(bytes)) return nullptr;
    return CBuffer<T>(static_cast<T*>(calloc(static_cast<size_t>(bytes), 1)));
}
