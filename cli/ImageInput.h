// The bytes of one image file as its reader asks for them: in order through a
// small buffer, so that a reader takes what the picture needs and no more (an
// 8 x 6 PGM followed by gigabytes costs one buffer), and at any offset for a
// reader that must look ahead before it allocates. The same reader code runs
// on a file descriptor and, for tests and fuzzing, on bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/FileDescriptor.h"

namespace zpxcli {

class ImageInput {
public:
    // Bytes in memory; they must outlive the input.
    ImageInput(const uint8_t* bytes, size_t size);
    // A regular file of `size` bytes, read from its start; the descriptor stays the caller's.
    ImageInput(int fd, uint64_t size);
    ImageInput(const ImageInput&) = delete;
    ImageInput& operator=(const ImageInput&) = delete;

    uint64_t Size() const { return size_; }
    uint64_t Position() const { return windowStart_ + windowOffset_; }
    uint64_t Remaining() const { return size_ - Position(); }

    // The next byte, or -1 at the end.
    int Peek() { return windowOffset_ < windowSize_ || Refill() ? window_[windowOffset_] : -1; }
    int Next() {
        int byte = Peek();
        if (byte >= 0) ++windowOffset_;
        return byte;
    }
    // Up to count bytes; fewer only at the end.
    size_t Read(uint8_t* into, size_t count);
    // Up to count bytes at an offset, without moving Position().
    size_t ReadAt(uint64_t offset, uint8_t* into, size_t count);

private:
    bool Refill();
    size_t ReadFileAt(uint64_t offset, uint8_t* into, size_t count);

    int fd_ = -1;
    uint64_t size_ = 0;
    const uint8_t* window_ = nullptr;  // the bytes at windowStart_ onwards
    size_t windowSize_ = 0;
    size_t windowOffset_ = 0;
    uint64_t windowStart_ = 0;
    std::vector<uint8_t> buffer_;  // the window, for a file
    std::vector<uint8_t> ahead_;   // what ReadAt read last, for a file
    uint64_t aheadStart_ = 0;
    size_t aheadSize_ = 0;
};

// A picture file open for reading. Anything but a regular file (a FIFO, a
// device, a directory) is refused before it is opened, so that zpx never
// blocks on one or takes the bytes a writer meant for someone else. Throws
// ImageError.
class InputFile {
public:
    explicit InputFile(const std::string& path) : InputFile(OpenRegularFile(path)) {}

    ImageInput& input() { return input_; }

private:
    struct Opened {
        FileDescriptor fd;
        uint64_t size;
    };
    static Opened OpenRegularFile(const std::string& path);
    explicit InputFile(Opened opened) : fd_(std::move(opened.fd)), input_(fd_.get(), opened.size) {}

    FileDescriptor fd_;
    ImageInput input_;
};

}  // namespace zpxcli
