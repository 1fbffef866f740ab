// Calling a registered method the way the host does: by its declaration,
// receiver first, omitted trailing arguments taken from the declared
// defaults, each argument passed with its declared type.
#include <stdexcept>

#include "host/HostState.h"

#ifdef ZPX_HOST_HAS_FFI
#include <ffi.h>
#endif

namespace zpxhost {

namespace {

const Registration::Row* FindRow(const Registration& registration, const std::string& methodName) {
    for (const Registration::Row& row : registration.rows) {
        if (row.function == nullptr || !row.hasDeclaration) continue;
        ParsedDeclaration parsed = ParseDeclaration(row.declaration);
        if (parsed.valid && SameName(parsed.name, methodName)) return &row;
    }
    return nullptr;
}

Value Converted(const Value& value, ValueType type, const std::string& parameter) {
    switch (type) {
        case ValueType::Integer:
            if (std::holds_alternative<int32_t>(value)) return value;
            break;
        case ValueType::Double:
            if (std::holds_alternative<double>(value)) return value;
            if (std::holds_alternative<int32_t>(value)) return double(std::get<int32_t>(value));
            break;
        case ValueType::Boolean:
            if (std::holds_alternative<bool>(value)) return value;
            break;
        case ValueType::Picture:
            if (std::holds_alternative<REALpicture>(value)) return value;
            break;
        case ValueType::None:
            break;
    }
    throw std::invalid_argument("argument " + parameter + " must be " + TypeName(type));
}

// The receiver, then each declared parameter's value.
std::vector<Value> Arguments(const ParsedDeclaration& declaration, REALpicture receiver,
                             const std::vector<Value>& given) {
    std::vector<Value> values{receiver};
    size_t next = 0;
    for (const Parameter& parameter : declaration.parameters) {
        if (parameter.extends) continue;
        const Value* supplied = next < given.size() ? &given[next] : nullptr;
        ++next;
        if (supplied != nullptr && !std::holds_alternative<std::monostate>(*supplied)) {
            values.push_back(Converted(*supplied, parameter.type, parameter.name));
        } else if (parameter.defaultValue) {
            values.push_back(*parameter.defaultValue);
        } else {
            throw std::invalid_argument("no value for " + parameter.name + " of " + declaration.name);
        }
    }
    if (next < given.size())
        throw std::invalid_argument(declaration.name + " takes " + std::to_string(next) + " arguments, not " +
                                    std::to_string(given.size()));
    return values;
}

std::vector<ValueType> ParameterTypes(const ParsedDeclaration& declaration) {
    std::vector<ValueType> types{ValueType::Picture};
    for (const Parameter& parameter : declaration.parameters) {
        if (!parameter.extends) types.push_back(parameter.type);
    }
    return types;
}

#ifdef ZPX_HOST_HAS_FFI

ffi_type* FfiType(ValueType type) {
    switch (type) {
        case ValueType::Integer:
            return &ffi_type_sint32;
        case ValueType::Double:
            return &ffi_type_double;
        case ValueType::Boolean:
            return &ffi_type_uint8;
        case ValueType::Picture:
            return &ffi_type_pointer;
        case ValueType::None:
            break;
    }
    return &ffi_type_void;
}

union Slot {
    int32_t integer;
    double real;
    uint8_t boolean;
    void* pointer;
    ffi_arg word;  // results narrower than a register come back widened
};

Slot SlotOf(const Value& value, REALboolean trueByte) {
    Slot slot{};
    if (auto* i = std::get_if<int32_t>(&value)) slot.integer = *i;
    if (auto* d = std::get_if<double>(&value)) slot.real = *d;
    if (auto* b = std::get_if<bool>(&value)) slot.boolean = *b ? trueByte : 0;
    if (auto* p = std::get_if<REALpicture>(&value)) slot.pointer = *p;
    return slot;
}

Value Invoke(void* function, const std::vector<ValueType>& types, const std::vector<Value>& values, ValueType result,
             REALboolean trueByte) {
    std::vector<ffi_type*> argumentTypes;
    std::vector<Slot> slots;
    std::vector<void*> addresses;
    for (size_t i = 0; i < values.size(); ++i) {
        argumentTypes.push_back(FfiType(types[i]));
        slots.push_back(SlotOf(values[i], trueByte));
    }
    for (Slot& slot : slots) addresses.push_back(&slot);
    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, unsigned(values.size()), FfiType(result), argumentTypes.data()) != FFI_OK)
        throw std::runtime_error("libffi cannot describe this call");
    Slot returned{};
    ffi_call(&cif, FFI_FN(function), &returned, addresses.data());
    switch (result) {
        case ValueType::Integer:
            return int32_t(returned.word);
        case ValueType::Double:
            return returned.real;
        case ValueType::Boolean:
            return uint8_t(returned.word) != 0;
        case ValueType::Picture:
            return static_cast<REALpicture>(returned.pointer);
        case ValueType::None:
            break;
    }
    return std::monostate{};
}

#else

// Without libffi only the shapes of the picture methods can be called, each
// through a function pointer of its exact type.
char Letter(ValueType type) {
    switch (type) {
        case ValueType::Integer:
            return 'I';
        case ValueType::Double:
            return 'D';
        case ValueType::Boolean:
            return 'B';
        case ValueType::Picture:
            return 'P';
        case ValueType::None:
            break;
    }
    return 'V';
}

REALpicture P(const Value& v) { return std::get<REALpicture>(v); }
int32_t I(const Value& v) { return std::get<int32_t>(v); }
double D(const Value& v) { return std::get<double>(v); }
REALboolean B(const Value& v, REALboolean trueByte) { return std::get<bool>(v) ? trueByte : 0; }

template <typename Fn>
Fn As(void* function) {
    return reinterpret_cast<Fn>(function);
}

Value Invoke(void* function, const std::vector<ValueType>& types, const std::vector<Value>& v, ValueType result,
             REALboolean trueByte) {
    std::string shape;
    for (ValueType type : types) shape += Letter(type);
    shape += std::string(":") + Letter(result);
    if (shape == "PPDDDI:B")
        return As<bool (*)(REALpicture, REALpicture, double, double, double, int32_t)>(function)(
            P(v[0]), P(v[1]), D(v[2]), D(v[3]), D(v[4]), I(v[5]));
    if (shape == "PIIBI:P")
        return As<REALpicture (*)(REALpicture, int32_t, int32_t, REALboolean, int32_t)>(function)(
            P(v[0]), I(v[1]), I(v[2]), B(v[3], trueByte), I(v[4]));
    if (shape == "PIIII:P")
        return As<REALpicture (*)(REALpicture, int32_t, int32_t, int32_t, int32_t)>(function)(P(v[0]), I(v[1]), I(v[2]),
                                                                                              I(v[3]), I(v[4]));
    if (shape == "PDI:P") return As<REALpicture (*)(REALpicture, double, int32_t)>(function)(P(v[0]), D(v[1]), I(v[2]));
    throw std::invalid_argument("a call of shape " + shape + " needs libffi");
}

#endif

}  // namespace

bool Host::CanCallAnyShape() {
#ifdef ZPX_HOST_HAS_FFI
    return true;
#else
    return false;
#endif
}

// The registration is read at the moment of the call, from the library's own
// records; every boolean argument of one call reaches it as the same byte.
Value Host::Call(const std::string& methodName, REALpicture receiver, std::vector<Value> args) {
    const Registration registration = Registered();
    const Registration::Row* row = FindRow(registration, methodName);
    if (row == nullptr) throw std::invalid_argument("no registered method " + methodName);
    ParsedDeclaration declaration = ParseDeclaration(row->declaration);
    std::vector<Value> values = Arguments(declaration, receiver, args);
    return Invoke(row->function, ParameterTypes(declaration), values, declaration.result, state_->TrueByte());
}

}  // namespace zpxhost
