// Failures that end a zpx run, each with the exit status it stands for. The
// message is one line, printed after "zpx: ".
#pragma once

#include <stdexcept>
#include <string>

namespace zpxcli {

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitMethodFailed = 1,  // the method returned nil or false, or raised
    kExitUnusable = 2,      // arguments, files or the module could not be used
};

class CliError : public std::runtime_error {
public:
    CliError(ExitStatus status, const std::string& message) : std::runtime_error(message), status_(status) {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

inline CliError UsageError(const std::string& message) { return CliError(kExitUnusable, message); }
inline CliError MethodFailure(const std::string& message) { return CliError(kExitMethodFailed, message); }

}  // namespace zpxcli
