// Background work yields the processor to the thread the user watches.
#pragma once

namespace quelvox {

// Lowers the scheduling priority of the calling thread a little below the
// main thread's (a higher nice value on Linux), so that background workers that keep every
// processor busy do not hold up the window thread. Silently does nothing
// where the system refuses.
void LowerThreadPriority();

}  // namespace quelvox
