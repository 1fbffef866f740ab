// A module whose entry throws, to prove that zpx survives loading foreign
// code: built once throwing a std::exception and once throwing an int.
#include <stdexcept>

#include "plugin/REALplugin.h"

extern "C" __attribute__((visibility("default"))) void REALPluginMain(REALResolver) {
#ifdef ZPX_THROW_STANDARD
    throw std::runtime_error("the entry gave up");
#else
    throw 42;
#endif
}
