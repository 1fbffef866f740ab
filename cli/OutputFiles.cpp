#include "cli/OutputFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/FileDescriptor.h"

namespace zpxcli {

namespace {

constexpr size_t kBufferBytes = 256 * 1024;

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// The signals that end a program by default and that a user or a system
// sends to stop one.
sigset_t TerminatingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&signals, signal);
    return signals;
}

// While a commit moves files, a terminating signal waits for it to finish.
class TerminatingSignalsHeld {
public:
    TerminatingSignalsHeld() {
        sigset_t signals = TerminatingSignals();
        sigprocmask(SIG_BLOCK, &signals, &before_);
    }
    ~TerminatingSignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
    TerminatingSignalsHeld(const TerminatingSignalsHeld&) = delete;
    TerminatingSignalsHeld& operator=(const TerminatingSignalsHeld&) = delete;

private:
    sigset_t before_;
};

// Named temporaries, for file systems without unnamed ones: a terminating
// signal removes them before the program ends. Entries change only with those
// signals held, so the handler never sees half of one.
struct NamedTemporary {
    volatile sig_atomic_t inUse = 0;
    int directory = -1;
    char name[32] = {0};
};
NamedTemporary gNamedTemporaries[8];

void RemoveNamedTemporariesAndStop(int signal) {
    for (NamedTemporary& temporary : gNamedTemporaries)
        if (temporary.inUse) ::unlinkat(temporary.directory, temporary.name, 0);
    // The handler was reset on entry: the signal, now pending, ends the program on return.
    ::raise(signal);
}

void HandleTerminatingSignals() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction action = {};
        if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;  // nohup
        action.sa_handler = RemoveNamedTemporariesAndStop;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

NamedTemporary* RegisterNamedTemporary(int directory, const std::string& name) {
    TerminatingSignalsHeld held;
    HandleTerminatingSignals();
    for (NamedTemporary& temporary : gNamedTemporaries) {
        if (temporary.inUse) continue;
        temporary.directory = directory;
        std::snprintf(temporary.name, sizeof temporary.name, "%s", name.c_str());
        temporary.inUse = 1;
        return &temporary;
    }
    return nullptr;  // more outputs than any command has: removed on every path but a signal
}

void UnregisterNamedTemporary(NamedTemporary* temporary) {
    if (temporary == nullptr) return;
    TerminatingSignalsHeld held;
    temporary->inUse = 0;
}

// ".zpx-" and twelve random hex digits: short, whatever the target's name.
std::string HiddenName() {
    static uint64_t counter = 0;
    uint64_t random = 0;
    if (getrandom(&random, sizeof random, GRND_NONBLOCK) != ssize_t(sizeof random))
        random = uint64_t(::getpid()) << 32 ^ uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    random ^= ++counter;
    char name[32];
    std::snprintf(name, sizeof name, ".zpx-%012llx", static_cast<unsigned long long>(random & 0xFFFFFFFFFFFFull));
    return name;
}

// The new file keeps the old one's owner where that is permitted, and its mode.
void KeepOwnerAndMode(int fd, const struct stat& old) {
    // Not permitted unless root: the file becomes the user's, as a copy would.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    }
    // After fchown, which clears set-user and set-group bits.
    ::fchmod(fd, old.st_mode & 07777);
}

void SyncDirectory(int directory) {
    FileDescriptor opened(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.get() >= 0) ::fsync(opened.get());
}

}  // namespace

OutputTarget ResolveOutputTarget(const std::string& path) {
    OutputTarget target;
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno != ENOENT) throw SystemFailure("cannot write");
        std::string directory = RealPath(DirectoryOf(path));
        if (directory.empty()) {
            if (errno == ENOENT) throw ImageError("cannot write: no such directory");
            throw SystemFailure("cannot write");
        }
        if (::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0) throw SystemFailure("cannot write");
        target.path = (directory == "/" ? "" : directory) + "/" + BaseNameOf(path);
        return target;
    }
    target.path = RealPath(path);
    if (target.path.empty()) {
        if (errno == ENOENT) throw ImageError("is a symbolic link to a file that does not exist");
        throw SystemFailure("cannot write");
    }
    if (::stat(target.path.c_str(), &status) != 0) throw SystemFailure("cannot write");
    if (S_ISDIR(status.st_mode)) throw ImageError("is a directory");
    if (!S_ISREG(status.st_mode)) throw ImageError("not a regular file (FIFOs, devices and sockets are not replaced)");
    // A read-only file is refused, as cp refuses it; its directory must take the new file.
    if (::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0 ||
        ::faccessat(AT_FDCWD, DirectoryOf(target.path).c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        throw SystemFailure("cannot write");
    target.exists = true;
    target.status = status;
    return target;
}

bool SameFile(const OutputTarget& one, const OutputTarget& other) {
    if (one.exists && other.exists)
        return one.status.st_dev == other.status.st_dev && one.status.st_ino == other.status.st_ino;
    return one.path == other.path;
}

// One output on its way: the new contents in a temporary file of the
// target's directory.
struct OutputFiles::Output final : ByteSink {
    std::string path;  // as the user named it
    OutputTarget target;
    std::string targetName;     // the target's name in its directory
    FileDescriptor directory;   // the target's directory
    FileDescriptor file;        // the new contents
    std::string hiddenName;     // their name in directory, once they have one
    NamedTemporary* named = nullptr;
    bool inPlace = false;       // a file with other hard links, written over
    bool exchanged = false;     // the hidden name holds the target's old contents
    bool renamed = false;
    uint64_t written = 0;
    std::vector<uint8_t> buffer;

    ~Output() {
        UnregisterNamedTemporary(named);
        if (!hiddenName.empty()) ::unlinkat(directory.get(), hiddenName.c_str(), 0);
    }

    // "out.png: cannot write: No space left on device", for errno as it is.
    ImageError Failure(const char* what) const { return ImageError(path + ": " + what + ": " + std::strerror(errno)); }

    void Write(const uint8_t* bytes, size_t size) override {
        if (buffer.size() + size > kBufferBytes) Flush();
        if (size >= kBufferBytes) WriteAll(bytes, size);
        else buffer.insert(buffer.end(), bytes, bytes + size);
    }

    void Flush() {
        WriteAll(buffer.data(), buffer.size());
        buffer.clear();
    }

    void WriteAll(const uint8_t* bytes, size_t size) {
        while (size > 0) {
            ssize_t done = ::write(file.get(), bytes, size);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) {
                if (done == 0) errno = ENOSPC;
                throw Failure("cannot write");
            }
            bytes += done;
            size -= size_t(done);
            written += uint64_t(done);
        }
    }

    // Complete and on disk.
    void Finish() {
        Flush();
        if (::fsync(file.get()) != 0) throw Failure("cannot write");
    }

    void OpenTemporary() {
        file = FileDescriptor(::openat(directory.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        if (file.get() < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) OpenNamedTemporary();
        if (file.get() < 0) throw Failure("cannot write");
        if (target.exists) KeepOwnerAndMode(file.get(), target.status);
    }

    void OpenNamedTemporary() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = HiddenName();
            TerminatingSignalsHeld held;  // no signal between creating the file and noting its name
            file = FileDescriptor(
                ::openat(directory.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
            if (file.get() >= 0) {
                hiddenName = name;
                named = RegisterNamedTemporary(directory.get(), name);
                return;
            }
            if (errno != EEXIST) return;
        }
    }

    // Gives the unnamed temporary a hidden name beside its target.
    void LinkHidden() {
        if (!hiddenName.empty()) return;
        char self[48];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", file.get());
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = HiddenName();
            if (::linkat(AT_FDCWD, self, directory.get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                (errno == ENOENT && ::linkat(file.get(), "", directory.get(), name.c_str(), AT_EMPTY_PATH) == 0)) {
                hiddenName = name;
                return;
            }
            if (errno != EEXIST) break;
        }
        throw Failure("cannot write");
    }

    // The target's old contents under the hidden name and the new under the
    // target's: undone by doing it again. False where the file system cannot.
    bool Exchange() {
        if (::renameat2(directory.get(), hiddenName.c_str(), directory.get(), targetName.c_str(), RENAME_EXCHANGE) ==
            0)
            return true;
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) return false;
        throw Failure("cannot write");
    }

    void Rename() {
        if (::renameat(directory.get(), hiddenName.c_str(), directory.get(), targetName.c_str()) != 0)
            throw Failure("cannot write");
        hiddenName.clear();
    }

    // Puts the target back as it was, where that can be done.
    void Undo() {
        if (exchanged)
            ::renameat2(directory.get(), hiddenName.c_str(), directory.get(), targetName.c_str(), RENAME_EXCHANGE);
        else if (renamed && !target.exists)
            ::unlinkat(directory.get(), targetName.c_str(), 0);
    }
};

OutputFiles::OutputFiles() = default;
OutputFiles::~OutputFiles() = default;

ByteSink& OutputFiles::Add(const std::string& path) {
    auto output = std::make_unique<Output>();
    output->path = path;
    try {
        output->target = ResolveOutputTarget(path);
    } catch (const ImageError& error) {
        throw ImageError(path + ": " + error.what());
    }
    for (const std::unique_ptr<Output>& other : outputs_)
        if (SameFile(other->target, output->target)) throw ImageError(path + ": is also " + other->path);
    output->targetName = BaseNameOf(output->target.path);
    output->directory = FileDescriptor(::open(DirectoryOf(output->target.path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (output->directory.get() < 0) throw output->Failure("cannot write");
    output->inPlace = output->target.exists && output->target.status.st_nlink > 1;
    output->OpenTemporary();
    output->buffer.reserve(kBufferBytes);
    outputs_.push_back(std::move(output));
    return *outputs_.back();
}

void OutputFiles::Commit() {
    for (const std::unique_ptr<Output>& output : outputs_) output->Finish();
    TerminatingSignalsHeld held;
    std::vector<Output*> renamed;
    for (const std::unique_ptr<Output>& output : outputs_) {
        if (output->inPlace) continue;
        output->LinkHidden();
        renamed.push_back(output.get());
    }
    for (const std::unique_ptr<Output>& output : outputs_)
        if (output->inPlace) CommitInPlace(*output);
    CommitByRenaming(renamed);
    for (Output* output : renamed) {
        if (output->exchanged) ::unlinkat(output->directory.get(), output->hiddenName.c_str(), 0);
        output->hiddenName.clear();
        SyncDirectory(output->directory.get());
    }
    outputs_.clear();
}

// Every output but the last swaps places with its old file, so that a later
// failure can swap them back; the last one's success commits them all.
void OutputFiles::CommitByRenaming(std::vector<Output*>& renamed) {
    size_t done = 0;
    try {
        for (; done < renamed.size(); ++done) {
            Output& output = *renamed[done];
            bool last = done + 1 == renamed.size();
            if (!last && output.target.exists && output.Exchange()) {
                output.exchanged = true;
            } else {
                output.Rename();
                output.renamed = true;
            }
        }
    } catch (...) {
        while (done-- > 0) renamed[done]->Undo();
        throw;
    }
}

// A file with other hard links keeps its inode: its new contents, complete on
// disk, are copied over it, after room for all of them is taken, so that a
// full disk stops the copy before the file changes.
void OutputFiles::CommitInPlace(Output& output) {
    FileDescriptor target(::open(output.target.path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (target.get() < 0 || ::fstat(target.get(), &status) != 0) throw output.Failure("cannot write");
    if (status.st_dev != output.target.status.st_dev || status.st_ino != output.target.status.st_ino)
        throw ImageError(output.path + ": was replaced while zpx was working");
    if (output.written > 0 && ::fallocate(target.get(), 0, 0, off_t(output.written)) != 0 && errno != EOPNOTSUPP)
        throw output.Failure("cannot write");
    output.buffer.resize(kBufferBytes);
    for (uint64_t offset = 0; offset < output.written;) {
        ssize_t got = ::pread(output.file.get(), output.buffer.data(), output.buffer.size(), off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw output.Failure("cannot write");
        for (ssize_t put = 0; put < got;) {
            ssize_t done = ::pwrite(target.get(), output.buffer.data() + put, size_t(got - put), off_t(offset) + put);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) throw output.Failure("cannot write");
            put += done;
        }
        offset += uint64_t(got);
    }
    if (::ftruncate(target.get(), off_t(output.written)) != 0 || ::fsync(target.get()) != 0)
        throw output.Failure("cannot write");
}

}  // namespace zpxcli
