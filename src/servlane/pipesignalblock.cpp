#include "pipesignalblock.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>

namespace servlane {

namespace {

sigset_t pipeOnly()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool pipePending()
{
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

PipeSignalBlock::PipeSignalBlock()
{
    m_wasPending = pipePending();
    const sigset_t block = pipeOnly();
    pthread_sigmask(SIG_BLOCK, &block, &m_previous);
}

PipeSignalBlock::~PipeSignalBlock()
{
    // A write's SIGPIPE goes to the thread that wrote, so a pending one that
    // was not there before is the one the blocked writes raised.
    const int writeError = errno;
    if (!m_wasPending && pipePending()) {
        const sigset_t set = pipeOnly();
        const timespec now{0, 0};
        while (sigtimedwait(&set, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    errno = writeError;
}

} // namespace servlane
