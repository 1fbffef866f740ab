// Description locks counted and refused one at a time. The library is loaded
// with a resolver that hands out the current host's entries unchanged except
// the description lock, which first counts the request and, for the chosen
// one, has the host refuse it as RefuseLock would: an older host then keeps
// the refused lock open until the library undoes it.
#pragma once

#include "plugin/REALplugin.h"

namespace zpxtest {

// Calls the library's entry with the counting resolver; the host's asks are
// counted as with Host::LoadEntry.
void LoadCountingLocks(REALPluginMainFn entry);
// Lock requests since loading or since the last RefuseNthLock.
int LockRequests();
// Restarts the count; the n-th request from now (1-based) is refused, 0 refuses none.
void RefuseNthLock(int n);

}  // namespace zpxtest
