// Preloaded into zpx by the file tests to play a hostile system. Each fault
// is chosen by a variable of zpx's environment:
//   ZPX_TEST_STALL_MARK=PATH  the first write to a file (not to standard output
//                             or error) creates PATH and never returns, so that
//                             the test can signal a program caught mid-write;
//   ZPX_TEST_FULL_AFTER=N     the disk is full once N files have been written to:
//                             writes to any other file fail with ENOSPC;
//   ZPX_TEST_NO_TMPFILE=1     unnamed temporary files fail with EOPNOTSUPP, as on
//                             file systems that have none;
//   ZPX_TEST_CALL_LOG=PATH    every fsync and rename is noted in PATH, a line each.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void* Next(const char* name) { return dlsym(RTLD_NEXT, name); }

static ssize_t RealWrite(int fd, const void* bytes, size_t size) {
    static ssize_t (*real)(int, const void*, size_t);
    if (real == NULL) real = (ssize_t(*)(int, const void*, size_t))Next("write");
    return real(fd, bytes, size);
}

static void Note(const char* call) {
    const char* log = getenv("ZPX_TEST_CALL_LOG");
    if (log == NULL) return;
    int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char line[64];
    int length = snprintf(line, sizeof line, "%s\n", call);
    RealWrite(fd, line, (size_t)length);
    close(fd);
}

static int IsFile(int fd) {
    struct stat status;
    return fd > 2 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// True for the first `room` files written to.
static int HasRoomFor(int fd, int room) {
    static int files[64];
    static int count;
    for (int i = 0; i < count; ++i)
        if (files[i] == fd) return 1;
    if (count >= room || count == 64) return 0;
    files[count++] = fd;
    return 1;
}

ssize_t write(int fd, const void* bytes, size_t size) {
    if (IsFile(fd)) {
        const char* mark = getenv("ZPX_TEST_STALL_MARK");
        if (mark != NULL) {
            close(open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
            for (;;) pause();
        }
        const char* full = getenv("ZPX_TEST_FULL_AFTER");
        if (full != NULL && !HasRoomFor(fd, atoi(full))) {
            errno = ENOSPC;
            return -1;
        }
    }
    return RealWrite(fd, bytes, size);
}

int openat(int directory, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    if ((flags & O_TMPFILE) == O_TMPFILE && getenv("ZPX_TEST_NO_TMPFILE") != NULL) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return ((int (*)(int, const char*, int, ...))Next("openat"))(directory, path, flags, mode);
}

int fsync(int fd) {
    Note("fsync");
    return ((int (*)(int))Next("fsync"))(fd);
}

int renameat(int from, const char* old, int to, const char* new_) {
    Note("rename");
    return ((int (*)(int, const char*, int, const char*))Next("renameat"))(from, old, to, new_);
}

int renameat2(int from, const char* old, int to, const char* new_, unsigned int flags) {
    Note("rename");
    return ((int (*)(int, const char*, int, const char*, unsigned int))Next("renameat2"))(from, old, to, new_, flags);
}

int rename(const char* old, const char* new_) {
    Note("rename");
    return ((int (*)(const char*, const char*))Next("rename"))(old, new_);
}
