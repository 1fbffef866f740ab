#include "cli/Mistakes.h"

#include <algorithm>
#include <cctype>

namespace zpxcli {

namespace {

std::string Quoted(const std::string& word) { return "'" + word + "'"; }

// "a, b or c"
std::string Listed(const std::vector<std::string>& names, const char* lastJoin) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? lastJoin : ", ") + names[i];
    return text;
}

std::string Bare(const std::string& name) {
    std::string bare =
        name.substr(name.find_first_not_of('-') == std::string::npos ? name.size() : name.find_first_not_of('-'));
    for (char& c : bare) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return bare;
}

// Edits (insertions, deletions, substitutions, swaps of neighbours) that turn a into b.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::vector<std::string> CommandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        names.push_back(command->get_name());
    return names;
}

const CLI::App* FindCommand(const CLI::App& app, const std::string& name) {
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        if (command->check_name(name)) return command;
    return nullptr;
}

std::vector<std::string> OptionNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options())
        for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    return names;
}

const CLI::Option* FindOption(const CLI::App& app, const std::string& name) {
    for (const CLI::Option* option : app.get_options())
        if (option->nonpositional() && option->check_name(name)) return option;
    return nullptr;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string HelpFor(const CLI::App* command) {
    return command == nullptr ? "zpx --help" : "zpx " + command->get_name() + " --help";
}

std::string Suggestion(const std::string& name) { return name.empty() ? "" : "; did you mean " + Quoted(name) + "?"; }

std::string UnknownCommand(const CLI::App& app, const std::string& word) {
    std::string nearest = NearestName(word, CommandNames(app));
    if (nearest.empty())
        return "unknown command " + Quoted(word) + ": the commands are " + Listed(CommandNames(app), " and ") +
               " (see zpx --help)";
    return "unknown command " + Quoted(word) + Suggestion(nearest) + " (see zpx --help)";
}

// Options of commands given before any command.
std::string MisplacedOption(const CLI::App& app, const std::string& name) {
    std::vector<std::string> owners;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        if (FindOption(*command, name) != nullptr) owners.push_back(command->get_name());
    if (owners.empty()) return "";
    return Quoted(name) + " is an option of " + Listed(owners, " and ") +
           ": it goes after the command's name (see zpx --help)";
}

std::string UnknownOption(const CLI::App& app, const CLI::App* command, const std::string& name) {
    std::vector<std::string> hostOptions = OptionNames(app);
    if (command == nullptr) {
        std::string nearest = NearestName(name, hostOptions);
        if (nearest.empty() && !MisplacedOption(app, name).empty()) return MisplacedOption(app, name);
        return "unknown option " + Quoted(name) + Suggestion(nearest) + " (see zpx --help)";
    }
    // Host options are taken after the command too.
    std::vector<std::string> candidates = OptionNames(*command);
    candidates.insert(candidates.end(), hostOptions.begin(), hostOptions.end());
    std::string nearest = NearestName(name, candidates);
    bool hostOption = !nearest.empty() && !Contains(OptionNames(*command), nearest);
    return "unknown option " + Quoted(name) + " for " + command->get_name() + Suggestion(nearest) + " (see " +
           HelpFor(hostOption ? nullptr : command) + ")";
}

// A value such as -2.5 or -3,4 where an option would stand.
bool LooksLikeNumber(const std::string& word) {
    return word.size() > 1 && word[0] == '-' && (std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.');
}

// The first word that is neither a command nor an option known where it
// stands, described; "" when every word is known.
std::string UnknownWordProblem(const CLI::App& app, const std::vector<std::string>& words) {
    const CLI::App* command = nullptr;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") break;
        if (word.size() < 2 || word[0] != '-' || LooksLikeNumber(word)) {
            if (command != nullptr) continue;  // a file or value of the command
            command = FindCommand(app, word);
            if (command == nullptr) return UnknownCommand(app, word);
            continue;
        }
        // "--size=10x10" and "-s10x10" name their option before the value.
        std::string name = word[1] == '-' ? word.substr(0, word.find('=')) : word.substr(0, 2);
        const CLI::Option* option = command != nullptr ? FindOption(*command, name) : nullptr;
        if (option == nullptr) option = FindOption(app, name);
        if (option == nullptr) return UnknownOption(app, command, name);
        if (option->get_type_size_max() > 0 && name.size() == word.size()) ++i;  // its value follows
    }
    return "";
}

// The parser names the option first in its messages: "--app: must be ...".
bool IsAboutHostOption(const CLI::App& app, const std::string& message) {
    for (const std::string& name : OptionNames(app)) {
        if (message.compare(0, name.size(), name) != 0) continue;
        if (message.size() == name.size() || message[name.size()] == ':' || message[name.size()] == ' ') return true;
    }
    return false;
}

}  // namespace

std::string NearestName(const std::string& typed, const std::vector<std::string>& candidates) {
    const std::string bare = Bare(typed);
    if (bare.empty()) return "";
    // Close spellings first: one edit for short words, two for longer ones.
    const size_t allowed = bare.size() <= 4 ? 1 : 2;
    std::string best;
    size_t bestDistance = allowed + 1;
    for (const std::string& candidate : candidates) {
        size_t distance = EditDistance(bare, Bare(candidate));
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    if (!best.empty()) return best;
    // Then the only candidate that the word begins ("--anti", "-s").
    std::vector<std::string> started;
    for (const std::string& candidate : candidates)
        if (Bare(candidate).compare(0, bare.size(), bare) == 0 && !Contains(started, candidate))
            started.push_back(candidate);
    return started.size() == 1 ? started.front() : "";
}

std::string ParseProblem(const CLI::App& app, const std::vector<std::string>& words, const std::string& parserMessage) {
    std::string unknown = UnknownWordProblem(app, words);
    if (!unknown.empty()) return unknown;
    std::vector<CLI::App*> chosen = app.get_subcommands();
    const CLI::App* command = chosen.empty() || IsAboutHostOption(app, parserMessage) ? nullptr : chosen.front();
    return parserMessage + " (see " + HelpFor(command) + ")";
}

std::string MissingCommandProblem(const CLI::App& app) {
    return "a command is needed: " + Listed(CommandNames(app), " or ") + " (see zpx --help)";
}

}  // namespace zpxcli
