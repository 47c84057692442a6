#pragma once
// SIGINT and SIGTERM asking `watch` to stop cleanly: the bar under way is
// finished, the alerts drained for a while and the state written.

#include <signal.h>

namespace vlmstruct::watch {

class StopSignal {
public:
    // Catches both signals until destroyed (the previous handlers come back then).
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    [[nodiscard]] bool raised() const;
    // Sleeps `seconds`, or less if a signal comes.
    void sleep(double seconds) const;

private:
    struct sigaction previousInt_ {}, previousTerm_{};
};

}  // namespace vlmstruct::watch
