#pragma once
// One try at handing an alert to a target, as the outbox's queues see it.

#include <signal.h>

#include <string>

namespace vlmstruct::watch {

struct Attempt {
    bool delivered = false;
    std::string why;  // for a failure: what went wrong, for the report
};

// Writing to a peer that has gone away raises SIGPIPE, whose default ends
// the whole tool. While one of these lives, SIGPIPE is held back in the
// calling thread only (the process's handlers are left alone); one raised
// meanwhile is taken off before the old mask returns, so it never lands.
class HeldSigpipe {
public:
    HeldSigpipe();
    ~HeldSigpipe();
    HeldSigpipe(const HeldSigpipe&) = delete;
    HeldSigpipe& operator=(const HeldSigpipe&) = delete;

private:
    sigset_t old_{};
    bool pendingBefore_ = false;
};

}  // namespace vlmstruct::watch
