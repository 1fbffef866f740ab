// The inside of the emulated host: its objects and everything the entries,
// the switches and the audit share. Only host/ sees this.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/Host.h"
#include "host/PixelLayout.h"
#include "platform/CGBitmapContext.h"

namespace zpxhost {

// Every host object. The handle a library sees is the object's address. Dead
// objects are kept (emptied) until the host dies, so that their addresses are
// never reused and a late unlock is recognised as one.
struct HostObject {
    HostObject(ObjectKind k, std::string name) : kind(k), className(std::move(name)) {}
    virtual ~HostObject() = default;

    ObjectKind kind;
    std::string className;
    uint64_t serial = 0;
    int refCount = 1;
    int hostRefs = 0;  // the part of refCount held by other host objects
    bool alive = true;
};

struct StringObject final : HostObject {
    StringObject() : HostObject(ObjectKind::String, "String") {}
    std::string text;
    uint32_t encoding = 0;
};

// An instance of a class without pixels: the exception classes.
struct InstanceObject final : HostObject {
    explicit InstanceObject(std::string name) : HostObject(ObjectKind::Instance, std::move(name)) {}
    StringObject* message = nullptr;  // held by the instance
    int32_t errorNumber = 0;
};

struct PictureObject final : HostObject {
    PictureObject() : HostObject(ObjectKind::Picture, "Picture") {}

    bool constructed = false;  // a new "Picture" instance has no pixels until its constructor ran
    int32_t width = 0, height = 0;
    bool hasAlpha = false;
    bool console = false;
    PixelCodec codec;

    // Bitmap storage: rows of 4 * width pixel bytes followed by padding, and
    // the context record that describes them.
    std::vector<uint8_t> bytes;
    std::unique_ptr<CGBitmapContext> context;
    // Console storage: the block and rows allocated apart.
    std::unique_ptr<REALconsoleBuffer> block;
    std::vector<std::unique_ptr<uint32_t[]>> rowStorage;
    std::vector<uint32_t*> rowTable;

    PictureObject* mask = nullptr;  // held by the picture
    int heldLocks = 0;
    int lockCalls = 0, unlockCalls = 0, clearCacheCalls = 0;
    std::set<int32_t> refusedKinds;
    Spoiled spoiled = Spoiled::Nothing;

    size_t BytesPerRow() const { return context->bytesPerRow; }
    uint32_t* Row(int y) {
        if (console) return rowTable[size_t(y)];
        return reinterpret_cast<uint32_t*>(bytes.data() + size_t(y) * BytesPerRow());
    }
    const uint32_t* Row(int y) const { return const_cast<PictureObject*>(this)->Row(y); }
    void FreePixels();
    // New storage with the same contents, padding and guard words included.
    void MovePixels();
};

struct GraphicsObject final : HostObject {
    explicit GraphicsObject(PictureObject* target) : HostObject(ObjectKind::Graphics, "Graphics"), picture(target) {}
    PictureObject* picture;  // held by the Graphics object
};

constexpr uint8_t kPaddingSentinel = 0xA5;

constexpr int kHostMethodCount = 4;

struct HostState {
    explicit HostState(HostConfig c) : config(c) {}

    HostConfig config;

    // Resolver
    std::map<std::string, int> asks;
    std::set<std::string> missing;

    // Objects
    std::vector<std::unique_ptr<HostObject>> objects;
    std::unordered_map<const void*, HostObject*> byHandle;
    std::vector<std::string> problems;  // misuse seen by the entries, reported by the audit
    int unmatchedUnlocks = 0;

    // Strings and exceptions
    int failStringBuilds = 0;
    std::set<std::string> notInstantiable;
    std::vector<RaisedException> raised;

    // Booleans as they reach the library
    uint32_t trueByteState = 0x9E3779B9u;
    REALboolean TrueByte();
    REALboolean Boolean(bool value) { return value ? TrueByte() : 0; }

    // The journal of references, locks and cache clearings
    bool keepJournal = false;
    std::vector<JournalEntry> journal;
    void Note(const char* entry, const void* handle) {
        if (keepJournal) journal.push_back({entry, handle});
    }

    // Yielding
    int yields = 0;
    std::function<void()> yieldHook;

    // Registration and loading: what each registration handed over
    struct RegisteredRecord {
        Registration::Form form;
        const void* record;
        int pluginVersion;
        std::optional<Registration> copied;  // the older class layout, decoded at registration
    };
    std::vector<RegisteredRecord> registrations;
    Registration Read(const RegisteredRecord& registered) const;
    int pluginVersion = -1;
    std::vector<void*> modules;
    std::string loadError;

    // Pictures
    std::set<int32_t> refusedKinds;
    int pictureCreations = 0;
    int failNextCreations = 0;
    int failCreationNumber = 0;  // the creation with this number fails; 0: none
    bool graphicsMissing = false;
    std::array<bool, kHostMethodCount> methodMissing{};
    std::array<std::function<void()>, kHostMethodCount> methodHooks;
    std::array<int, kHostMethodCount> methodCalls{};

    // ---- objects (Objects.cpp) ----
    template <typename T>
    T* Adopt(std::unique_ptr<T> object) {
        T* raw = object.get();
        raw->serial = objects.size() + 1;
        byHandle[raw] = raw;
        objects.push_back(std::move(object));
        return raw;
    }
    HostObject* Find(const void* handle) const;
    // The live object behind a handle from a library; misuse is recorded and answers null.
    HostObject* Live(const void* handle, const char* entry);
    PictureObject* LivePicture(const void* handle, const char* entry);
    void Retain(HostObject* object) { ++object->refCount; }
    void Release(HostObject* object);
    // References one host object keeps on another.
    void Hold(HostObject* object) {
        ++object->refCount;
        ++object->hostRefs;
    }
    void Drop(HostObject* object) {
        --object->hostRefs;
        Release(object);
    }
    void Problem(std::string text) { problems.push_back(std::move(text)); }
    std::string Describe(const HostObject* object) const;
    std::string Audit(std::initializer_list<const void*> expectedAlive) const;

    // ---- strings and exceptions (Strings.cpp) ----
    REALstring BuildString(const char* bytes, int32_t length);
    REALobject NewInstance(const char* className);
    bool SetMessage(REALobject object, const char* name, REALstring value);
    bool SetErrorNumber(REALobject object, const char* name, int32_t value);
    void RaiseException(REALobject object);

    // ---- pictures (Pictures.cpp) ----
    bool OlderHost() const { return !config.version || *config.version < 2012.0; }
    bool CountCreation();  // false when the switches say this creation fails
    PictureObject* CreatePicture(int width, int height, bool alpha);
    void Fill(PictureObject& picture, RGBA straight);
    void AllocatePixels(PictureObject& picture, int width, int height, bool alpha);
    bool LockDescription(REALpicture picture, REALpictureDescription* description, int32_t kind);
    void SpoilAsAsked(PictureObject& picture, REALpictureDescription& description);
    void UnlockDescription(REALpicture picture);
    bool GetIntProperty(REALobject object, const char* name, int32_t* value);
    bool GetBoolProperty(REALobject object, const char* name, uint8_t* value);
    REALclassRef ClassRef(const char* className) const;
    // For the test helpers: throws on a handle that is no picture (or a dead one, unless allowed).
    PictureObject& PictureFor(const void* handle, bool allowDead = false) const;

    // ---- drawing, masks and host methods (Drawing.cpp) ----
    void* LoadObjectMethod(REALobject object, const char* declaration);
    REALobject GraphicsOf(REALpicture picture);
    REALpicture PictureMask(REALpicture picture, bool create);
    void RunMethodHook(HostMethod method);
    void Draw(PictureObject& destination, PictureObject& source, int x, int y, int w, int h, int sx, int sy, int sw,
              int sh);
    REALpicture CopyMask(PictureObject& picture);
    void SetMask(PictureObject& picture, PictureObject* mask);
};

// The state of the current host, or null.
HostState* CurrentState();

// Case-insensitive comparison of ASCII names, as the host compares identifiers.
bool SameName(const std::string& a, const std::string& b);

}  // namespace zpxhost
