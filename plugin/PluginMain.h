// The library's entry: keeps the host's resolver, learns the host version,
// and registers the Picture methods as a class extension or, on hosts that
// want them so, as extension methods of a module.
#pragma once

#include "plugin/HostFacts.h"
#include "plugin/REALplugin.h"

#define ZPX_EXPORT extern "C" __attribute__((visibility("default")))

// The Picture extension and its method rows, registered at load; each load
// first resets them to their flags as written.
extern REALclassDefinition pictureClass;
extern REALmethodDefinition pictureMethods[];
extern const uint32_t pictureMethodCount;
void ResetPictureClass();

ZPX_EXPORT void REALPluginMain(REALResolver resolver);

// REALPluginMain with the class record to register given explicitly, so that
// registration can be exercised with tables of any content.
void PluginMainWith(REALResolver resolver, REALclassDefinition* classDefinition);

// The record version for a host version.
int32_t RecordVersionFor(double hostVersion);
// Flag conversion of one class or row flag word for a host version.
uint32_t ConvertFlags(uint32_t flags, double hostVersion);

// The declaration of the same method as an extension method of className, or
// its setter form; both strdup'ed, owned by the caller. The setter form is null
// when the declaration has neither ")" nor a space.
char* AddClassParameter(const char* declaration, const char* className);
char* RewriteSetterDeclaration(const char* declaration);

// Ten-word copies of twelve-word property rows; null for a null table or no rows.
REALpropertyV9* FixProperties(const REALproperty* table, uint32_t count);
