#include "core/platform/locks.h"

// Function-local statics: constructed on first use (thread-safe since C++11), destroyed at exit.
// This keeps the locks usable from other translation units' static constructors.
sectionLock& tableLock()
{
    static sectionLock lock;
    return lock;
}

sectionLock& settingsLock()
{
    static sectionLock lock;
    return lock;
}
