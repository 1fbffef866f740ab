// Host strings, class instances and the exceptions a library raises.
#include <new>
#include <utility>

#include "host/HostState.h"

namespace zpxhost {

namespace {

const char* const kExceptionClasses[] = {"NilObjectException", "OutOfMemoryException", "RuntimeException"};

bool IsExceptionClass(const std::string& name) {
    for (const char* known : kExceptionClasses) {
        if (name == known) return true;
    }
    return false;
}

}  // namespace

REALstring HostState::BuildString(const char* bytes, int32_t length) {
    if (failStringBuilds > 0) {
        --failStringBuilds;
        throw std::bad_alloc();
    }
    if (bytes == nullptr || length < 0) return nullptr;
    auto string = std::make_unique<StringObject>();
    string->text.assign(bytes, size_t(length));
    return reinterpret_cast<REALstring>(Adopt(std::move(string)));
}

REALobject HostState::NewInstance(const char* className) {
    if (className == nullptr || notInstantiable.count(className) != 0) return nullptr;
    if (std::string(className) == "Picture") {
        if (!CountCreation()) return nullptr;
        return reinterpret_cast<REALobject>(Adopt(std::make_unique<PictureObject>()));
    }
    if (!IsExceptionClass(className)) return nullptr;
    return reinterpret_cast<REALobject>(Adopt(std::make_unique<InstanceObject>(className)));
}

bool HostState::SetMessage(REALobject object, const char* name, REALstring value) {
    HostObject* target = Live(object, "REALSetPropValueString");
    if (target == nullptr || target->kind != ObjectKind::Instance || name == nullptr || !SameName(name, "Message"))
        return false;
    StringObject* message = nullptr;
    if (value != nullptr) {
        HostObject* string = Live(value, "REALSetPropValueString");
        if (string == nullptr || string->kind != ObjectKind::String) return false;
        message = static_cast<StringObject*>(string);
        Hold(message);
    }
    auto* instance = static_cast<InstanceObject*>(target);
    if (StringObject* old = std::exchange(instance->message, message)) Drop(old);
    return true;
}

bool HostState::SetErrorNumber(REALobject object, const char* name, int32_t value) {
    HostObject* target = Live(object, "REALSetPropValueInt");
    if (target == nullptr || target->kind != ObjectKind::Instance || name == nullptr || !SameName(name, "ErrorNumber"))
        return false;
    static_cast<InstanceObject*>(target)->errorNumber = value;
    return true;
}

void HostState::RaiseException(REALobject object) {
    HostObject* target = Live(object, "RuntimeRaiseException");
    if (target == nullptr) return;
    if (target->kind != ObjectKind::Instance) {
        Problem("RuntimeRaiseException: " + Describe(target) + " is no exception");
        return;
    }
    auto* instance = static_cast<InstanceObject*>(target);
    RaisedException record;
    record.className = instance->className;
    if (instance->message != nullptr) record.message = instance->message->text;
    record.errorNumber = instance->errorNumber;
    raised.push_back(std::move(record));
}

}  // namespace zpxhost
