#include "watch/command_runner.h"

#include "watch/outbox.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <system_error>
#include <utility>

extern char** environ;

namespace vlmstruct::watch {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    [[nodiscard]] int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

std::string errorText(int error) { return std::system_category().message(error); }

// Moved to 3 or above, should the tool run with a standard descriptor
// closed: the command's 0, 1 and 2 are set up from them.
Fd aboveStandard(Fd fd) {
    if (fd.get() > 2) return fd;
    const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) throw std::system_error(errno, std::system_category(), "exec: fcntl");
    return Fd(moved);
}

struct SpawnSetup {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};

    explicit SpawnSetup(int input) {
        check(posix_spawn_file_actions_init(&actions));
        if (const int error = posix_spawnattr_init(&attributes); error != 0) {
            posix_spawn_file_actions_destroy(&actions);
            throw std::system_error(error, std::system_category(), "exec: posix_spawn");
        }
        try {
            check(posix_spawn_file_actions_adddup2(&actions, input, 0));
            check(posix_spawn_file_actions_adddup2(&actions, 2, 1));
            // Nothing of the tool's (its sockets, its state file) leaks
            // into the command.
            check(posix_spawn_file_actions_addclosefrom_np(&actions, 3));
            // Its own process group, so that a timeout kills what it started
            // too; signals as a fresh program has them.
            sigset_t none;
            sigset_t all;
            sigemptyset(&none);
            sigfillset(&all);
            check(posix_spawnattr_setpgroup(&attributes, 0));
            check(posix_spawnattr_setsigmask(&attributes, &none));
            check(posix_spawnattr_setsigdefault(&attributes, &all));
            check(posix_spawnattr_setflags(&attributes,
                                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
        } catch (...) {
            posix_spawn_file_actions_destroy(&actions);
            posix_spawnattr_destroy(&attributes);
            throw;
        }
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    static void check(int error) {
        if (error != 0) throw std::system_error(error, std::system_category(), "exec: posix_spawn");
    }
};

std::string exitText(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const char* name = ::sigdescr_np(WTERMSIG(status));
        return "killed by signal " + (name ? std::string(name) : std::to_string(WTERMSIG(status)));
    }
    return "ended with status " + std::to_string(status);
}

// Reaps the child; returns its status, or -1 when it cannot be had.
int reap(pid_t pid, int flags) {
    int status = 0;
    for (;;) {
        const pid_t got = ::waitpid(pid, &status, flags);
        if (got == pid) return status;
        if (got == 0) return -1;
        if (errno != EINTR) return -2;
    }
}

}  // namespace

Attempt CommandRunner::run(const Alert& alert, milliseconds timeout) const {
    // Out of descriptors or processes now is a failed attempt like any
    // other: the alert waits for the next.
    try {
        return runOnce(alert, timeout);
    } catch (const std::system_error& e) {
        return {false, e.what()};
    }
}

Attempt CommandRunner::runOnce(const Alert& alert, milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {false, "pipe: " + errorText(errno)};
    Fd input(ends[0]);
    Fd output(ends[1]);
    input = aboveStandard(std::move(input));
    output = aboveStandard(std::move(output));

    pid_t pid = -1;
    {
        const SpawnSetup setup(input.get());
        const char* argv[] = {"sh", "-c", command_.c_str(), nullptr};
        // posix_spawn takes argv as char* const[]; it does not write to it.
        const int error = ::posix_spawn(&pid, "/bin/sh", &setup.actions, &setup.attributes,
                                        const_cast<char* const*>(argv), environ);
        if (error != 0) return {false, "could not start /bin/sh: " + errorText(error)};
    }
    input.reset();
    // Without a pidfd (an old kernel), the child is looked at between
    // short, growing naps instead.
    // (The system call itself: glibc 2.36's wrapper is declared without C
    // linkage.)
    Fd exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    ::fcntl(output.get(), F_SETFL, ::fcntl(output.get(), F_GETFL) | O_NONBLOCK);

    const HeldSigpipe held;
    std::size_t written = 0;
    milliseconds nap{1};
    int status = -1;
    std::string why = "still running after " + std::to_string(timeout.count()) + " ms; killed";
    while (status < 0) {
        const auto now = Clock::now();
        if (now >= deadline) break;
        pollfd watched[2];
        nfds_t count = 0;
        if (output) watched[count++] = {output.get(), POLLOUT, 0};
        if (exited) watched[count++] = {exited.get(), POLLIN, 0};
        auto wait = std::min(std::chrono::ceil<milliseconds>(deadline - now), milliseconds{INT_MAX});
        if (!exited) {
            wait = std::min(wait, nap);
            nap = std::min(nap * 2, milliseconds{50});
        }
        if (::poll(watched, count, static_cast<int>(wait.count())) < 0 && errno != EINTR) {
            why = "poll: " + errorText(errno);
            break;
        }
        if (output) {
            const ssize_t n = ::write(output.get(), alert.json.data() + written, alert.json.size() - written);
            if (n >= 0) {
                written += static_cast<std::size_t>(n);
            } else if (errno != EAGAIN && errno != EINTR) {
                // EPIPE: the command does not read its input; its exit
                // status still decides.
                output.reset();
            }
            if (written == alert.json.size()) output.reset();
        }
        status = reap(pid, WNOHANG);
        if (status == -2) return {false, "waitpid: " + errorText(errno)};
    }
    if (status == -1) status = reap(pid, WNOHANG);  // it may have ended just now
    if (status == -1) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        reap(pid, 0);
        return {false, why};
    }
    if (status == -2) return {false, "waitpid: " + errorText(errno)};
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {true, {}};
    return {false, exitText(status)};
}

}  // namespace vlmstruct::watch
