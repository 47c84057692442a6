#include "watch/stop_signal.h"

#include <poll.h>
#include <pthread.h>

#include <csignal>
#include <ctime>

namespace vlmstruct::watch {

namespace {

// A signal handler can only leave word in a variable of static storage; this
// flag is the one place the tool keeps such state.
volatile std::sig_atomic_t stopAsked = 0;

extern "C" void askStop(int) { stopAsked = 1; }

}  // namespace

StopSignal::StopSignal() {
    stopAsked = 0;
    struct sigaction action{};
    action.sa_handler = askStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a sleep ends at the signal
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
}

StopSignal::~StopSignal() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
}

bool StopSignal::raised() const { return stopAsked != 0; }

void StopSignal::sleep(double seconds) const {
    if (seconds <= 0.0) return;
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds);
    wait.tv_nsec = static_cast<long>((seconds - static_cast<double>(wait.tv_sec)) * 1e9);
    // Both signals held back from the look at the flag until the wait, which
    // lets them in as it starts: one that comes between the two ends the
    // wait at once instead of going unseen for the whole of it.
    sigset_t stops, before;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, &before);
    if (!raised()) ppoll(nullptr, 0, &wait, &before);  // cut short by a signal
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace vlmstruct::watch
