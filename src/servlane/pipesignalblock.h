#pragma once

#include <csignal>

namespace servlane {

// Keeps a write to a socket whose reader has gone from ending the program.
// sendfile has no MSG_NOSIGNAL, and the program hosting the server may have
// left SIGPIPE at its default (which ends it), so for as long as this object
// lives SIGPIPE is blocked for the calling thread only; one raised meanwhile
// is taken back before the old mask returns, leaving the program's own
// handling of the signal as it was. The failed write reports EPIPE as usual.
class PipeSignalBlock final {
public:
    PipeSignalBlock();
    ~PipeSignalBlock();
    PipeSignalBlock(const PipeSignalBlock&) = delete;
    PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;

private:
    sigset_t m_previous;
    bool m_wasPending = false; // raised before: not ours to take back
};

} // namespace servlane
