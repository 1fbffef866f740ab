// What zpx tells a person whose command line it could not use: the word it
// does not know, the nearest one it does, and the help that lists them. The
// parser stops at the first requirement it misses ("--size is required"),
// which hides a misspelt option; these read the words themselves first.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace zpxcli {

// One line for a command line that did not parse: the first unknown command
// or option, with a suggestion, or else the parser's message; either way
// ending with the help to read ("see zpx --help" for the host options and the
// commands, "see zpx scale --help" for an option of scale).
std::string ParseProblem(const CLI::App& app, const std::vector<std::string>& words, const std::string& parserMessage);

// No command was named.
std::string MissingCommandProblem(const CLI::App& app);

// The candidate closest to typed (by edits, or as the only one it begins or
// its first letter starts); "" when none is close enough to suggest.
std::string NearestName(const std::string& typed, const std::vector<std::string>& candidates);

}  // namespace zpxcli
