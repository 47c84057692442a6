#include "watch/stop_signal.h"

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
    if (raised() || seconds <= 0.0) return;
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds);
    wait.tv_nsec = static_cast<long>((seconds - static_cast<double>(wait.tv_sec)) * 1e9);
    nanosleep(&wait, nullptr);  // cut short by a signal
}

}  // namespace vlmstruct::watch
