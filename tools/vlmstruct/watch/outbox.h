#pragma once
// Where `watch` sends its alerts besides standard output: a command run per
// alert with the alert on its standard input, and a webhook posted the
// alert as its JSON body. Each keeps its own queue, in order: an alert that
// cannot be delivered now stays at the head of its queue and is tried again
// after a growing pause, and nothing behind it goes first. The queues are
// part of `watch`'s state file, so a restart sends what was left.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vlmstruct::watch {

// One event as sent: its stable id and its JSON object, one line.
struct Alert {
    std::string id;
    std::string json;

    friend bool operator==(const Alert&, const Alert&) = default;
};

struct Retry {
    std::chrono::milliseconds first{500};  // the pause after a first failure
    std::chrono::milliseconds most{60000};  // the pauses double up to this
    std::chrono::milliseconds timeout{10000};  // one attempt at most
};

struct Targets {
    std::string exec;     // run by /bin/sh -c; empty: none
    std::string webhook;  // http:// or https:// URL; empty: none
    Retry retry;
    // Where a failed attempt is told, one line without its line break;
    // empty: standard error.
    std::function<void(const std::string&)> report;
};

// Not shared between threads: one thread adds and sends.
class Outbox {
public:
    // Throws std::invalid_argument for a webhook that is not an http(s) URL
    // or a retry whose pauses or timeout are not positive (or whose longest
    // pause is shorter than its first).
    explicit Outbox(Targets targets);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Queues an alert for every target. Throws std::invalid_argument for an
    // id that is empty or not printable ASCII without spaces (it travels
    // in a header).
    void add(const Alert& alert);
    // Sends what is queued, in order, until a target's queue is empty or its
    // next alert fails (that target then waits out its pause; the others go
    // on). Returns without waiting out a pause: besides the alerts that go
    // through, it spends at most one failed attempt (Retry::timeout) per
    // target. A failure is reported once per pause, naming the target and
    // the alert's id.
    void send();
    // Tries until every queue is empty or `patience` has passed (a clean
    // stop; no attempt runs past it); returns whether everything was
    // delivered.
    bool drain(std::chrono::milliseconds patience);
    [[nodiscard]] bool empty() const;

    // The queues, for the state file: per target in the order exec, webhook
    // (only the targets set), the alerts not yet delivered.
    [[nodiscard]] std::vector<std::vector<Alert>> pending() const;
    // Puts back queues kept by pending() (same targets), ahead of anything
    // added. Throws std::invalid_argument for another number of queues.
    void restore(std::vector<std::vector<Alert>> queues);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vlmstruct::watch
