// Where zpx finds the plug-in module, and which version a loaded module is.
// Nothing about the build folder is compiled in: the module is looked for
// beside the program (a build folder) and then where `cmake --install` puts it
// relative to the program, so that an installed tree can be moved whole.
#pragma once

#include <string>
#include <vector>

namespace zpxcli {

// zpx's own version.
const char* ProgramVersion();

// The places zpx looks for its module, in order: beside the program, then
// the installed place relative to it. Empty when the program cannot tell
// where it is.
std::vector<std::string> ModuleCandidates();

// The module to load: the value of --plugin as a path (a bare name means the
// file in the current directory, never the dynamic linker's search), or else
// the first candidate that exists. Throws UsageError saying where it looked.
std::string ModulePathFor(const std::string& pluginOption);

// The version a loaded module carries in its version note, or "" when it has
// none (a module from another build) or is not loaded.
std::string LoadedModuleVersion(const std::string& path);

}  // namespace zpxcli
