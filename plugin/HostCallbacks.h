// Wrappers around the host entries. Each asks the resolver for its entry on
// first use and keeps the address; a null answer is not kept, so the next call
// asks again. While an entry is missing its wrapper does nothing and reports
// failure (false, null, no effect).
#pragma once

#include "plugin/REALplugin.h"

extern REALResolver gResolver;

// Bumped by REALPluginMain: every load by a host starts with no cached entry,
// so that a host that loads the library again is asked afresh.
extern uint32_t gResolverGeneration;

void REALLockObject(REALobject object);
void REALUnlockObject(REALobject object);
bool REALGetPropValueInt32(REALobject object, const char* name, int32_t* value);
bool REALGetPropValueUInt8(REALobject object, const char* name, uint8_t* value);
bool REALSetPropValueString(REALobject object, const char* name, REALstring value);
bool REALSetPropValueInt32(REALobject object, const char* name, int32_t value);
REALobject REALnewInstance(const char* className);
void* REALLoadObjectMethod(REALobject object, const char* declaration);
REALclassRef REALGetClassRef(const char* className);
REALpicture REALNewPicture(int32_t width, int32_t height, int32_t depth);
REALobject REALGetPictureGraphics(REALpicture picture);
REALpicture REALGetPictureMask(REALpicture picture, bool create);
bool REALLockPictureDescription(REALpicture picture, REALpictureDescription* description, int32_t kind);
void REALUnlockPictureDescription(REALpicture picture);
void REALPictureClearCache(REALpicture picture);
bool REALRegisterClassExtension(void* classDefinition);
bool REALRegisterModule(REALmoduleDefinition* moduleDefinition);
void REALRaiseException(REALobject exception);
void REALYieldToRB();
REALstring originalREALBuildString(const char* bytes, int32_t length);
void REALSetStringEncoding(REALstring string, uint32_t encoding);
void REALUnlockString(REALstring string);

// Picture conveniences: a picture is an object to the reference counting.
inline void REALLockObject(REALpicture picture) { REALLockObject(ObjectOf(picture)); }
inline void REALUnlockObject(REALpicture picture) { REALUnlockObject(ObjectOf(picture)); }

