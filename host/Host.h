// The emulated host runtime: plays the host for tests, benchmarks and the zpx
// program. It hands a library its resolver, keeps what the library registers,
// calls registered methods by their declarations, and serves pictures, masks,
// Graphics objects, strings and exceptions the way the host does, with
// switches to make any part of it fail and an audit of every reference and
// description lock.
//
// One Host is current at a time: constructing one makes it current, destroying
// it leaves none. The entries the resolver hands out are plain functions that
// act on the current host (and do nothing when there is none).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Declaration.h"
#include "host/Registration.h"
#include "plugin/REALplugin.h"

namespace zpxhost {

enum class AppKind { Desktop, Console, Web, None };

struct HostConfig {
    std::optional<double> version = 2019.0;  // nullopt: the host has no "REALGetRBVersion" entry
    AppKind app = AppKind::Desktop;
    int plainLayout = 6;  // bitmap alpha information (1..6) of plain desktop pictures
    int alphaLayout = 2;  // of desktop pictures with an alpha channel: 1 or 2 (3..6 to test refusal)
    int rowPadding = 16;  // bytes after the 4 * width pixel bytes of each desktop row; a multiple of 4

    // Two ways of a real host that a lenient one would hide faults behind.
    // The byte a true boolean reaches the library as, in method arguments and
    // in the entries' answers: a host promises only "non-zero". 0 draws a
    // byte from 2 to 255 for each call.
    uint8_t trueByte = 0;
    // A picture's pixels (bitmap context or console block, rows and row
    // table) move to new storage whenever its last description lock ends; the
    // old storage is overwritten and freed, so a pointer kept past its lock
    // reads garbage, or faults under AddressSanitizer. Each move copies the
    // picture: the zpx program and the benchmarks switch it off.
    bool movePixelsOnUnlock = true;
};

// A 32-bit host cannot hold a picture of 2^31 bytes or more: asking for one
// fails as it does when memory runs out, instead of this host trying.
constexpr int64_t kLargestPictureBytes = 2147483647;
inline bool PictureFits(int64_t width, int64_t height) {
    return width >= 1 && height >= 1 && width <= kLargestPictureBytes / 4 / height;
}

struct RGBA {
    uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const RGBA& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const RGBA& o) const { return !(*this == o); }
};

enum class ObjectKind { Picture, Graphics, Instance, String };

struct LiveObject {
    ObjectKind kind;
    std::string className;
    int refCount;
    const void* handle;
};

struct RaisedException {
    std::string className;
    std::optional<std::string> message;  // nullopt: raised without a message
    int32_t errorNumber = 0;
};

// Host methods a library finds with REALLoadObjectMethod.
enum class HostMethod { DrawPicture, PictureConstructor, CopyMask, SetMask };

// What a picture's description carries wrong when it is locked: the
// description's kind (the other one) or data (null), the bitmap context's
// bits per pixel (24), or the console block's first word (1), host word (0)
// or row table (null).
enum class Spoiled { Nothing, Kind, Data, BitsPerPixel, FirstWord, HostWord, RowTable };

// One call of an entry that takes or ends a reference, a description lock or
// tells of changed pixels: REALLockObject, REALUnlockObject,
// REALLockPictureDescription, unlockPictureDescription, REALPictureClearCache.
struct JournalEntry {
    std::string entry;
    const void* handle;
};

struct HostState;

class Host {
public:
    explicit Host(HostConfig config = {});
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    static Host* Current();
    const HostConfig& Config() const;

    // ---- Resolver ----
    // The resolver handed to a library: the current host's entry for the name, or null.
    static void* Resolve(const char* entryName);
    int Asks(const std::string& entryName) const;
    void ResetAsks();
    void SetMissing(const std::string& entryName, bool missing = true);

    // ---- Loading ----
    // Opens a module, finds "REALPluginMain" and calls it with the resolver.
    // The module is closed when this host dies, so a later load starts afresh.
    bool LoadModule(const std::string& path);
    void LoadEntry(REALPluginMainFn entry);  // a library linked into this program
    const std::string& LoadError() const;

    // ---- Registration ----
    // The host keeps the records a library registers and reads them anew at
    // each look; only the older class layout (record version 9), which the
    // library frees after registering it, is copied at registration.
    std::vector<Registration> Registrations() const;
    Registration Registered() const;  // the latest; form None when there is none
    int PluginVersion() const;               // -1 until "RegisterPluginVersion" was called

    // ---- Calls by declaration ----
    // Calls the latest registration's method of that name (case-insensitive)
    // with the receiver first, as the host does. Omitted or monostate trailing
    // arguments take the declared defaults; an integer is accepted for a
    // double. A picture result carries one reference for the caller.
    // Throws std::invalid_argument for an unknown method or unusable arguments;
    // exceptions thrown by host code during the call pass through.
    Value Call(const std::string& methodName, REALpicture receiver, std::vector<Value> args = {});
    static bool CanCallAnyShape();  // false without libffi: only the shapes of the picture methods

    // ---- Objects and audit ----
    std::vector<LiveObject> LiveObjects() const;
    int RefCount(const void* handle) const;  // 0 for dead or unknown objects
    // Description locks held, on all pictures. An older host (below 2012.0, or
    // without a version) holds a refused lock too, until the library undoes it.
    int HeldLocks() const;
    int UnmatchedUnlocks() const;  // description unlocks without a lock
    // "" when exactly the expected objects are alive, each with one reference
    // from outside the host (references a host object holds, like a picture's
    // on its mask, do not count), no description lock is held and nothing was
    // misused; otherwise one line per problem.
    std::string AuditProblems(std::initializer_list<const void*> expectedAlive) const;
    void Release(const void* handle);  // drops one reference held by the caller

    // ---- Strings and exceptions ----
    std::string Text(REALstring string) const;
    uint32_t Encoding(REALstring string) const;
    void FailStringBuilds(int count);  // the next count builds throw std::bad_alloc
    void SetInstantiable(const std::string& className, bool instantiable);
    const std::vector<RaisedException>& Raised() const;
    void ClearRaised();

    // ---- Yielding ----
    int Yields() const;
    void SetYieldHook(std::function<void()> hook);  // runs in every yield; may throw or call the library

    // ---- Picture switches and counters ----
    void RefuseLock(REALpicture picture, int32_t kind, bool refuse = true);
    void RefuseLocks(int32_t kind, bool refuse = true);  // for every picture, new ones included
    int LockCount(REALpicture picture) const;            // lock requests, granted or not
    int UnlockCount(REALpicture picture) const;
    int ClearCacheCount(REALpicture picture) const;
    // Pictures the library asks for ("newPicture", a new "Picture" instance, a
    // mask made on request, "CopyMask as Picture") are counted; these make
    // the next count of them fail, or the k-th from now (1 = the next one).
    void FailPictureCreation(int count);
    void FailPictureCreationAt(int k);
    int PictureCreations() const;
    void SetMethodMissing(HostMethod method, bool missing = true);
    void SetGraphicsMissing(bool missing = true);
    void SetMethodHook(HostMethod method, std::function<void()> hook);  // runs first in that method
    int MethodCalls(HostMethod method) const;
    void Spoil(REALpicture picture, Spoiled what);  // from its next description lock on
    // The calls of those entries, in order, once kept (and the journal emptied).
    void KeepJournal(bool keep = true);
    const std::vector<JournalEntry>& Journal() const;

    // ---- Pictures for tests and the zpx program ----
    // A plain picture starts opaque white, one with an alpha channel fully
    // transparent. The caller owns one reference (Release).
    REALpicture NewPicture(int width, int height, bool alpha);
    int Width(REALpicture picture) const;
    int Height(REALpicture picture) const;
    bool HasAlpha(REALpicture picture) const;
    int LayoutCode(REALpicture picture) const;               // 1..6 for bitmap contexts, 8 for console buffers
    REALpicture MaskOf(REALpicture picture) const;           // no new reference
    void AttachMask(REALpicture picture, REALpicture mask);  // the host takes its own reference; null removes
    // Colour as stored (premultiplied where the layout is) and opacity.
    RGBA GetPixel(REALpicture picture, int x, int y) const;
    RGBA GetPixelStraight(REALpicture picture, int x, int y) const;
    void SetPixel(REALpicture picture, int x, int y, RGBA straight);  // alpha ignored on plain pictures
    uint32_t RawWord(REALpicture picture, int x, int y) const;
    void SetRawWord(REALpicture picture, int x, int y, uint32_t word);
    void FillRGB(REALpicture picture, const uint8_t* rgb);    // width * height * 3 bytes
    void FillRGBA(REALpicture picture, const uint8_t* rgba);  // straight alpha
    void WriteRowRGBA(REALpicture picture, int y, const uint8_t* rgba);  // width * 4 bytes, straight alpha
    std::vector<uint8_t> ReadRGBA(REALpicture picture, bool straight) const;
    void ReadRowRGBA(REALpicture picture, int y, bool straight, uint8_t* rgba) const;  // width * 4 bytes
    bool PaddingIntact(REALpicture picture) const;  // no byte past a row's pixels was written

private:
    std::unique_ptr<HostState> state_;
};

}  // namespace zpxhost
