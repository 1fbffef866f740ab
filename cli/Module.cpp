#include "cli/Module.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/Errors.h"

namespace zpxcli {

namespace fs = std::filesystem;

const char* ProgramVersion() { return ZPX_VERSION; }

namespace {

fs::path ProgramDirectory() {
    std::error_code error;
    fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : program.parent_path();
}

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The owner and type of the module's version note.
constexpr char kNoteOwner[] = "picturezpx";
constexpr uint32_t kNoteType = 1;

// The version note among one note segment's notes, or "". Names and
// descriptions are padded to the segment's alignment (4, or 8 for some
// 64-bit segments).
std::string VersionInNoteSegment(const char* at, const char* end, size_t alignment) {
    auto padded = [alignment](uint32_t size) { return (size + alignment - 1) / alignment * alignment; };
    while (end - at >= 12) {
        uint32_t field[3];
        std::memcpy(field, at, sizeof field);
        const char* name = at + 12;
        const char* description = name + padded(field[0]);
        if (description > end || static_cast<size_t>(end - description) < field[1]) break;
        if (field[2] == kNoteType && field[0] == sizeof kNoteOwner && std::memcmp(name, kNoteOwner, field[0]) == 0)
            return std::string(description, strnlen(description, field[1]));
        at = description + padded(field[1]);
    }
    return "";
}

struct NoteSearch {
    ElfW(Addr) base;
    const char* name;
    std::string version;
};

int SearchLoadedObject(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<NoteSearch*>(data);
    if (info->dlpi_addr != search->base || info->dlpi_name == nullptr ||
        std::strcmp(info->dlpi_name, search->name) != 0)
        return 0;
    for (int i = 0; i < info->dlpi_phnum && search->version.empty(); ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_NOTE) continue;
        const char* start = reinterpret_cast<const char*>(info->dlpi_addr + segment.p_vaddr);
        search->version = VersionInNoteSegment(start, start + segment.p_memsz, segment.p_align == 8 ? 8 : 4);
    }
    return 1;
}

}  // namespace

std::vector<std::string> ModuleCandidates() {
    fs::path directory = ProgramDirectory();
    if (directory.empty()) return {};
    return {(directory / ZPX_MODULE_FILE_NAME).string(),
            (directory / ZPX_MODULE_FROM_PROGRAM / ZPX_MODULE_FILE_NAME).lexically_normal().string()};
}

std::string ModulePathFor(const std::string& pluginOption) {
    if (!pluginOption.empty()) return pluginOption.find('/') == std::string::npos ? "./" + pluginOption : pluginOption;
    std::vector<std::string> candidates = ModuleCandidates();
    for (const std::string& candidate : candidates)
        if (IsRegularFile(candidate)) return candidate;
    if (candidates.empty())
        throw UsageError(
            "cannot find the module: /proc/self/exe does not say where zpx is; give the module's path "
            "with --plugin PATH");
    throw UsageError("cannot find the module " + std::string(ZPX_MODULE_FILE_NAME) + " beside zpx (" + candidates[0] +
                     ") or where it is installed (" + candidates[1] + "); give its path with --plugin PATH");
}

std::string LoadedModuleVersion(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) return "";
    link_map* map = nullptr;
    NoteSearch search{0, nullptr, ""};
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
        search.base = map->l_addr;
        search.name = map->l_name;
        dl_iterate_phdr(SearchLoadedObject, &search);
    }
    dlclose(handle);
    return search.version;
}

}  // namespace zpxcli
