#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace quelvox {

void LowerThreadPriority() {
    // On Linux each thread has its own nice value, set through its id;
    // the step is taken from the main thread's, so a thread that lowers
    // itself twice (or was started by a lowered one) ends where one step
    // leads.
    constexpr int kStep = 5;
    errno = 0;
    const int main = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    if (main == -1 && errno != 0) return;
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), main + kStep);
}

}  // namespace quelvox
