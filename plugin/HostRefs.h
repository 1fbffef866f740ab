// Owners of one host reference each: the reference is dropped when the owner
// goes out of scope, also when an exception from a host call passes through.
#pragma once

#include <utility>

#include "plugin/HostCallbacks.h"

template <typename Handle, void (*Drop)(Handle)>
class HostRef {
public:
    HostRef() = default;
    explicit HostRef(Handle handle) : handle_(handle) {}
    ~HostRef() { reset(); }
    HostRef(HostRef&& other) noexcept : handle_(other.release()) {}
    HostRef& operator=(HostRef&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.release();
        }
        return *this;
    }
    HostRef(const HostRef&) = delete;
    HostRef& operator=(const HostRef&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Hands the reference on to the caller.
    Handle release() { return std::exchange(handle_, nullptr); }
    void reset(Handle handle = nullptr) {
        Handle old = std::exchange(handle_, handle);
        if (old != nullptr) Drop(old);
    }

private:
    Handle handle_ = nullptr;
};

inline void DropObject(REALobject object) { REALUnlockObject(object); }
inline void DropPicture(REALpicture picture) { REALUnlockObject(ObjectOf(picture)); }
inline void DropString(REALstring string) { REALUnlockString(string); }

using HostObjectRef = HostRef<REALobject, DropObject>;
using HostPictureRef = HostRef<REALpicture, DropPicture>;
using HostStringRef = HostRef<REALstring, DropString>;
