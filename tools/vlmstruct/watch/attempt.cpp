#include "watch/attempt.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

namespace vlmstruct::watch {

HeldSigpipe::HeldSigpipe() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    sigset_t pending;
    sigpending(&pending);
    pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
}

HeldSigpipe::~HeldSigpipe() {
    sigset_t pending;
    sigpending(&pending);
    if (!pendingBefore_ && sigismember(&pending, SIGPIPE) == 1) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec now{};
        while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

}  // namespace vlmstruct::watch
