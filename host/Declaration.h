// Method declarations as the host reads them: "Name(param as Type = default,
// ...) as Result", with the module form's leading "extends ref as Picture".
// The host uses the parsed form to call a registered function with the
// declared argument types and to supply omitted trailing arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "plugin/REALplugin.h"

namespace zpxhost {

// An argument or result as the host passes it. monostate: no value (a method
// without result, or an argument left to its default).
using Value = std::variant<std::monostate, int32_t, double, bool, REALpicture>;

enum class ValueType { None, Integer, Double, Boolean, Picture };

struct Parameter {
    std::string name;
    ValueType type = ValueType::None;
    bool extends = false;  // the receiver of an extension method
    bool assigns = false;  // the assigned value of a setter
    std::optional<Value> defaultValue;
};

struct ParsedDeclaration {
    bool valid = false;
    std::string error;  // why the text was not understood, when not valid
    std::string name;
    std::vector<Parameter> parameters;  // in order, an "extends" parameter included
    ValueType result = ValueType::None;

    bool ExtendsReceiver() const { return !parameters.empty() && parameters.front().extends; }
};

// Keywords and type names are matched without regard to case, as the host does.
ParsedDeclaration ParseDeclaration(const std::string& declaration);

const char* TypeName(ValueType type);

}  // namespace zpxhost
