// The methods this library adds to the host's Picture class, in the order the
// host lists them. Flags hold bit 18 until REALPluginMain converts them for
// the host at hand.
#include "plugin/PluginMain.h"

REALmethodDefinition pictureMethods[1] = {};
const uint32_t pictureMethodCount = 0;

REALclassDefinition pictureClass = [] {
    REALclassDefinition definition{};
    definition.version = 13;
    definition.name = "Picture";
    definition.methods = pictureMethods;
    definition.methodCount = pictureMethodCount;
    definition.mFlags = REALdefaultMethodFlags;
    return definition;
}();
