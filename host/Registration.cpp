// Decoding the records a library registers, in both class record layouts.
#include "host/Registration.h"

namespace zpxhost {

namespace {

std::string TextOf(const char* text) { return text != nullptr ? text : ""; }

REALword Word(const void* address) { return reinterpret_cast<REALword>(address); }
REALword Word(uint32_t value) { return value; }

// The four words both row layouts share.
template <typename Method>
Registration::Row BasicRow(const Method& method) {
    Registration::Row row;
    row.function = method.function;
    row.setter = method.setterFunction;
    row.hasDeclaration = method.declaration != nullptr;
    row.declaration = TextOf(method.declaration);
    row.flags = method.mFlags;
    return row;
}

Registration::Row DecodeRow(const REALmethodDefinition& method) {
    Registration::Row row = BasicRow(method);
    row.extra = {method.reserved1, method.reserved2};
    return row;
}

Registration::Row DecodeRow(const REALmethodDefinitionV9& method) { return BasicRow(method); }

template <typename Method>
std::vector<Registration::Row> DecodeRows(const Method* methods, uint32_t count) {
    std::vector<Registration::Row> rows;
    for (uint32_t i = 0; methods != nullptr && i < count; ++i) rows.push_back(DecodeRow(methods[i]));
    return rows;
}

template <typename Property>
std::vector<Registration::Prop> DecodeProperties(const Property* properties, uint32_t count) {
    std::vector<Registration::Prop> props;
    for (uint32_t i = 0; properties != nullptr && i < count; ++i) {
        const Property& p = properties[i];
        props.push_back({TextOf(p.group), TextOf(p.name), TextOf(p.declaration), p.getter, p.setter, p.mFlags});
    }
    return props;
}

// The first 25 words, which both class layouts share.
template <typename Record>
std::vector<REALword> CommonWords(const Record& r) {
    // clang-format off
    return {Word(r.version), Word(r.name), Word(r.superName), r.dataSize, r.hostPrivate,                 // 0-4
            Word(r.constructor), Word(r.destructor), Word(r.properties), Word(r.propertyCount),          // 5-8
            Word(r.methods), Word(r.methodCount), r.events, r.eventCount, r.eventInstances,              // 9-13
            r.eventInstanceCount, r.interfaces, r.bindings, r.bindingCount, r.constants,                 // 14-18
            r.constantCount, Word(r.mFlags), Word(r.sharedProperties), Word(r.sharedPropertyCount),      // 19-22
            Word(r.sharedMethods), Word(r.sharedMethodCount)};                                           // 23-24
    // clang-format on
}

template <typename Record>
Registration DecodeClass(const Record& record) {
    Registration registration;
    registration.form = Registration::ClassExtension;
    registration.recordVersion = record.version;
    registration.name = TextOf(record.name);
    registration.classFlags = record.mFlags;
    registration.rows = DecodeRows(record.methods, record.methodCount);
    registration.sharedRows = DecodeRows(record.sharedMethods, record.sharedMethodCount);
    registration.properties = DecodeProperties(record.properties, record.propertyCount);
    registration.sharedProperties = DecodeProperties(record.sharedProperties, record.sharedPropertyCount);
    registration.words = CommonWords(record);
    return registration;
}

}  // namespace

bool IsOlderClassLayout(const void* record) { return *static_cast<const uint32_t*>(record) == 9; }

Registration DecodeClassExtension(const void* record) {
    if (IsOlderClassLayout(record))
        return DecodeClass(*static_cast<const REALclassDefinitionV9*>(record));
    const auto& current = *static_cast<const REALclassDefinition*>(record);
    Registration registration = DecodeClass(current);
    registration.words.insert(registration.words.end(), {current.delegates, current.delegateCount, current.enumerations,
                                                         current.enumerationCount});
    return registration;
}

Registration DecodeModule(const REALmoduleDefinition& record) {
    Registration registration;
    registration.form = Registration::Module;
    registration.recordVersion = record.version;
    registration.name = TextOf(record.name);
    registration.rows = DecodeRows(record.methods, record.methodCount);
    registration.words = {Word(record.version), Word(record.name), Word(record.methods), Word(record.methodCount)};
    registration.words.insert(registration.words.end(), std::begin(record.unused), std::end(record.unused));
    return registration;
}

}  // namespace zpxhost
