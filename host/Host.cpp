// The host itself: which one is current, the entries its resolver hands out,
// loading a library, and the switches and counters on everything but pictures.
#include "host/Host.h"

#include <dlfcn.h>

#include <stdexcept>

#include "host/HostState.h"

namespace zpxhost {

namespace {

Host* gCurrentHost = nullptr;
HostState* gCurrentState = nullptr;

// ---- the entries; each acts on the current host ----

void LockObjectEntry(REALobject object) {
    HostState* state = CurrentState();
    if (state == nullptr || object == nullptr) return;
    state->Note("REALLockObject", object);
    if (HostObject* target = state->Live(object, "REALLockObject")) state->Retain(target);
}

void UnlockObjectEntry(REALobject object) {
    HostState* state = CurrentState();
    if (state == nullptr || object == nullptr) return;
    state->Note("REALUnlockObject", object);
    if (HostObject* target = state->Live(object, "REALUnlockObject")) state->Release(target);
}

REALboolean GetPropValueIntEntry(REALobject object, const char* name, int32_t* value) {
    HostState* state = CurrentState();
    return state != nullptr ? state->Boolean(state->GetIntProperty(object, name, value)) : 0;
}

REALboolean GetPropValueBoolEntry(REALobject object, const char* name, uint8_t* value) {
    HostState* state = CurrentState();
    return state != nullptr ? state->Boolean(state->GetBoolProperty(object, name, value)) : 0;
}

REALboolean SetPropValueStringEntry(REALobject object, const char* name, REALstring value) {
    HostState* state = CurrentState();
    return state != nullptr ? state->Boolean(state->SetMessage(object, name, value)) : 0;
}

REALboolean SetPropValueIntEntry(REALobject object, const char* name, int32_t value) {
    HostState* state = CurrentState();
    return state != nullptr ? state->Boolean(state->SetErrorNumber(object, name, value)) : 0;
}

REALobject NewInstanceEntry(const char* className) {
    HostState* state = CurrentState();
    return state == nullptr ? nullptr : state->NewInstance(className);
}

void* LoadObjectMethodEntry(REALobject object, const char* declaration) {
    HostState* state = CurrentState();
    return state == nullptr ? nullptr : state->LoadObjectMethod(object, declaration);
}

REALclassRef ObjectTypeEntry(const char* className) {
    HostState* state = CurrentState();
    return state == nullptr ? nullptr : state->ClassRef(className);
}

REALpicture NewPictureEntry(int32_t width, int32_t height, int32_t depth) {
    HostState* state = CurrentState();
    if (state == nullptr || !PictureFits(width, height) || depth != 32 || !state->CountCreation()) return nullptr;
    return reinterpret_cast<REALpicture>(state->CreatePicture(width, height, false));
}

REALobject PictureGraphicsEntry(REALpicture picture) {
    HostState* state = CurrentState();
    return state == nullptr ? nullptr : state->GraphicsOf(picture);
}

REALpicture GetPictureMaskEntry(REALpicture picture, REALboolean create) {
    HostState* state = CurrentState();
    return state == nullptr ? nullptr : state->PictureMask(picture, create != 0);
}

REALboolean LockPictureDescriptionEntry(REALpicture picture, REALpictureDescription* description, int32_t kind) {
    HostState* state = CurrentState();
    if (state == nullptr) return 0;
    state->Note("REALLockPictureDescription", picture);
    return state->Boolean(state->LockDescription(picture, description, kind));
}

void UnlockPictureDescriptionEntry(REALpicture picture) {
    HostState* state = CurrentState();
    if (state == nullptr) return;
    state->Note("unlockPictureDescription", picture);
    state->UnlockDescription(picture);
}

void PictureClearCacheEntry(REALpicture picture) {
    HostState* state = CurrentState();
    if (state == nullptr) return;
    state->Note("REALPictureClearCache", picture);
    if (PictureObject* target = state->LivePicture(picture, "REALPictureClearCache")) ++target->clearCacheCalls;
}

// A registered record is kept, not copied: the host reads it whenever it
// looks, as long as the library lives. Only the older class layout is read at
// once, as the library lets go of it after registering.
void Register(Registration::Form form, const void* record, const char* entry) {
    HostState* state = CurrentState();
    if (state == nullptr) return;
    if (record == nullptr) {
        state->Problem(std::string(entry) + ": null record");
        return;
    }
    HostState::RegisteredRecord registered{form, record, state->pluginVersion, std::nullopt};
    if (form == Registration::ClassExtension && IsOlderClassLayout(record)) registered.copied = state->Read(registered);
    state->registrations.push_back(std::move(registered));
}

void RegisterClassExtensionEntry(void* classDefinition) {
    Register(Registration::ClassExtension, classDefinition, "PluginRegisterClassExtension");
}

void RegisterModuleEntry(REALmoduleDefinition* moduleDefinition) {
    Register(Registration::Module, moduleDefinition, "PluginRegisterModule");
}

void RaiseExceptionEntry(REALobject exception) {
    if (HostState* state = CurrentState()) state->RaiseException(exception);
}

void YieldEntry() {
    HostState* state = CurrentState();
    if (state == nullptr) return;
    ++state->yields;
    // A copy: the hook may replace itself, or the host may die under it.
    if (std::function<void()> hook = state->yieldHook) hook();
}

REALstring BuildStringEntry(const char* bytes, int32_t length) {
    HostState* state = CurrentState();
    return state == nullptr ? nullptr : state->BuildString(bytes, length);
}

void SetStringEncodingEntry(REALstring string, uint32_t encoding) {
    HostState* state = CurrentState();
    if (state == nullptr) return;
    HostObject* target = state->Live(string, "REALSetStringEncoding");
    if (target == nullptr) return;
    if (target->kind != ObjectKind::String) {
        state->Problem("REALSetStringEncoding: " + state->Describe(target) + " is no string");
        return;
    }
    static_cast<StringObject*>(target)->encoding = encoding;
}

void UnlockStringEntry(REALstring string) {
    HostState* state = CurrentState();
    if (state == nullptr || string == nullptr) return;
    HostObject* target = state->Live(string, "REALUnlockString");
    if (target == nullptr) return;
    if (target->kind != ObjectKind::String) {
        state->Problem("REALUnlockString: " + state->Describe(target) + " is no string");
        return;
    }
    state->Release(target);
}

double VersionEntry() {
    HostState* state = CurrentState();
    return state != nullptr && state->config.version ? *state->config.version : 0.0;
}

void RegisterPluginVersionEntry(int32_t recordVersion) {
    if (HostState* state = CurrentState()) state->pluginVersion = recordVersion;
}

struct NamedEntry {
    const char* name;
    void* entry;
};

template <typename Fn>
void* Address(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

const NamedEntry kEntries[] = {
    {"REALLockObject", Address<REALLockObjectFn>(&LockObjectEntry)},
    {"REALUnlockObject", Address<REALUnlockObjectFn>(&UnlockObjectEntry)},
    {"REALGetPropValueInt", Address<REALGetPropValueInt32Fn>(&GetPropValueIntEntry)},
    {"REALGetPropValueBool", Address<REALGetPropValueUInt8Fn>(&GetPropValueBoolEntry)},
    {"REALSetPropValueString", Address<REALSetPropValueStringFn>(&SetPropValueStringEntry)},
    {"REALSetPropValueInt", Address<REALSetPropValueInt32Fn>(&SetPropValueIntEntry)},
    {"PluginNewInstance", Address<REALnewInstanceFn>(&NewInstanceEntry)},
    {"REALLoadObjectMethod", Address<REALLoadObjectMethodFn>(&LoadObjectMethodEntry)},
    {"pluginObjectType", Address<REALGetClassRefFn>(&ObjectTypeEntry)},
    {"newPicture", Address<REALNewPictureFn>(&NewPictureEntry)},
    {"pluginPictureGraphicsGetter", Address<REALGetPictureGraphicsFn>(&PictureGraphicsEntry)},
    {"REALGetPictureMask", Address<REALGetPictureMaskFn>(&GetPictureMaskEntry)},
    {"REALLockPictureDescription", Address<REALLockPictureDescriptionFn>(&LockPictureDescriptionEntry)},
    {"unlockPictureDescription", Address<REALUnlockPictureDescriptionFn>(&UnlockPictureDescriptionEntry)},
    {"REALPictureClearCache", Address<REALPictureClearCacheFn>(&PictureClearCacheEntry)},
    {"PluginRegisterClassExtension", Address<REALRegisterClassExtensionFn>(&RegisterClassExtensionEntry)},
    {"PluginRegisterModule", Address<REALRegisterModuleFn>(&RegisterModuleEntry)},
    {"RuntimeRaiseException", Address<REALRaiseExceptionFn>(&RaiseExceptionEntry)},
    {"REALYieldToRB", Address<REALYieldToRBFn>(&YieldEntry)},
    {"REALBuildString", Address<REALBuildStringFn>(&BuildStringEntry)},
    {"REALSetStringEncoding", Address<REALSetStringEncodingFn>(&SetStringEncodingEntry)},
    {"REALUnlockString", Address<REALUnlockStringFn>(&UnlockStringEntry)},
    {"REALGetRBVersion", Address<REALGetRBVersionFn>(&VersionEntry)},
    {"RegisterPluginVersion", Address<RegisterPluginVersionFn>(&RegisterPluginVersionEntry)},
};

}  // namespace

HostState* CurrentState() { return gCurrentState; }

Host::Host(HostConfig config) : state_(std::make_unique<HostState>(config)) {
    if (config.plainLayout < 1 || config.plainLayout > 6 || config.alphaLayout < 1 || config.alphaLayout > 6)
        throw std::invalid_argument("bitmap layouts are alpha information 1 to 6");
    if (config.rowPadding < 0 || config.rowPadding % 4 != 0)
        throw std::invalid_argument("row padding must be a non-negative multiple of 4");
    gCurrentHost = this;
    gCurrentState = state_.get();
}

Host::~Host() {
    if (gCurrentHost == this) {
        gCurrentHost = nullptr;
        gCurrentState = nullptr;
    }
    std::vector<void*> modules = std::move(state_->modules);
    state_.reset();
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) dlclose(*it);
}

Host* Host::Current() { return gCurrentHost; }
const HostConfig& Host::Config() const { return state_->config; }

// ---- resolver ----

void* Host::Resolve(const char* entryName) {
    HostState* state = CurrentState();
    if (state == nullptr || entryName == nullptr) return nullptr;
    std::string name = entryName;
    ++state->asks[name];
    if (state->missing.count(name) != 0) return nullptr;
    if (name == "REALGetRBVersion" && !state->config.version) return nullptr;
    for (const NamedEntry& entry : kEntries) {
        if (name == entry.name) return entry.entry;
    }
    return nullptr;
}

int Host::Asks(const std::string& entryName) const {
    auto it = state_->asks.find(entryName);
    return it == state_->asks.end() ? 0 : it->second;
}

void Host::ResetAsks() { state_->asks.clear(); }

void Host::SetMissing(const std::string& entryName, bool missing) {
    if (missing) {
        state_->missing.insert(entryName);
    } else {
        state_->missing.erase(entryName);
    }
}

// ---- loading and registration ----

bool Host::LoadModule(const std::string& path) {
    state_->loadError.clear();
    if (path.empty()) {
        state_->loadError = "no module path";
        return false;
    }
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* error = dlerror();
        state_->loadError = error != nullptr ? error : "cannot open " + path;
        return false;
    }
    state_->modules.push_back(module);
    void* entry = dlsym(module, "REALPluginMain");
    if (entry == nullptr) {
        state_->loadError = path + " has no REALPluginMain";
        return false;
    }
    LoadEntry(reinterpret_cast<REALPluginMainFn>(entry));
    return true;
}

void Host::LoadEntry(REALPluginMainFn entry) { entry(&Host::Resolve); }

const std::string& Host::LoadError() const { return state_->loadError; }

Registration HostState::Read(const RegisteredRecord& registered) const {
    if (registered.copied) return *registered.copied;
    Registration registration = registered.form == Registration::Module
                                    ? DecodeModule(*static_cast<const REALmoduleDefinition*>(registered.record))
                                    : DecodeClassExtension(registered.record);
    registration.pluginVersion = registered.pluginVersion;
    return registration;
}

std::vector<Registration> Host::Registrations() const {
    std::vector<Registration> registrations;
    for (const HostState::RegisteredRecord& registered : state_->registrations)
        registrations.push_back(state_->Read(registered));
    return registrations;
}

Registration Host::Registered() const {
    return state_->registrations.empty() ? Registration{} : state_->Read(state_->registrations.back());
}

int Host::PluginVersion() const { return state_->pluginVersion; }

// ---- objects ----

std::vector<LiveObject> Host::LiveObjects() const {
    std::vector<LiveObject> live;
    for (const auto& object : state_->objects) {
        if (object->alive) live.push_back({object->kind, object->className, object->refCount, object.get()});
    }
    return live;
}

int Host::RefCount(const void* handle) const {
    const HostObject* object = state_->Find(handle);
    return object != nullptr && object->alive ? object->refCount : 0;
}

int Host::HeldLocks() const {
    int held = 0;
    for (const auto& object : state_->objects) {
        if (object->kind == ObjectKind::Picture) held += static_cast<const PictureObject*>(object.get())->heldLocks;
    }
    return held;
}

int Host::UnmatchedUnlocks() const { return state_->unmatchedUnlocks; }

std::string Host::AuditProblems(std::initializer_list<const void*> expectedAlive) const {
    return state_->Audit(expectedAlive);
}

void Host::Release(const void* handle) {
    HostObject* object = state_->Find(handle);
    if (object == nullptr || !object->alive) throw std::invalid_argument("release of an object that is not alive");
    state_->Release(object);
}

// ---- strings, exceptions, yielding ----

namespace {

const StringObject& StringFor(const HostState& state, REALstring string) {
    const HostObject* object = state.Find(string);
    if (object == nullptr || object->kind != ObjectKind::String)
        throw std::invalid_argument("not a string of this host");
    return *static_cast<const StringObject*>(object);
}

}  // namespace

std::string Host::Text(REALstring string) const { return StringFor(*state_, string).text; }
uint32_t Host::Encoding(REALstring string) const { return StringFor(*state_, string).encoding; }
void Host::FailStringBuilds(int count) { state_->failStringBuilds = count; }

void Host::SetInstantiable(const std::string& className, bool instantiable) {
    if (instantiable) {
        state_->notInstantiable.erase(className);
    } else {
        state_->notInstantiable.insert(className);
    }
}

const std::vector<RaisedException>& Host::Raised() const { return state_->raised; }
void Host::ClearRaised() { state_->raised.clear(); }

REALboolean HostState::TrueByte() {
    if (config.trueByte != 0) return config.trueByte;
    trueByteState ^= trueByteState << 13;
    trueByteState ^= trueByteState >> 17;
    trueByteState ^= trueByteState << 5;
    return static_cast<REALboolean>(2 + trueByteState % 254);
}

void Host::KeepJournal(bool keep) {
    state_->keepJournal = keep;
    state_->journal.clear();
}
const std::vector<JournalEntry>& Host::Journal() const { return state_->journal; }

int Host::Yields() const { return state_->yields; }
void Host::SetYieldHook(std::function<void()> hook) { state_->yieldHook = std::move(hook); }

}  // namespace zpxhost
