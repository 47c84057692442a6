#include "watch/outbox.h"

#include "support/loopback_http.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace vlmstruct::watch {
namespace {

using std::chrono::milliseconds;
using vlm::testing::Answer;
namespace fs = std::filesystem;

// Short pauses; a timeout that only a command or server that never
// answers runs into, even on a loaded machine.
const Retry kQuick{milliseconds{1}, milliseconds{4}, milliseconds{1000}};
constexpr milliseconds kPatience{60000};

std::vector<Alert> alerts(int count) {
    std::vector<Alert> made;
    for (int bar = 0; bar < count; ++bar) {
        const std::string id = std::to_string(bar) + "-0";
        made.push_back({id, R"({"id":")" + id + R"(","bar":)" + std::to_string(bar) + R"(,"final":true})"});
    }
    return made;
}

// One attempt as the target saw it.
struct Seen {
    std::string body;
    bool delivered;
};

// Every alert, in order, each tried until it was delivered: the attempts
// fall into runs of one body, one run per alert, and only a run's last
// attempt was delivered.
void expectEachDeliveredOnceInOrder(const std::vector<Seen>& seen, const std::vector<Alert>& sent) {
    std::size_t next = 0;
    for (const Alert& alert : sent) {
        ASSERT_LT(next, seen.size()) << "never delivered: " << alert.id;
        while (next < seen.size() && !seen[next].delivered) EXPECT_EQ(seen[next++].body, alert.json);
        ASSERT_LT(next, seen.size()) << "never delivered: " << alert.id;
        EXPECT_EQ(seen[next++].body, alert.json);
    }
    EXPECT_EQ(next, seen.size()) << "attempts after the last alert was delivered";
}

struct Reports {
    std::vector<std::string> lines;
    [[nodiscard]] Targets targets(std::string exec, std::string webhook) {
        return {std::move(exec), std::move(webhook), kQuick, [this](const std::string& line) { lines.push_back(line); }};
    }
};

// A scratch folder and an attempt script that logs its input and acts as
// the n-th line of its plan says: fail, hang (with a child of its own), or
// (anything else) succeed.
class Scratch {
public:
    explicit Scratch(const std::vector<std::string>& plan) {
        std::string pattern = ::testing::TempDir() + "outbox_XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        dir_ = pattern;
        std::ofstream(dir_ / "plan") << join(plan);
        std::ofstream(dir_ / "attempt.sh") << R"(dir=$1
n=$(cat "$dir/count" 2>/dev/null || echo 0)
echo $((n + 1)) > "$dir/count"
{ cat; echo; } >> "$dir/seen"
case $(sed -n "$((n + 1))p" "$dir/plan") in
  fail) exit 3 ;;
  hang) sleep 30 & echo $! >> "$dir/sleepers"; wait ;;
esac
)";
    }
    ~Scratch() { fs::remove_all(dir_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    [[nodiscard]] std::string command() const { return "sh '" + (dir_ / "attempt.sh").string() + "' '" + dir_.string() + "'"; }
    [[nodiscard]] std::string path(const char* name) const { return (dir_ / name).string(); }
    [[nodiscard]] std::vector<std::string> lines(const char* name) const {
        std::ifstream in(dir_ / name);
        std::vector<std::string> read;
        for (std::string line; std::getline(in, line);) read.push_back(line);
        return read;
    }

private:
    static std::string join(const std::vector<std::string>& lines) {
        std::string text;
        for (const auto& line : lines) text += line + "\n";
        return text;
    }
    fs::path dir_;
};

std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

void expectNoChildLeft() {
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child left behind";
    EXPECT_EQ(errno, ECHILD);
}

// Gone, or dead and awaiting its new parent.
bool stopped(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return text.empty() || (close != std::string::npos && text.size() > close + 2 && text[close + 2] == 'Z');
}

TEST(Outbox, WebhookAcceptsEveryAlertOnceInOrderWhateverFails) {
    const struct {
        const char* name;
        std::vector<Answer> plan;  // answers to the first requests; then 200
    } cases[] = {
        {"all answered", {}},
        {"refused", {Answer::Error, Answer::Error, Answer::Ok, Answer::Error}},
        {"dropped", {Answer::Drop, Answer::Ok, Answer::Drop, Answer::Drop}},
        {"too slow", {Answer::Silent, Answer::Ok, Answer::Silent}},
        {"mixed", {Answer::Ok, Answer::Error, Answer::Drop, Answer::Silent, Answer::Error, Answer::Ok, Answer::Drop}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vlm::testing::LoopbackHttp server(c.plan);
        Reports reports;
        Outbox outbox(reports.targets("", server.url()));
        const auto sent = alerts(5);
        for (const Alert& alert : sent) {
            outbox.add(alert);
            outbox.send();
        }
        ASSERT_TRUE(outbox.drain(kPatience));

        const auto received = server.received();
        std::vector<Seen> seen;
        for (const auto& r : received) {
            seen.push_back({r.body, r.answer == Answer::Ok});
            EXPECT_EQ(r.contentType, "application/json");
            EXPECT_NE(r.body.find(R"({"id":")" + r.id + '"'), std::string::npos) << "body and Idempotency-Key disagree";
        }
        expectEachDeliveredOnceInOrder(seen, sent);
        const bool oneConnection = std::all_of(received.begin(), received.end(), [](const auto& r) { return r.connection == 0; });
        if (c.plan.empty()) {
            EXPECT_TRUE(oneConnection) << "the connection is not kept";
        }

        // Each report names the target and an alert the server did not take
        // at some attempt. (libcurl itself sends again once on a kept
        // connection found closed, so reports may be fewer than failures.)
        const auto failures = std::count_if(received.begin(), received.end(), [](const auto& r) { return r.answer != Answer::Ok; });
        EXPECT_LE(static_cast<long>(reports.lines.size()), failures);
        EXPECT_EQ(reports.lines.empty(), failures == 0);
        for (const auto& line : reports.lines) {
            const std::string name = server.url().substr(0, server.url().rfind('/'));
            EXPECT_NE(line.find("vlmstruct watch: webhook " + name + ": alert "), std::string::npos) << line;
            EXPECT_EQ(line.find("/hook"), std::string::npos) << "a webhook's path may hold its secret: " << line;
            const bool namesAFailure = std::any_of(received.begin(), received.end(), [&](const auto& r) {
                return r.answer != Answer::Ok && line.find("alert " + r.id + " ") != std::string::npos;
            });
            EXPECT_TRUE(namesAFailure) << line;
        }
    }
}

// The command is tried again after pauses that double from the first to
// the longest, one report per failure.
TEST(Outbox, CommandGetsEveryAlertInOrderAfterFailuresAndTimeouts) {
    const struct {
        const char* name;
        std::vector<std::string> plan;  // per attempt: fail, hang, else succeed
    } cases[] = {
        {"all succeed", {}},
        {"fails five times", {"fail", "fail", "fail", "fail", "fail"}},
        {"hangs and fails", {"ok", "fail", "hang", "ok", "hang", "fail", "ok", "fail"}},
    };
    const std::size_t descriptors = openDescriptors();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Scratch scratch(c.plan);
        Reports reports;
        {
            Outbox outbox(reports.targets(scratch.command(), ""));
            const auto sent = alerts(4);
            for (const Alert& alert : sent) {
                outbox.add(alert);
                outbox.send();
            }
            ASSERT_TRUE(outbox.drain(kPatience));

            // What the plan makes of each attempt, and the reports it calls for.
            std::vector<Seen> seen;
            std::vector<std::pair<std::string, long>> expected;  // id, pause
            std::size_t delivered = 0;
            int failures = 0;
            const auto bodies = scratch.lines("seen");
            for (std::size_t n = 0; n < bodies.size(); ++n) {
                const bool ok = n >= c.plan.size() || (c.plan[n] != "fail" && c.plan[n] != "hang");
                seen.push_back({bodies[n], ok});
                if (ok) {
                    ++delivered;
                    failures = 0;
                } else {
                    expected.emplace_back(sent.at(std::min(delivered, sent.size() - 1)).id, std::min(kQuick.first * (1 << failures++), kQuick.most).count());
                }
            }
            expectEachDeliveredOnceInOrder(seen, sent);
            ASSERT_EQ(reports.lines.size(), expected.size());
            const std::regex form(R"(vlmstruct watch: exec: alert (\S+) not delivered \(.+\); trying again in (\d+) ms)");
            for (std::size_t i = 0; i < reports.lines.size(); ++i) {
                std::smatch parts;
                ASSERT_TRUE(std::regex_match(reports.lines[i], parts, form)) << reports.lines[i];
                EXPECT_EQ(parts[1].str(), expected[i].first);
                EXPECT_EQ(std::stol(parts[2].str()), expected[i].second) << reports.lines[i];
            }
        }
        for (const auto& sleeper : scratch.lines("sleepers")) EXPECT_TRUE(stopped(std::stoi(sleeper))) << "left running";
    }
    expectNoChildLeft();
    EXPECT_EQ(openDescriptors(), descriptors);
}

// One attempt per kind of command: whatever it does with its input, the
// tool lives on (no SIGPIPE), and its exit status alone decides.
TEST(Outbox, CommandExitStatusDecidesAndNothingLeaks) {
    const std::string big(1 << 20, 'x');  // more than a pipe holds
    const struct {
        std::string command;
        std::string json;
        bool delivered;
        std::string why;
    } cases[] = {
        {"exit 0", big, true, ""},
        {"cat > /dev/null", big, true, ""},
        {"exit 3", "{}", false, "(exit status 3)"},
        {"kill -KILL $$", "{}", false, "(killed by signal Killed)"},
        {"/nonexistent/command 2>/dev/null", "{}", false, "(exit status 127)"},
        {"exec sleep 30", big, false, "(still running after 1000 ms; killed)"},
    };
    const std::size_t descriptors = openDescriptors();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Reports reports;
        Outbox outbox(reports.targets(c.command, ""));
        outbox.add({"7-1", c.json});
        outbox.send();
        EXPECT_EQ(outbox.empty(), c.delivered);
        ASSERT_EQ(reports.lines.size(), c.delivered ? 0U : 1U);
        if (!c.delivered) {
            EXPECT_EQ(reports.lines[0], "vlmstruct watch: exec: alert 7-1 not delivered " + c.why + "; trying again in 1 ms");
        }
    }

    // The command sees its standard descriptors only (3 is ls's listing),
    // not one the tool holds open without close-on-exec.
    const Scratch scratch({});
    const int held = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(held, 3);
    Outbox outbox(Reports{}.targets("exec ls /proc/self/fd > '" + scratch.path("fds") + "'", ""));
    outbox.add({"7-2", "{}"});
    EXPECT_TRUE(outbox.drain(kPatience));
    EXPECT_EQ(scratch.lines("fds"), (std::vector<std::string>{"0", "1", "2", "3"}));
    ::close(held);

    expectNoChildLeft();
    EXPECT_EQ(openDescriptors(), descriptors);
}

TEST(Outbox, RefusesBadWebhooksRetriesAndIds) {
    const struct {
        const char* webhook;
        bool accepted;
    } webhooks[] = {
        {"http://127.0.0.1:9/hook", true}, {"https://hooks.example.com/services/T0/B0/secret", true},
        {"HTTP://example.com", true},      {"ftp://example.com/x", false},
        {"file:///etc/passwd", false},     {"example.com/hook", false},
        {"http://", false},                {"http://:80/x", false},
    };
    for (const auto& w : webhooks) {
        SCOPED_TRACE(w.webhook);
        const auto make = [&] { Outbox outbox(Reports{}.targets("", w.webhook)); };
        if (w.accepted) {
            EXPECT_NO_THROW(make());
        } else {
            EXPECT_THROW(make(), std::invalid_argument);
        }
    }
    const Retry retries[] = {{milliseconds{0}, milliseconds{4}, milliseconds{300}},
                             {milliseconds{8}, milliseconds{4}, milliseconds{300}},
                             {milliseconds{1}, milliseconds{4}, milliseconds{0}}};
    for (const Retry& retry : retries) {
        EXPECT_THROW(Outbox({"true", "", retry, {}}), std::invalid_argument);
    }
    Outbox outbox(Reports{}.targets("true", ""));
    for (const char* id : {"", "7 1", "7-1\r\nX-Injected: 1", "7-1\n"}) {
        EXPECT_THROW(outbox.add({id, "{}"}), std::invalid_argument) << id;
        EXPECT_THROW(outbox.restore({{{id, "{}"}}}), std::invalid_argument) << id;
    }
    EXPECT_TRUE(outbox.empty());
}

// What could not be delivered, kept through pending() and put back by
// restore() in a new outbox, goes out first and in order, to each target.
TEST(Outbox, PendingAlertsComeBackFirstInOrder) {
    const auto sent = alerts(4);
    std::vector<std::vector<Alert>> kept;
    {
        // A port nobody listens on: connections are refused.
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
        ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
        ::close(probe);
        const std::string closed = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

        Reports reports;
        // A pause longer than the test: one attempt per target, then none
        // while it lasts, whether sending or draining.
        Targets targets = reports.targets("exit 1", closed + "/hook");
        targets.retry.first = targets.retry.most = std::chrono::hours{1};
        Outbox outbox(std::move(targets));
        for (std::size_t i = 0; i + 1 < sent.size(); ++i) outbox.add(sent[i]);
        outbox.send();
        outbox.send();
        EXPECT_FALSE(outbox.drain(milliseconds{20}));
        kept = outbox.pending();
        ASSERT_EQ(reports.lines.size(), 2U);
        EXPECT_EQ(reports.lines[0].rfind("vlmstruct watch: exec: alert 0-0 not delivered (exit status 1)", 0), 0U);
        EXPECT_EQ(reports.lines[1].rfind("vlmstruct watch: webhook " + closed + ": alert 0-0 not delivered (", 0), 0U)
            << reports.lines[1];
    }
    const std::vector<Alert> firstThree(sent.begin(), sent.end() - 1);
    ASSERT_EQ(kept, (std::vector<std::vector<Alert>>{firstThree, firstThree}));

    const Scratch scratch({});
    vlm::testing::LoopbackHttp server({});
    Reports reports;
    Outbox outbox(reports.targets(scratch.command(), server.url()));
    EXPECT_THROW(outbox.restore({firstThree}), std::invalid_argument);
    outbox.add(sent.back());
    outbox.restore(kept);
    EXPECT_EQ(outbox.pending(), (std::vector<std::vector<Alert>>{sent, sent}));
    ASSERT_TRUE(outbox.drain(kPatience));
    EXPECT_TRUE(reports.lines.empty());

    std::vector<std::string> bodies;
    for (const Alert& alert : sent) bodies.push_back(alert.json);
    EXPECT_EQ(scratch.lines("seen"), bodies);
    std::vector<std::string> posted;
    for (const auto& r : server.received()) posted.push_back(r.body);
    EXPECT_EQ(posted, bodies);
}

}  // namespace
}  // namespace vlmstruct::watch
