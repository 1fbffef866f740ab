// zpx info: what the module registered with the host, as the host recorded it.
#include <cstdio>

#include "cli/Commands.h"
#include "cli/Module.h"

namespace zpxcli {

namespace {

struct InfoArguments {};

std::string FormText(const zpxhost::Registration& registration) {
    switch (registration.form) {
        case zpxhost::Registration::ClassExtension: return "class extension of " + registration.name;
        case zpxhost::Registration::Module: return "module " + registration.name + " of extension methods";
        case zpxhost::Registration::None: break;
    }
    return "nothing";
}

void PrintRows(const zpxhost::Registration& registration) {
    std::printf("methods:           %zu\n", registration.rows.size());
    for (const zpxhost::Registration::Row& row : registration.rows)
        std::printf("  %s\n", row.hasDeclaration ? row.declaration.c_str() : "(no declaration)");
}

int RunInfo(const HostOptions& host, const InfoArguments&) {
    Session session(host);
    const zpxhost::Registration registration = session.registration();
    std::printf("module:            %s\n", session.modulePath().c_str());
    std::printf("host:              %s\n", host.Describe().c_str());
    std::printf("registered as:     %s\n", FormText(registration).c_str());
    if (registration.form != zpxhost::Registration::None) {
        std::printf("record version:    %u\n", registration.recordVersion);
        PrintRows(registration);
    }
    return 0;
}

}  // namespace

int RunVersion(const HostOptions& host) {
    std::printf("zpx %s\n", ProgramVersion());
    Session session(host);
    std::string version = LoadedModuleVersion(session.modulePath());
    std::printf("module: picturezpx %s (%s)\n", version.empty() ? "of unknown version" : version.c_str(),
                session.modulePath().c_str());
    std::printf("host: emulated, %s\n", host.Describe().c_str());
    return 0;
}

void AddInfoCommand(CLI::App& app, CommandContext& context) {
    CLI::App* command =
        app.add_subcommand("info", "load the module and show what it registered: form, record version, methods");
    command->footer(
        "Examples:\n"
        "  zpx info\n"
        "  zpx --host-version 2013.0 info     (a host that takes extension methods in a module)");
    WhenChosen(command, context, std::make_shared<InfoArguments>(), RunInfo);
}

}  // namespace zpxcli
