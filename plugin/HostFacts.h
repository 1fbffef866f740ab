// What the library learns about its host: the version it reports, the
// definition record version chosen for it, and the application kind. The
// entry learns the first two at load; the picture views learn the kind when
// the first picture is opened.
#pragma once

#include <cstdint>

// The host version, 0.0 until REALPluginMain has read it.
extern double rbversion;
// The version of the definition records handed to the host.
extern int32_t CurrentREALControlVersion;

// Version gates: each the double nearest to its decimal value.
constexpr double kHostVersionFlagConversion = 2010.029;
constexpr double kHostVersionPictureConstructor = 2011.04;
constexpr double kHostVersionRecord10 = 2012.0;
constexpr double kHostVersionRecord11 = 2013.0;
constexpr double kHostVersionRecord12 = 2013.03;
constexpr double kHostVersionRecord13 = 2013.04;
constexpr double kHostVersionClassExtensionAgain = 3000.0;

inline bool IsOlderHost() { return rbversion < kHostVersionRecord10; }

// The application kind, learned when the first picture is opened: desktop
// applications hand out Core Graphics bitmap contexts, console and web
// applications their own console buffers. Once set, never cleared.
extern bool IsDesktop;
extern bool IsConsole;
