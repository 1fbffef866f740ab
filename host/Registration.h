// What a library handed to the host at load, decoded from its records. The
// host keeps the records themselves and decodes them whenever it looks, so a
// library that freed or changed them after registering would be seen to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/REALplugin.h"

namespace zpxhost {

struct Registration {
    enum Form { None, ClassExtension, Module };

    struct Row {
        void* function = nullptr;
        void* setter = nullptr;
        bool hasDeclaration = false;
        std::string declaration;
        uint32_t flags = 0;
        std::vector<REALword> extra;  // the words after the flags: two in six-word rows, none in four-word rows
    };

    struct Prop {
        std::string group;
        std::string name;
        std::string declaration;
        void* getter = nullptr;
        void* setter = nullptr;
        uint32_t flags = 0;
    };

    Form form = None;
    uint32_t recordVersion = 0;
    std::string name;
    uint32_t classFlags = 0;  // class extensions only
    std::vector<Row> rows;
    std::vector<Row> sharedRows;
    std::vector<Prop> properties;
    std::vector<Prop> sharedProperties;
    // The record itself, one entry per word (29, 25 or 24 of them), pointers as addresses.
    std::vector<REALword> words;
    int pluginVersion = -1;  // what "RegisterPluginVersion" was told before this registration; -1: nothing
};

// A class record: word 0 tells the layout (9: the older one with four-word method rows).
bool IsOlderClassLayout(const void* record);
Registration DecodeClassExtension(const void* record);
Registration DecodeModule(const REALmoduleDefinition& record);

}  // namespace zpxhost
