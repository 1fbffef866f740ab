// Wrappers around the host entries. Each asks the resolver for its entry on
// first use and keeps the address; a null answer is not kept, so the next call
// asks again. While an entry is missing its wrapper does nothing and reports
// failure (false, null, no effect). A boolean the host answers with is a byte,
// true when non-zero.
//
// The library takes nothing from the host that it could not give back: while
// the host has no REALUnlockObject, REALNewPicture, REALGetPictureGraphics and
// REALGetPictureMask count as missing too (and no view takes a reference of
// its own, see PictureEditor), and REALLockPictureDescription does while the
// host has no entry to end a description lock. Otherwise such a host would
// keep pictures alive, or locked, for good. A reference taken for the caller
// (REALLockObject on a result) is taken all the same: the host drops that one.
// These few wrappers therefore depend on more than their own entry, on
// purpose: making them independent would drop the caller's reference or hold
// references and locks for ever. The README's promises say so too.
#pragma once

#include "plugin/REALplugin.h"

extern REALResolver gResolver;

// Bumped by REALPluginMain: every load by a host starts with no cached entry,
// so that a host that loads the library again is asked afresh.
extern uint32_t gResolverGeneration;

// True when the host took the reference; false while its entry is missing.
bool REALLockObject(REALobject object);
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

// False while the host has no entry to drop a reference: nothing that carries
// a reference for the library may then be taken.
bool HostCanDropReferences();

// Picture conveniences: a picture is an object to the reference counting.
inline bool REALLockObject(REALpicture picture) { return REALLockObject(ObjectOf(picture)); }
inline void REALUnlockObject(REALpicture picture) { REALUnlockObject(ObjectOf(picture)); }

