// Output files written whole or not at all. Each output is written to an
// unnamed temporary file in its target's directory (a named one, removed on
// SIGINT, SIGTERM, SIGHUP and SIGQUIT, where the file system has no unnamed
// files), so that a failure or a signal, even SIGKILL, leaves nothing behind.
// Only when every output of a commit is complete and on disk do they take
// their targets' places, all of them or none.
//
// Replacing a file keeps what it was: its mode and, where permitted, its
// owner; a symbolic link is followed and the file it names is replaced; a file
// with other hard links is written over in place once its new contents are
// complete on disk, so that every name sees them. Directories, FIFOs, devices
// and sockets are refused, and so is a link to a file that does not exist.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/ImageFile.h"

namespace zpxcli {

// The file that writing to a path replaces or creates. Throws ImageError for
// a path that no output may have.
struct OutputTarget {
    std::string path;  // absolute, links followed
    bool exists = false;
    struct stat status = {};  // of the existing file
};
OutputTarget ResolveOutputTarget(const std::string& path);
bool SameFile(const OutputTarget& one, const OutputTarget& other);

class OutputFiles {
public:
    OutputFiles();
    ~OutputFiles();  // what was not committed leaves no trace
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // A new file for path, written by the sink; it replaces path's target on Commit.
    ByteSink& Add(const std::string& path);
    // Every output in its place, or (on ImageError naming the file) none.
    void Commit();

private:
    struct Output;
    void CommitInPlace(Output& output);
    void CommitByRenaming(std::vector<Output*>& renamed);

    std::vector<std::unique_ptr<Output>> outputs_;
};

}  // namespace zpxcli
