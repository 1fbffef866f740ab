// The built zpx program run as a person or a script runs it: in a temporary
// directory, with no terminal anywhere, judged by exit status, standard
// error, peak memory and the files it leaves behind.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef ZPX_PROGRAM_PATH
namespace zpxtest {

namespace fs = std::filesystem;

struct ZpxRun {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
    long peakKilobytes = 0;  // its largest resident set
};

// What makes a run differ from a plain one.
struct ZpxSetting {
    std::vector<std::string> environment;        // NAME=value, added to zpx's
    std::optional<std::string> standardOutput;  // a file to write it to instead of the one read back; "" closes it
    std::string program = ZPX_PROGRAM_PATH;     // or a copy of zpx, or another program run the same way
};

inline std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline int CountLines(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

class ZpxRunner : public testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTemporaryDirectory("zpx-cli-XXXXXX");
        aside_ = MakeTemporaryDirectory("zpx-cli-aside-XXXXXX");
    }
    void TearDown() override {
        fs::remove_all(dir_);
        fs::remove_all(aside_);
    }

public:
    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

protected:
    // A path outside the directory zpx works in, for what the test itself keeps.
    std::string AsidePath(const std::string& name) const { return (aside_ / name).string(); }

    // Starts zpx in the temporary directory; Finish waits for it.
    pid_t Start(const std::vector<std::string>& arguments, const ZpxSetting& setting = {}) const {
        std::vector<std::string> environment = Environment(setting);
        pid_t child = ::fork();
        if (child == 0) {
            Redirect(0, "/dev/null", O_RDONLY);
            if (!setting.standardOutput) Redirect(1, AsidePath("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC);
            else if (setting.standardOutput->empty()) ::close(1);
            else Redirect(1, setting.standardOutput->c_str(), O_WRONLY);
            Redirect(2, AsidePath("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC);
            if (::chdir(dir_.c_str()) != 0) ::_exit(127);
            std::vector<char*> argv{const_cast<char*>(setting.program.c_str())}, envp;
            for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            for (const std::string& variable : environment) envp.push_back(const_cast<char*>(variable.c_str()));
            argv.push_back(nullptr);
            envp.push_back(nullptr);
            ::execve(setting.program.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        return child;
    }

    // Waits for the run to end; one that takes longer than the limit is
    // killed and fails the test.
    ZpxRun Finish(pid_t child, std::chrono::seconds limit = std::chrono::seconds(120)) const {
        int status = 0;
        struct rusage usage = {};
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (::wait4(child, &status, WNOHANG, &usage) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "zpx did not end within " << limit.count() << " s";
                ::kill(child, SIGKILL);
                ::wait4(child, &status, 0, &usage);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ZpxRun run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = ReadText(aside_ / "stdout");
        run.err = ReadText(aside_ / "stderr");
        run.peakKilobytes = usage.ru_maxrss;
        return run;
    }

    ZpxRun Zpx(const std::vector<std::string>& arguments, const ZpxSetting& setting = {}) const {
        return Finish(Start(arguments, setting));
    }
    ZpxRun Run(const std::string& program, const std::vector<std::string>& arguments) const {
        ZpxSetting setting;
        setting.program = program;
        return Zpx(arguments, setting);
    }

    // Every entry of the directory, by name: what it is and, for a file, its
    // mode and contents; for a link, where it leads.
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
            const fs::file_status status = entry.symlink_status();
            std::string& what = entries[fs::relative(entry.path(), dir_).string()];
            if (fs::is_symlink(status)) what = "link to " + fs::read_symlink(entry.path()).string();
            else if (fs::is_regular_file(status))
                what = "file " + std::to_string(int(status.permissions())) + " " + ReadText(entry.path());
            else what = "kind " + std::to_string(int(status.type()));
        }
        return entries;
    }

    fs::path dir_;

private:
    static fs::path MakeTemporaryDirectory(const char* name) {
        std::string pattern = (fs::temp_directory_path() / name).string();
        if (::mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("cannot make " + pattern);
        return pattern;
    }

    static void Redirect(int fd, const char* path, int flags) {
        int opened = ::open(path, flags, 0644);
        if (opened < 0 || ::dup2(opened, fd) < 0) ::_exit(127);
        ::close(opened);
    }

    // The test's environment with the setting's variables. A preloaded
    // library comes before the sanitizer's runtime, which must then not insist
    // on being first.
    static std::vector<std::string> Environment(const ZpxSetting& setting) {
        std::vector<std::string> environment;
        std::string sanitizer = "ASAN_OPTIONS=verify_asan_link_order=0";
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (std::string(*variable).rfind("ASAN_OPTIONS=", 0) == 0) sanitizer += std::string(":") + (*variable + 13);
            else environment.push_back(*variable);
        }
        environment.push_back(sanitizer);
        environment.insert(environment.end(), setting.environment.begin(), setting.environment.end());
        return environment;
    }

    fs::path aside_;
};

}  // namespace zpxtest
#endif  // ZPX_PROGRAM_PATH
