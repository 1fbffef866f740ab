// Host strings and host exceptions: how the library reports an error to the
// code that called it.
#pragma once

#include "plugin/REALplugin.h"

// Raises an instance of className (or "RuntimeException" when the host cannot
// make one) with the message; returns once the host has taken the exception.
void RaiseException(const char* className, const char* message, uint32_t encoding, int32_t errorNumber);

// A new host string for count bytes (one reference for the caller), or null
// for no bytes, a count outside 1..2147483647, or a host that cannot build it.
REALstring REALBuildUnicodeString(const char* bytes, int64_t count, uint32_t encoding);
