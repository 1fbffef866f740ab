// The host runtime's plug-in interface as this library sees it: opaque handles,
// the records handed to the host at load, the picture description and the
// console buffer block, and the signatures of every host entry the library
// asks its resolver for. Written from what the library needs of the host;
// the emulated host (host/) serves exactly these.
#pragma once

#include <cstddef>
#include <cstdint>

// A boolean as the host passes it, in either direction: one byte, and any
// non-zero value is true. The host does not promise 1 for true, so a host
// boolean is never taken as a C++ bool, which the compiler may assume holds
// only 0 or 1.
typedef uint8_t REALboolean;

// Opaque, reference-counted host handles. Pictures and strings are objects
// of their own kinds; the library never looks inside them.
struct REALobjectStruct;
struct REALpictureStruct;
struct REALstringStruct;
typedef REALobjectStruct* REALobject;
typedef REALpictureStruct* REALpicture;
typedef REALstringStruct* REALstring;
typedef void* REALclassRef;

// A picture is a host object: reference counting and method lookup take it as one.
inline REALobject ObjectOf(REALpicture picture) { return reinterpret_cast<REALobject>(picture); }
inline REALpicture PictureOf(REALobject object) { return reinterpret_cast<REALpicture>(object); }

// The resolver handed to REALPluginMain: entry name in, entry address out (null when unknown).
typedef void* (*REALResolver)(const char* entryName);

// One "word" of a definition record: 32 bits on the host's own 32-bit builds,
// pointer-sized elsewhere so that addresses fit.
typedef uintptr_t REALword;

// Flag bits of class records and table rows before conversion at load.
enum : uint32_t {
    REALflagsToConvert = 0x000C0000,
    REALflagBit18 = 0x00040000,
    REALflagBit19 = 0x00080000,
    REALflagsCleared = 0x001C0000,
    REALflagScoped = 0x00000004,     // bit 18 after conversion
    REALflagShared = 0x00000008,     // bit 19 after conversion
    REALflagExtensionMethod = 0x00000010,
    REALdefaultMethodFlags = REALflagBit18,
};

// A method row: six words in current records, the first four in record version 9.
struct REALmethodDefinition {
    void* function;
    void* setterFunction;
    const char* declaration;
    uint32_t mFlags;
    REALword reserved1;
    REALword reserved2;
};

struct REALmethodDefinitionV9 {
    void* function;
    void* setterFunction;
    const char* declaration;
    uint32_t mFlags;
};

// A property row: twelve words in current records, the first ten in record version 9.
struct REALproperty {
    const char* group;
    const char* name;
    const char* declaration;
    void* getter;
    REALword getterParam;
    void* setter;
    REALword setterParam;
    uint32_t mFlags;
    REALword editor;
    REALword defaultValue;
    REALword reserved1;
    REALword reserved2;
};

struct REALpropertyV9 {
    const char* group;
    const char* name;
    const char* declaration;
    void* getter;
    REALword getterParam;
    void* setter;
    REALword setterParam;
    uint32_t mFlags;
    REALword editor;
    REALword defaultValue;
};

// The class record, 29 words. An extension of an existing class fills only the
// version, the name, the method table and the flags.
struct REALclassDefinition {
    uint32_t version;                        // word 0
    const char* name;                        // word 1
    const char* superName;                   // word 2
    REALword dataSize;                       // word 3
    REALword hostPrivate;                    // word 4
    void* constructor;                       // word 5
    void* destructor;                        // word 6
    REALproperty* properties;                // word 7
    uint32_t propertyCount;                  // word 8
    REALmethodDefinition* methods;           // word 9
    uint32_t methodCount;                    // word 10
    REALword events;                         // word 11
    REALword eventCount;                     // word 12
    REALword eventInstances;                 // word 13
    REALword eventInstanceCount;             // word 14
    REALword interfaces;                     // word 15
    REALword bindings;                       // word 16
    REALword bindingCount;                   // word 17
    REALword constants;                      // word 18
    REALword constantCount;                  // word 19
    uint32_t mFlags;                         // word 20
    REALproperty* sharedProperties;          // word 21
    uint32_t sharedPropertyCount;            // word 22
    REALmethodDefinition* sharedMethods;     // word 23
    uint32_t sharedMethodCount;              // word 24
    REALword delegates;                      // word 25
    REALword delegateCount;                  // word 26
    REALword enumerations;                   // word 27
    REALword enumerationCount;               // word 28
};

// Record version 9: the first 25 words of the class record, with four-word
// method rows and ten-word property rows.
struct REALclassDefinitionV9 {
    uint32_t version;
    const char* name;
    const char* superName;
    REALword dataSize;
    REALword hostPrivate;
    void* constructor;
    void* destructor;
    REALpropertyV9* properties;
    uint32_t propertyCount;
    REALmethodDefinitionV9* methods;
    uint32_t methodCount;
    REALword events;
    REALword eventCount;
    REALword eventInstances;
    REALword eventInstanceCount;
    REALword interfaces;
    REALword bindings;
    REALword bindingCount;
    REALword constants;
    REALword constantCount;
    uint32_t mFlags;
    REALpropertyV9* sharedProperties;
    uint32_t sharedPropertyCount;
    REALmethodDefinitionV9* sharedMethods;
    uint32_t sharedMethodCount;
};

// A module of extension methods, 24 words; the library fills the first four.
struct REALmoduleDefinition {
    uint32_t version;
    const char* name;
    REALmethodDefinition* methods;
    uint32_t methodCount;
    REALword unused[20];
};

// Description kinds a picture can be locked in.
enum : int32_t {
    REALdescriptionBitmapContext = 8,
    REALdescriptionConsoleBuffer = 10,
};

// Filled by the host when it locks a picture: six words.
struct REALpictureDescription {
    int32_t kind;
    void* data;        // the bitmap context (kind 8) or the console buffer block (kind 10)
    int32_t width;
    int32_t height;
    int32_t reserved1;
    int32_t reserved2;
};

// The host's console buffer block behind a kind-10 description, as far as the
// library reads it. Its rows are separate allocations reached through rowTable.
enum : size_t {
    REALconsoleHostWordOffset = 7224,
};
struct REALconsoleBuffer {
    int32_t firstWord;                  // 0 for a usable buffer
    int32_t width;
    int32_t height;
    uint8_t hostPrivate[REALconsoleHostWordOffset - 12];
    int32_t hostWord;                   // non-zero for a usable buffer
    uint32_t** rowTable;                // height row start addresses
};

#if defined(__i386__)
static_assert(sizeof(REALclassDefinition) == 29 * 4, "class record is 29 words");
static_assert(sizeof(REALclassDefinitionV9) == 25 * 4, "older class record is 25 words");
static_assert(sizeof(REALmoduleDefinition) == 96, "module record is 24 words");
static_assert(sizeof(REALmethodDefinition) == 6 * 4, "method row is 6 words");
static_assert(sizeof(REALmethodDefinitionV9) == 4 * 4, "older method row is 4 words");
static_assert(sizeof(REALproperty) == 12 * 4, "property row is 12 words");
static_assert(sizeof(REALpropertyV9) == 10 * 4, "older property row is 10 words");
static_assert(sizeof(REALpictureDescription) == 6 * 4, "picture description is 6 words");
static_assert(offsetof(REALconsoleBuffer, hostWord) == 7224, "console host word at byte 7224");
static_assert(offsetof(REALconsoleBuffer, rowTable) == 7228, "console row table at byte 7228");
#elif defined(__LP64__)
// A 64-bit host (x86-64 and arm64 alike) lays the same rows out in 8-byte slots.
static_assert(sizeof(REALclassDefinition) == 29 * 8, "class record is 29 slots");
static_assert(sizeof(REALclassDefinitionV9) == 25 * 8, "older class record is 25 slots");
static_assert(sizeof(REALmoduleDefinition) == 24 * 8, "module record is 24 slots");
static_assert(sizeof(REALmethodDefinition) == 6 * 8, "method row is 6 slots");
static_assert(sizeof(REALmethodDefinitionV9) == 4 * 8, "older method row is 4 slots");
static_assert(sizeof(REALproperty) == 12 * 8, "property row is 12 slots");
static_assert(sizeof(REALpropertyV9) == 10 * 8, "older property row is 10 slots");
static_assert(sizeof(REALpictureDescription) == 32, "picture description: the data pointer on an 8-byte boundary");
static_assert(offsetof(REALconsoleBuffer, hostWord) == 7224, "console host word at byte 7224");
static_assert(offsetof(REALconsoleBuffer, rowTable) == 7232, "console row table at byte 7232");
#endif
// Host entries, by the signatures the library calls them with.
extern "C" {
typedef void (*REALLockObjectFn)(REALobject object);
typedef void (*REALUnlockObjectFn)(REALobject object);
typedef REALboolean (*REALGetPropValueInt32Fn)(REALobject object, const char* name, int32_t* value);
typedef REALboolean (*REALGetPropValueUInt8Fn)(REALobject object, const char* name, uint8_t* value);
typedef REALboolean (*REALSetPropValueStringFn)(REALobject object, const char* name, REALstring value);
typedef REALboolean (*REALSetPropValueInt32Fn)(REALobject object, const char* name, int32_t value);
typedef REALobject (*REALnewInstanceFn)(const char* className);
typedef void* (*REALLoadObjectMethodFn)(REALobject object, const char* declaration);
typedef REALclassRef (*REALGetClassRefFn)(const char* className);
typedef REALpicture (*REALNewPictureFn)(int32_t width, int32_t height, int32_t depth);
typedef REALobject (*REALGetPictureGraphicsFn)(REALpicture picture);
typedef REALpicture (*REALGetPictureMaskFn)(REALpicture picture, REALboolean create);
typedef REALboolean (*REALLockPictureDescriptionFn)(REALpicture picture, REALpictureDescription* description,
                                                    int32_t kind);
typedef void (*REALUnlockPictureDescriptionFn)(REALpicture picture);
typedef void (*REALPictureClearCacheFn)(REALpicture picture);
typedef void (*REALRegisterClassExtensionFn)(void* classDefinition);
typedef void (*REALRegisterModuleFn)(REALmoduleDefinition* moduleDefinition);
typedef void (*REALRaiseExceptionFn)(REALobject exception);
typedef void (*REALYieldToRBFn)();
typedef REALstring (*REALBuildStringFn)(const char* bytes, int32_t length);
typedef void (*REALSetStringEncodingFn)(REALstring string, uint32_t encoding);
typedef void (*REALUnlockStringFn)(REALstring string);
typedef double (*REALGetRBVersionFn)();
typedef void (*RegisterPluginVersionFn)(int32_t recordVersion);

// Host methods found with REALLoadObjectMethod; the object comes first.
typedef void (*REALGraphicsDrawPictureFn)(REALobject graphics, REALpicture image, int32_t x, int32_t y,
                                          int32_t w, int32_t h, int32_t sx, int32_t sy, int32_t sw,
                                          int32_t sh);
typedef void (*REALPictureConstructorFn)(REALobject picture, int32_t width, int32_t height);
typedef REALpicture (*REALCopyMaskFn)(REALobject picture);
typedef void (*REALSetMaskFn)(REALobject picture, REALpicture newMask);

typedef void (*REALPluginMainFn)(REALResolver resolver);
}

// Text encodings passed to the string builder.
enum : uint32_t {
    REALencodingASCII = 0x0600,
};

// Declarations of the host methods the library calls, exactly as the host knows them.
#define REAL_DRAWPICTURE_DECLARATION                                                                  \
    "DrawPicture(Image as Picture, x as Integer, y as Integer, w as Integer, h as Integer, sx as " \
    "Integer = 0, sy as Integer = 0, sw as Integer = -10000, sh as Integer = -10000)"
#define REAL_PICTURE_CONSTRUCTOR_DECLARATION "Constructor(width as integer, height as integer)"
#define REAL_COPYMASK_DECLARATION "CopyMask as Picture"
#define REAL_SETMASK_DECLARATION "Mask(assigns newMask As Picture)"
