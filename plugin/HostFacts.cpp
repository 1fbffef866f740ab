#include "plugin/HostFacts.h"

double rbversion = 0.0;
int32_t CurrentREALControlVersion = 13;
bool IsDesktop = false;
bool IsConsole = false;
