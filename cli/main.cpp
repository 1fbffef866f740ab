// The zpx program, guarded against standard streams as a script may hand
// them over: closed, or unwritable.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli/Errors.h"
#include "cli/Program.h"

namespace {

// A standard descriptor the caller closed is taken by /dev/null, read-only:
// no file zpx opens can then become its standard output, and writing to it
// still fails, as writing to a closed descriptor does.
void OccupyClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", O_RDONLY);  // the lowest free: fd
}

// Success is a failure when what the command printed did not get out.
int WithStandardOutputWritten(int status) {
    errno = 0;
    std::cout.flush();
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good()) return status;
    const int error = errno;
    std::fprintf(stderr, "zpx: cannot write standard output%s%s\n", error ? ": " : "", error ? std::strerror(error) : "");
    return status == zpxcli::kExitSuccess ? zpxcli::kExitUnusable : status;
}

}  // namespace

int main(int argc, char** argv) {
    OccupyClosedStandardDescriptors();
    // Past a file-size limit (ulimit -f), a write fails with EFBIG instead of ending the program.
    ::signal(SIGXFSZ, SIG_IGN);
    return WithStandardOutputWritten(zpxcli::RunZpx(argc, argv));
}
