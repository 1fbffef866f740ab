#include "tests/support/LockFaults.h"

#include <cstring>

#include "host/Host.h"

namespace {

REALLockPictureDescriptionFn gHostLock = nullptr;
int gRequests = 0;
int gRefuseAt = 0;

REALboolean CountingLock(REALpicture picture, REALpictureDescription* description, int32_t kind) {
    if (gHostLock == nullptr) return false;
    zpxhost::Host* host = zpxhost::Host::Current();
    if (++gRequests != gRefuseAt || host == nullptr) return gHostLock(picture, description, kind);
    host->RefuseLock(picture, kind, true);
    const REALboolean locked = gHostLock(picture, description, kind);
    host->RefuseLock(picture, kind, false);
    return locked;
}

void* CountingResolver(const char* entryName) {
    void* entry = zpxhost::Host::Resolve(entryName);
    if (entry == nullptr || entryName == nullptr || strcmp(entryName, "REALLockPictureDescription") != 0) return entry;
    gHostLock = reinterpret_cast<REALLockPictureDescriptionFn>(entry);
    return reinterpret_cast<void*>(&CountingLock);
}

}  // namespace

namespace zpxtest {

void LoadCountingLocks(REALPluginMainFn entry) {
    gHostLock = nullptr;
    RefuseNthLock(0);
    entry(&CountingResolver);
}

int LockRequests() { return gRequests; }

void RefuseNthLock(int n) {
    gRequests = 0;
    gRefuseAt = n;
}

}  // namespace zpxtest
