#include "plugin/HostCallbacks.h"

REALResolver gResolver = nullptr;
uint32_t gResolverGeneration = 0;

namespace {

// The cached address of one host entry. A generation other than the current
// one means the library was loaded again and the address must be asked anew.
template <typename Fn>
struct HostEntry {
    const char* name;
    Fn address = nullptr;
    uint32_t generation = 0;

    constexpr explicit HostEntry(const char* entryName) : name(entryName) {}

    Fn get() {
        if (address != nullptr && generation == gResolverGeneration) return address;
        address = nullptr;
        if (gResolver == nullptr) return nullptr;
        address = reinterpret_cast<Fn>(gResolver(name));
        generation = gResolverGeneration;
        return address;
    }
};

// Shared with the wrappers that hand out what these give back.
HostEntry<REALUnlockObjectFn> unlockObject("REALUnlockObject");
HostEntry<REALUnlockPictureDescriptionFn> unlockPictureDescription("unlockPictureDescription");

}  // namespace

bool HostCanDropReferences() { return unlockObject.get() != nullptr; }

#define HOST_ENTRY(type, entryName)           \
    static HostEntry<type> entry(entryName); \
    type fn = entry.get()

bool REALLockObject(REALobject object) {
    HOST_ENTRY(REALLockObjectFn, "REALLockObject");
    if (!fn) return false;
    fn(object);
    return true;
}

void REALUnlockObject(REALobject object) {
    REALUnlockObjectFn fn = unlockObject.get();
    if (fn) fn(object);
}

bool REALGetPropValueInt32(REALobject object, const char* name, int32_t* value) {
    HOST_ENTRY(REALGetPropValueInt32Fn, "REALGetPropValueInt");
    return fn && fn(object, name, value) != 0;
}

bool REALGetPropValueUInt8(REALobject object, const char* name, uint8_t* value) {
    HOST_ENTRY(REALGetPropValueUInt8Fn, "REALGetPropValueBool");
    return fn && fn(object, name, value) != 0;
}

bool REALSetPropValueString(REALobject object, const char* name, REALstring value) {
    HOST_ENTRY(REALSetPropValueStringFn, "REALSetPropValueString");
    return fn && fn(object, name, value) != 0;
}

bool REALSetPropValueInt32(REALobject object, const char* name, int32_t value) {
    HOST_ENTRY(REALSetPropValueInt32Fn, "REALSetPropValueInt");
    return fn && fn(object, name, value) != 0;
}

REALobject REALnewInstance(const char* className) {
    HOST_ENTRY(REALnewInstanceFn, "PluginNewInstance");
    return fn ? fn(className) : nullptr;
}

void* REALLoadObjectMethod(REALobject object, const char* declaration) {
    HOST_ENTRY(REALLoadObjectMethodFn, "REALLoadObjectMethod");
    return fn ? fn(object, declaration) : nullptr;
}

REALclassRef REALGetClassRef(const char* className) {
    HOST_ENTRY(REALGetClassRefFn, "pluginObjectType");
    return fn ? fn(className) : nullptr;
}

// Deliberately not independent of REALUnlockObject (see HostCallbacks.h).
REALpicture REALNewPicture(int32_t width, int32_t height, int32_t depth) {
    HOST_ENTRY(REALNewPictureFn, "newPicture");
    return fn && HostCanDropReferences() ? fn(width, height, depth) : nullptr;
}

// Deliberately not independent of REALUnlockObject (see HostCallbacks.h).
REALobject REALGetPictureGraphics(REALpicture picture) {
    HOST_ENTRY(REALGetPictureGraphicsFn, "pluginPictureGraphicsGetter");
    return fn && HostCanDropReferences() ? fn(picture) : nullptr;
}

// Deliberately not independent of REALUnlockObject (see HostCallbacks.h).
REALpicture REALGetPictureMask(REALpicture picture, bool create) {
    HOST_ENTRY(REALGetPictureMaskFn, "REALGetPictureMask");
    return fn && HostCanDropReferences() ? fn(picture, create ? 1 : 0) : nullptr;
}

// Deliberately not independent of unlockPictureDescription (see HostCallbacks.h).
bool REALLockPictureDescription(REALpicture picture, REALpictureDescription* description, int32_t kind) {
    HOST_ENTRY(REALLockPictureDescriptionFn, "REALLockPictureDescription");
    return fn && unlockPictureDescription.get() != nullptr && fn(picture, description, kind) != 0;
}

void REALUnlockPictureDescription(REALpicture picture) {
    REALUnlockPictureDescriptionFn fn = unlockPictureDescription.get();
    if (fn) fn(picture);
}

void REALPictureClearCache(REALpicture picture) {
    HOST_ENTRY(REALPictureClearCacheFn, "REALPictureClearCache");
    if (fn) fn(picture);
}

bool REALRegisterClassExtension(void* classDefinition) {
    HOST_ENTRY(REALRegisterClassExtensionFn, "PluginRegisterClassExtension");
    if (!fn) return false;
    fn(classDefinition);
    return true;
}

bool REALRegisterModule(REALmoduleDefinition* moduleDefinition) {
    HOST_ENTRY(REALRegisterModuleFn, "PluginRegisterModule");
    if (!fn) return false;
    fn(moduleDefinition);
    return true;
}

void REALRaiseException(REALobject exception) {
    HOST_ENTRY(REALRaiseExceptionFn, "RuntimeRaiseException");
    if (fn) fn(exception);
}

void REALYieldToRB() {
    HOST_ENTRY(REALYieldToRBFn, "REALYieldToRB");
    if (fn) fn();
}

REALstring originalREALBuildString(const char* bytes, int32_t length) {
    HOST_ENTRY(REALBuildStringFn, "REALBuildString");
    return fn ? fn(bytes, length) : nullptr;
}

void REALSetStringEncoding(REALstring string, uint32_t encoding) {
    HOST_ENTRY(REALSetStringEncodingFn, "REALSetStringEncoding");
    if (fn) fn(string, encoding);
}

void REALUnlockString(REALstring string) {
    HOST_ENTRY(REALUnlockStringFn, "REALUnlockString");
    if (fn) fn(string);
}
