// The module's version as an ELF note (owner "picturezpx", type 1, the
// version text as its description), so that `zpx --version` and
// `readelf --notes` can tell which build a host loaded without the module
// exporting anything but its entry.
#include <cstdint>

#if defined(__ELF__) && defined(ZPX_VERSION)
namespace {

constexpr char kOwner[] = "picturezpx";
constexpr char kVersion[] = ZPX_VERSION;

// Note fields are 4-byte words; name and description are padded to them.
constexpr uint32_t Padded(uint32_t size) { return (size + 3) / 4 * 4; }

struct VersionNote {
    uint32_t ownerSize = sizeof kOwner;
    uint32_t versionSize = sizeof kVersion;
    uint32_t type = 1;
    char owner[Padded(sizeof kOwner)];
    char version[Padded(sizeof kVersion)];
};

constexpr VersionNote MakeNote() {
    VersionNote note{};
    for (uint32_t i = 0; i < sizeof kOwner; ++i) note.owner[i] = kOwner[i];
    for (uint32_t i = 0; i < sizeof kVersion; ++i) note.version[i] = kVersion[i];
    return note;
}

// A section named .note.* is a note section, and the linker gathers it into
// the module's note segment, where a running program can read it.
__attribute__((section(".note.picturezpx"), used, aligned(4))) constexpr VersionNote kVersionNote = MakeNote();

}  // namespace
#endif
