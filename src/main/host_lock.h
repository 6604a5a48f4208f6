// One Flash rewritten at a time on a host: the bridge has one address
// counter and one Flash interface, and every run resets both, so a second
// run at once would move where the first one's bytes land. Every run that
// opens a card holds the host's lock from before the card library is loaded
// until after the card is closed.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Opens it, taking nothing yet; false, said, when it cannot be.
bool open_host_lock(host_lock *lock);
// True when the run holds the lock. Held by another run, false, said, unless
// it is freed within waitSeconds; an interrupt while waiting ends the wait.
bool take_host_lock(uint32_t waitSeconds, host_lock *lock);
