#include "plugin/PluginMain.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "picture/CBuffer.h"
#include "plugin/HostCallbacks.h"

namespace {

constexpr size_t kDeclarationBufferSize = 1000;
constexpr const char* kModulePartName = "Tessaro";

template <typename T>
using CRecord = std::unique_ptr<T, FreeDeleter>;

template <typename T>
T* CallocArray(size_t count) {
    return count == 0 ? nullptr : static_cast<T*>(calloc(count, sizeof(T)));
}

void ReadHostVersion() {
    auto getVersion = reinterpret_cast<REALGetRBVersionFn>(gResolver("REALGetRBVersion"));
    if (getVersion != nullptr) rbversion = getVersion();
}

void AnnounceRecordVersion() {
    auto registerVersion = reinterpret_cast<RegisterPluginVersionFn>(gResolver("RegisterPluginVersion"));
    if (registerVersion != nullptr) registerVersion(CurrentREALControlVersion);
}

template <typename Row>
void ConvertRowFlags(Row* rows, uint32_t count) {
    if (rows == nullptr) return;
    for (uint32_t i = 0; i < count; ++i) rows[i].mFlags = ConvertFlags(rows[i].mFlags, rbversion);
}

void ConvertClassFlags(REALclassDefinition* definition) {
    definition->mFlags = ConvertFlags(definition->mFlags, rbversion);
    ConvertRowFlags(definition->methods, definition->methodCount);
    ConvertRowFlags(definition->sharedMethods, definition->sharedMethodCount);
    ConvertRowFlags(definition->properties, definition->propertyCount);
    ConvertRowFlags(definition->sharedProperties, definition->sharedPropertyCount);
}

CRecord<REALmethodDefinitionV9> ShortenMethodRows(const REALmethodDefinition* rows, uint32_t count) {
    if (rows == nullptr || count == 0) return nullptr;
    CRecord<REALmethodDefinitionV9> shortened(CallocArray<REALmethodDefinitionV9>(count));
    if (!shortened) return nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        shortened.get()[i] = {rows[i].function, rows[i].setterFunction, rows[i].declaration, rows[i].mFlags};
    }
    return shortened;
}

// Hosts before record version 10 read the older, 25-word class layout.
void RegisterOlderClassLayout(const REALclassDefinition* definition) {
    CRecord<REALclassDefinitionV9> older(CallocArray<REALclassDefinitionV9>(1));
    if (!older) return;
    CRecord<REALmethodDefinitionV9> methods = ShortenMethodRows(definition->methods, definition->methodCount);
    CRecord<REALmethodDefinitionV9> sharedMethods =
        ShortenMethodRows(definition->sharedMethods, definition->sharedMethodCount);
    CRecord<REALpropertyV9> properties(FixProperties(definition->properties, definition->propertyCount));
    CRecord<REALpropertyV9> sharedProperties(
        FixProperties(definition->sharedProperties, definition->sharedPropertyCount));

    REALclassDefinitionV9& record = *older;
    record.version = 9;
    record.name = definition->name;
    record.superName = definition->superName;
    record.dataSize = definition->dataSize;
    record.constructor = definition->constructor;
    record.destructor = definition->destructor;
    record.properties = properties.get();
    record.propertyCount = properties ? definition->propertyCount : 0;
    record.methods = methods.get();
    record.methodCount = methods ? definition->methodCount : 0;
    record.mFlags = definition->mFlags;
    record.sharedProperties = sharedProperties.get();
    record.sharedPropertyCount = sharedProperties ? definition->sharedPropertyCount : 0;
    record.sharedMethods = sharedMethods.get();
    record.sharedMethodCount = sharedMethods ? definition->sharedMethodCount : 0;
    // Words 16 and 17 stay 0: the older layout has no bindings there.
    REALRegisterClassExtension(older.get());
}

void RegisterClassExtension(REALclassDefinition* definition) {
    if (CurrentREALControlVersion > 9) {
        definition->version = static_cast<uint32_t>(CurrentREALControlVersion);
        REALRegisterClassExtension(definition);
    } else {
        RegisterOlderClassLayout(definition);
    }
}

// Module records handed to the host stay allocated for the life of the
// library: the host keeps pointers into them. They are freed when the library
// is unloaded, so a host that lets it go loses nothing.
class ModuleRecords {
public:
    ModuleRecords() = default;
    ModuleRecords(const ModuleRecords&) = delete;
    ModuleRecords& operator=(const ModuleRecords&) = delete;
    ~ModuleRecords() {
        for (REALmoduleDefinition* module : kept_) Free(module);
    }
    // A record that cannot be remembered is simply never freed.
    void Keep(REALmoduleDefinition* module) noexcept {
        try {
            kept_.push_back(module);
        } catch (...) {
        }
    }

private:
    static void Free(REALmoduleDefinition* module) {
        for (uint32_t i = 0; i < module->methodCount; ++i) free(const_cast<char*>(module->methods[i].declaration));
        free(module->methods);
        free(const_cast<char*>(module->name));
        free(module);
    }
    std::vector<REALmoduleDefinition*> kept_;
};

ModuleRecords gModuleRecords;

uint32_t CountModuleRows(const REALmethodDefinition* rows, uint32_t count) {
    uint32_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (rows[i].function != nullptr) ++total;
        if (rows[i].setterFunction != nullptr) ++total;
    }
    return total;
}

char* ExtensionSetterDeclaration(const char* declaration, const char* className) {
    CRecord<char> extended(AddClassParameter(declaration, className));
    return extended ? RewriteSetterDeclaration(extended.get()) : nullptr;
}

// Hosts from 2013.0 to below 3000.0 take the methods as extension methods of
// a module whose first parameter is the picture.
void RegisterExtensionModule(const REALclassDefinition* definition) {
    if (definition->methods == nullptr || definition->methodCount < 1) return;
    char moduleName[100] = {0};
    snprintf(moduleName, sizeof moduleName, "%s%s%s", definition->name ? definition->name : "", kModulePartName,
             "ExtensionZPX");
    CRecord<REALmoduleDefinition> module(CallocArray<REALmoduleDefinition>(1));
    if (!module) return;
    uint32_t rowCount = CountModuleRows(definition->methods, definition->methodCount);
    CRecord<REALmethodDefinition> rows(CallocArray<REALmethodDefinition>(rowCount));
    if (!rows) return;

    uint32_t next = 0;
    for (uint32_t i = 0; i < definition->methodCount; ++i) {
        const REALmethodDefinition& source = definition->methods[i];
        if (source.setterFunction != nullptr) {
            rows.get()[next++] = {source.setterFunction, nullptr,
                                  ExtensionSetterDeclaration(source.declaration, definition->name),
                                  source.mFlags + REALflagExtensionMethod, source.reserved1, source.reserved2};
        }
        if (source.function != nullptr) {
            rows.get()[next++] = {source.function, nullptr, AddClassParameter(source.declaration, definition->name),
                                  source.mFlags + REALflagExtensionMethod, source.reserved1, source.reserved2};
        }
    }
    module->version = static_cast<uint32_t>(CurrentREALControlVersion);
    module->name = strdup(moduleName);
    module->methods = rows.release();
    module->methodCount = rowCount;
    gModuleRecords.Keep(module.get());
    REALRegisterModule(module.release());
}

// Copies at most `limit` characters of `text` (stopping at its end) into buffer; returns the count.
size_t CopyPrefix(char* buffer, const char* text, size_t length, size_t limit) {
    size_t count = std::min(length, limit);
    memcpy(buffer, text, count);
    return count;
}

}  // namespace

int32_t RecordVersionFor(double hostVersion) {
    if (hostVersion >= kHostVersionRecord13) return 13;
    if (hostVersion >= kHostVersionRecord12) return 12;
    if (hostVersion >= kHostVersionRecord11) return 11;
    if (hostVersion >= kHostVersionRecord10) return 10;
    return 9;
}

uint32_t ConvertFlags(uint32_t flags, double hostVersion) {
    if ((flags & REALflagsToConvert) != 0 && hostVersion >= kHostVersionFlagConversion) {
        flags = (flags & ~(REALflagScoped | REALflagShared)) | ((flags >> 16) & (REALflagScoped | REALflagShared));
    }
    return flags & ~REALflagsCleared;
}

void PluginMainWith(REALResolver resolver, REALclassDefinition* classDefinition) {
    // What the library knows of its host starts from nothing at every load.
    gResolver = resolver;
    ++gResolverGeneration;
    rbversion = 0.0;
    CurrentREALControlVersion = 13;
    IsDesktop = false;
    IsConsole = false;
    if (resolver == nullptr) return;
    ReadHostVersion();
    CurrentREALControlVersion = RecordVersionFor(rbversion);
    AnnounceRecordVersion();
    ConvertClassFlags(classDefinition);
    if (rbversion < kHostVersionRecord11 || rbversion >= kHostVersionClassExtensionAgain) {
        RegisterClassExtension(classDefinition);
    } else {
        RegisterExtensionModule(classDefinition);
    }
}

ZPX_EXPORT void REALPluginMain(REALResolver resolver) {
    ResetPictureClass();
    PluginMainWith(resolver, &pictureClass);
}

// Case 1, "Name as Type": the clause goes between the name and the space.
// Case 2, "Name(params)": the clause and a comma go right after the "(".
// Case 3, a bare name: the clause is appended.
char* AddClassParameter(const char* declaration, const char* className) {
    if (declaration == nullptr) declaration = "";
    if (className == nullptr) className = "";
    char buffer[kDeclarationBufferSize] = {0};
    size_t split = strcspn(declaration, " (");
    const size_t formattedLimit = kDeclarationBufferSize - 1;
    if (declaration[split] == ' ' || declaration[split] == '(') {
        size_t copied = CopyPrefix(buffer, declaration, split, formattedLimit);
        size_t room = formattedLimit - copied;
        if (room > 0) {
            const char* parameters = declaration + split + 1;
            const char* afterBlanks = parameters + strspn(parameters, " ");
            if (declaration[split] == ' ') {
                snprintf(buffer + copied, room, "(extends ref as %s)%s", className, declaration + split);
            } else if (*afterBlanks == ')') {
                // An empty parameter list takes the clause alone: a comma
                // before the closing parenthesis would leave a declaration
                // that no host parses.
                snprintf(buffer + copied, room, "(extends ref as %s%s", className, afterBlanks);
            } else {
                snprintf(buffer + copied, room, "(extends ref as %s, %s", className, parameters);
            }
        }
    } else {
        snprintf(buffer, kDeclarationBufferSize, "%s(extends ref as %s)", declaration, className);
    }
    return strdup(buffer);
}

char* RewriteSetterDeclaration(const char* declaration) {
    if (declaration == nullptr) return nullptr;
    char buffer[kDeclarationBufferSize] = {0};
    const size_t formattedLimit = kDeclarationBufferSize - 1;
    const char* close = strchr(declaration, ')');
    const char* space = strchr(declaration, ' ');
    if (close == nullptr && space == nullptr) return nullptr;
    const char* at = close != nullptr ? close : space;
    size_t copied = CopyPrefix(buffer, declaration, static_cast<size_t>(at - declaration), formattedLimit);
    size_t room = formattedLimit - copied;
    if (room > 0) {
        if (close != nullptr) {
            snprintf(buffer + copied, room, ", assigns value%s)", close + 1);
        } else {
            snprintf(buffer + copied, room, "(assigns value%s)", space);
        }
    }
    return strdup(buffer);
}

REALpropertyV9* FixProperties(const REALproperty* table, uint32_t count) {
    if (table == nullptr || count == 0) return nullptr;
    REALpropertyV9* fixed = CallocArray<REALpropertyV9>(count);
    if (fixed == nullptr) return nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        const REALproperty& row = table[i];
        fixed[i] = {row.group,       row.name,   row.declaration, row.getter, row.getterParam,
                    row.setter,      row.setterParam, row.mFlags, row.editor, row.defaultValue};
    }
    return fixed;
}
