// Outputs committed together: a failure at the last one puts back every file
// the others had replaced and removes those they had made.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "cli/OutputFiles.h"

namespace zpxcli {
namespace {

namespace fs = std::filesystem;

void Write(OutputFiles& files, const fs::path& path, const std::string& text) {
    files.Add(path.string()).Write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(cliOutputFiles, AFailedCommitPutsEveryFileBack) {
    std::string pattern = (fs::temp_directory_path() / "zpx-outputs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
    const fs::path directory = pattern;
    std::ofstream(directory / "old.pgm") << "old";
    {
        OutputFiles files;
        Write(files, directory / "old.pgm", "replaced");
        Write(files, directory / "new.pgm", "made");
        Write(files, directory / "last.pgm", "never");
        // The last output's place is taken by a directory that cannot be replaced.
        fs::create_directories(directory / "last.pgm" / "inside");
        EXPECT_THROW(files.Commit(), ImageError);
    }
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"old.pgm", "last.pgm"}));
    std::ifstream old(directory / "old.pgm");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "old");
    fs::remove_all(directory);
}

}  // namespace
}  // namespace zpxcli
