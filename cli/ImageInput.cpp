#include "cli/ImageInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/ImageFile.h"

namespace zpxcli {

namespace {

constexpr size_t kBufferBytes = 64 * 1024;
const char kNotRegularFile[] = "not a regular file (FIFOs, devices and sockets are not read)";

}  // namespace

ImageInput::ImageInput(const uint8_t* bytes, size_t size) : size_(size), window_(bytes), windowSize_(size) {}

ImageInput::ImageInput(int fd, uint64_t size) : fd_(fd), size_(size), buffer_(kBufferBytes) {
    window_ = buffer_.data();
}

bool ImageInput::Refill() {
    if (fd_ < 0) return false;
    windowStart_ += windowSize_;
    windowOffset_ = windowSize_ = 0;
    // A file that grew after it was opened is read to the size it had.
    const size_t wanted = size_t(std::min<uint64_t>(buffer_.size(), size_ - windowStart_));
    ssize_t got = 0;
    do {
        got = wanted == 0 ? 0 : ::read(fd_, buffer_.data(), wanted);
    } while (got < 0 && errno == EINTR);
    if (got < 0) throw SystemFailure("cannot read");
    windowSize_ = size_t(got);
    return got > 0;
}

size_t ImageInput::Read(uint8_t* into, size_t count) {
    size_t done = 0;
    while (done < count && (windowOffset_ < windowSize_ || Refill())) {
        const size_t take = std::min(count - done, windowSize_ - windowOffset_);
        std::memcpy(into + done, window_ + windowOffset_, take);
        windowOffset_ += take;
        done += take;
    }
    return done;
}

size_t ImageInput::ReadAt(uint64_t offset, uint8_t* into, size_t count) {
    if (offset >= size_) return 0;
    count = size_t(std::min<uint64_t>(count, size_ - offset));
    if (fd_ < 0) {
        std::memcpy(into, window_ + offset, count);
        return count;
    }
    if (count > kBufferBytes) return ReadFileAt(offset, into, count);
    // Through a window of its own, so that a reader looking ahead at many
    // small pieces (a PNG's chunk headers) makes few reads.
    if (offset < aheadStart_ || offset + count > aheadStart_ + aheadSize_) {
        ahead_.resize(kBufferBytes);
        aheadStart_ = offset;
        aheadSize_ = ReadFileAt(offset, ahead_.data(), size_t(std::min<uint64_t>(kBufferBytes, size_ - offset)));
    }
    count = size_t(std::min<uint64_t>(count, aheadStart_ + aheadSize_ - offset));
    std::memcpy(into, ahead_.data() + (offset - aheadStart_), count);
    return count;
}

size_t ImageInput::ReadFileAt(uint64_t offset, uint8_t* into, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t got = ::pread(fd_, into + done, count - done, off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw SystemFailure("cannot read");
        if (got == 0) break;
        done += size_t(got);
    }
    return done;
}

InputFile::Opened InputFile::OpenRegularFile(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) throw SystemFailure("cannot open");
    if (S_ISDIR(status.st_mode)) throw ImageError("is a directory");
    if (!S_ISREG(status.st_mode)) throw ImageError(kNotRegularFile);
    // Without blocking, in case a FIFO took the file's place since.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) throw SystemFailure("cannot open");
    if (::fstat(fd.get(), &status) != 0) throw SystemFailure("cannot read");
    if (!S_ISREG(status.st_mode)) throw ImageError(kNotRegularFile);
    return {std::move(fd), uint64_t(status.st_size)};
}

}  // namespace zpxcli
