// Reference counting and the audit of the host's objects.
#include <cctype>
#include <sstream>
#include <utility>

#include "host/HostState.h"

namespace zpxhost {

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

HostObject* HostState::Find(const void* handle) const {
    auto it = byHandle.find(handle);
    return it == byHandle.end() ? nullptr : it->second;
}

HostObject* HostState::Live(const void* handle, const char* entry) {
    HostObject* object = Find(handle);
    if (object == nullptr) {
        std::ostringstream text;
        text << entry << ": " << handle << " is no object of this host";
        Problem(text.str());
        return nullptr;
    }
    if (!object->alive) {
        Problem(std::string(entry) + ": " + Describe(object) + " is already dead");
        return nullptr;
    }
    return object;
}

PictureObject* HostState::LivePicture(const void* handle, const char* entry) {
    HostObject* object = Live(handle, entry);
    if (object == nullptr) return nullptr;
    if (object->kind != ObjectKind::Picture) {
        Problem(std::string(entry) + ": " + Describe(object) + " is not a picture");
        return nullptr;
    }
    return static_cast<PictureObject*>(object);
}

void HostState::Release(HostObject* object) {
    if (--object->refCount > 0) return;
    object->alive = false;
    switch (object->kind) {
        case ObjectKind::Picture: {
            auto* picture = static_cast<PictureObject*>(object);
            if (picture->heldLocks > 0) Problem(Describe(picture) + " died with its description still locked");
            picture->FreePixels();
            if (PictureObject* mask = std::exchange(picture->mask, nullptr)) Drop(mask);
            break;
        }
        case ObjectKind::Graphics:
            Drop(static_cast<GraphicsObject*>(object)->picture);
            break;
        case ObjectKind::Instance:
            if (StringObject* message = std::exchange(static_cast<InstanceObject*>(object)->message, nullptr))
                Drop(message);
            break;
        case ObjectKind::String:
            break;
    }
}

std::string HostState::Describe(const HostObject* object) const {
    std::ostringstream text;
    text << "#" << object->serial << " ";
    switch (object->kind) {
        case ObjectKind::Picture: {
            auto* picture = static_cast<const PictureObject*>(object);
            if (!picture->constructed) {
                text << "Picture (not constructed)";
            } else {
                text << "Picture " << picture->width << "x" << picture->height
                     << (picture->hasAlpha ? " with alpha" : "");
            }
            break;
        }
        case ObjectKind::Graphics:
            text << "Graphics of #" << static_cast<const GraphicsObject*>(object)->picture->serial;
            break;
        case ObjectKind::Instance:
            text << object->className;
            break;
        case ObjectKind::String:
            text << "String \"" << static_cast<const StringObject*>(object)->text << "\"";
            break;
    }
    return text.str();
}

std::string HostState::Audit(std::initializer_list<const void*> expectedAlive) const {
    std::vector<std::string> lines = problems;
    std::set<const void*> expected(expectedAlive.begin(), expectedAlive.end());
    expected.erase(nullptr);
    for (const void* handle : expected) {
        const HostObject* object = Find(handle);
        if (object == nullptr) {
            std::ostringstream text;
            text << "expected " << handle << " alive, but it is no object of this host";
            lines.push_back(text.str());
        } else if (!object->alive) {
            lines.push_back("expected " + Describe(object) + " alive, but it is dead");
        } else if (object->refCount - object->hostRefs != 1) {
            lines.push_back(Describe(object) + " has " + std::to_string(object->refCount - object->hostRefs) +
                            " references from outside the host, expected 1");
        }
    }
    for (const auto& object : objects) {
        if (!object->alive) continue;
        int outside = object->refCount - object->hostRefs;
        if (outside > 0 && expected.count(object.get()) == 0)
            lines.push_back("leaked: " + Describe(object.get()) + " with " + std::to_string(outside) +
                            (outside == 1 ? " reference" : " references"));
        if (object->kind == ObjectKind::Picture) {
            int locks = static_cast<const PictureObject*>(object.get())->heldLocks;
            if (locks > 0)
                lines.push_back(Describe(object.get()) + " still holds " + std::to_string(locks) + " description lock" +
                                (locks == 1 ? "" : "s") +
                                (OlderHost() ? " (an older host needs an unlock after a refused lock too)" : ""));
        }
    }
    std::string result;
    for (const std::string& line : lines) result += line + "\n";
    return result;
}

}  // namespace zpxhost
