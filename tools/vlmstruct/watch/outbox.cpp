#include "watch/outbox.h"

#include "watch/command_runner.h"
#include "watch/webhook_sender.h"

#include <algorithm>
#include <deque>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <thread>

namespace vlmstruct::watch {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One target's queue and its pause after a failure.
struct Lane {
    std::string name;  // names the target in reports
    std::function<Attempt(const Alert&, milliseconds)> attempt;
    std::deque<Alert> queue;
    milliseconds pause{0};  // the last pause; zero once something went through
    Clock::time_point nextTry{};
};

void checkRetry(const Retry& retry) {
    if (retry.first.count() <= 0 || retry.most < retry.first || retry.timeout.count() <= 0) {
        throw std::invalid_argument("retry: the first pause, the longest and the timeout must be positive, "
                                    "the longest no shorter than the first");
    }
}

// The id goes out as a header and names the alert in reports.
void checkId(const std::string& id) {
    const bool printable = std::all_of(id.begin(), id.end(), [](char c) { return c > 0x20 && c < 0x7f; });
    if (id.empty() || !printable) throw std::invalid_argument("alert id not printable ASCII without spaces: '" + id + "'");
}

}  // namespace

struct Outbox::Impl {
    Retry retry;
    std::function<void(const std::string&)> report;
    std::optional<CommandRunner> command;
    std::unique_ptr<WebhookSender> webhook;
    std::vector<Lane> lanes;  // exec first, then webhook

    // Sends the lane's queue until it is empty or an attempt fails; no
    // attempt is given past `deadline`.
    void send(Lane& lane, std::optional<Clock::time_point> deadline) const {
        if (lane.queue.empty() || Clock::now() < lane.nextTry) return;
        while (!lane.queue.empty()) {
            auto timeout = retry.timeout;
            if (deadline) {
                timeout = std::min(timeout, std::chrono::ceil<milliseconds>(*deadline - Clock::now()));
                if (timeout.count() <= 0) return;
            }
            const Alert& head = lane.queue.front();
            const Attempt attempt = lane.attempt(head, timeout);
            if (attempt.delivered) {
                lane.queue.pop_front();
                lane.pause = milliseconds{0};
                continue;
            }
            lane.pause = lane.pause.count() == 0 ? retry.first
                         : lane.pause > retry.most / 2 ? retry.most
                                                        : lane.pause * 2;
            lane.nextTry = Clock::now() + lane.pause;
            report("vlmstruct watch: " + lane.name + ": alert " + head.id + " not delivered (" + attempt.why +
                   "); trying again in " + std::to_string(lane.pause.count()) + " ms");
            return;
        }
    }
};

Outbox::Outbox(Targets targets) : impl_(std::make_unique<Impl>()) {
    checkRetry(targets.retry);
    impl_->retry = targets.retry;
    impl_->report = targets.report ? std::move(targets.report)
                                   : [](const std::string& line) { std::cerr << line << '\n' << std::flush; };
    if (!targets.exec.empty()) {
        const CommandRunner& runner = impl_->command.emplace(std::move(targets.exec));
        impl_->lanes.push_back({"exec", [&runner](const Alert& a, milliseconds t) { return runner.run(a, t); }, {}, {}, {}});
    }
    if (!targets.webhook.empty()) {
        impl_->webhook = std::make_unique<WebhookSender>(targets.webhook);
        WebhookSender& sender = *impl_->webhook;
        impl_->lanes.push_back(
            {"webhook " + sender.name(), [&sender](const Alert& a, milliseconds t) { return sender.post(a, t); }, {}, {}, {}});
    }
}

Outbox::~Outbox() = default;

void Outbox::add(const Alert& alert) {
    checkId(alert.id);
    for (Lane& lane : impl_->lanes) lane.queue.push_back(alert);
}

void Outbox::send() {
    for (Lane& lane : impl_->lanes) impl_->send(lane, std::nullopt);
}

bool Outbox::drain(milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    for (;;) {
        for (Lane& lane : impl_->lanes) impl_->send(lane, deadline);
        if (empty()) return true;
        auto wake = deadline;
        for (const Lane& lane : impl_->lanes) {
            if (!lane.queue.empty()) wake = std::min(wake, lane.nextTry);
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_until(wake);
    }
}

bool Outbox::empty() const {
    return std::all_of(impl_->lanes.begin(), impl_->lanes.end(), [](const Lane& lane) { return lane.queue.empty(); });
}

std::vector<std::vector<Alert>> Outbox::pending() const {
    std::vector<std::vector<Alert>> queues;
    for (const Lane& lane : impl_->lanes) queues.emplace_back(lane.queue.begin(), lane.queue.end());
    return queues;
}

void Outbox::restore(std::vector<std::vector<Alert>> queues) {
    if (queues.size() != impl_->lanes.size()) {
        throw std::invalid_argument("outbox: " + std::to_string(queues.size()) + " queues kept for " +
                                    std::to_string(impl_->lanes.size()) + " targets");
    }
    for (const auto& queue : queues) {
        for (const Alert& alert : queue) checkId(alert.id);
    }
    for (std::size_t i = 0; i < queues.size(); ++i) {
        auto& queue = impl_->lanes[i].queue;
        queue.insert(queue.begin(), std::make_move_iterator(queues[i].begin()), std::make_move_iterator(queues[i].end()));
    }
}

}  // namespace vlmstruct::watch
