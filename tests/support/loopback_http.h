#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the webhook's tests: it answers
// the n-th request it reads as its plan says and keeps every request, in the
// order read. Connections are kept alive, several at a time, on one thread.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vlm::testing {

enum class Answer {
    Ok,      // 200
    Error,   // 500
    Drop,    // the connection closed, no answer
    Silent,  // no answer at all, until the client gives up and closes
};

struct Received {
    std::string id;           // the Idempotency-Key header
    std::string contentType;
    std::string body;
    Answer answer = Answer::Ok;
    int connection = 0;  // accepted connections counted from 0
};

class LoopbackHttp {
public:
    explicit LoopbackHttp(std::vector<Answer> plan) : plan_(std::move(plan)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            ::pipe2(stop_, O_CLOEXEC) != 0) {
            throw std::runtime_error("loopback server: cannot listen");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackHttp() {
        const char byte = 0;
        static_cast<void>(::write(stop_[1], &byte, 1));
        thread_.join();
        for (const Connection& c : connections_) ::close(c.fd);
        ::close(listener_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    LoopbackHttp(const LoopbackHttp&) = delete;
    LoopbackHttp& operator=(const LoopbackHttp&) = delete;

    [[nodiscard]] std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hook"; }
    [[nodiscard]] std::vector<Received> received() const {
        const std::lock_guard lock(mutex_);
        return received_;
    }

private:
    struct Connection {
        int fd;
        int number;
        std::string input;
        bool silent = false;
    };

    void serve() {
        for (;;) {
            std::vector<pollfd> watched{{stop_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            for (const Connection& c : connections_) watched.push_back({c.fd, POLLIN, 0});
            if (::poll(watched.data(), watched.size(), -1) < 0) continue;
            if (watched[0].revents != 0) return;
            if (watched[1].revents != 0) {
                const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) connections_.push_back({fd, accepted_++, {}, false});
            }
            for (std::size_t i = 2; i < watched.size(); ++i) {
                if (watched[i].revents == 0) continue;
                auto at = std::find_if(connections_.begin(), connections_.end(),
                                       [&](const Connection& c) { return c.fd == watched[i].fd; });
                if (!readFrom(*at)) {
                    ::close(at->fd);
                    connections_.erase(at);
                }
            }
        }
    }

    // Returns whether the connection stays open.
    bool readFrom(Connection& c) {
        char chunk[4096];
        const ssize_t n = ::read(c.fd, chunk, sizeof chunk);
        if (n <= 0) return false;
        if (c.silent) return true;
        c.input.append(chunk, static_cast<std::size_t>(n));
        for (;;) {
            const std::size_t headEnd = c.input.find("\r\n\r\n");
            if (headEnd == std::string::npos) return true;
            const std::string head = lower(c.input.substr(0, headEnd));
            const std::size_t length = std::strtoul(header(head, c.input, "content-length").c_str(), nullptr, 10);
            if (c.input.size() < headEnd + 4 + length) return true;
            Received r{header(head, c.input, "idempotency-key"), header(head, c.input, "content-type"),
                       c.input.substr(headEnd + 4, length), Answer::Ok, c.number};
            c.input.erase(0, headEnd + 4 + length);
            {
                const std::lock_guard lock(mutex_);
                if (received_.size() < plan_.size()) r.answer = plan_[received_.size()];
                received_.push_back(r);
            }
            switch (r.answer) {
            case Answer::Ok: reply(c.fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"); break;
            case Answer::Error:
                reply(c.fd, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 6\r\n\r\nbroken");
                break;
            case Answer::Drop: return false;
            case Answer::Silent: c.silent = true; return true;
            }
        }
    }

    static void reply(int fd, const std::string& text) {
        static_cast<void>(::send(fd, text.data(), text.size(), MSG_NOSIGNAL));
    }
    static std::string lower(std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }
    // A header's value as sent; `head` is the request's head in lower case.
    static std::string header(const std::string& head, const std::string& input, const std::string& name) {
        const std::size_t at = head.find("\r\n" + name + ":");
        if (at == std::string::npos) return {};
        std::size_t from = at + 3 + name.size();
        const std::size_t end = std::min(head.find("\r\n", from), head.size());
        while (from < end && input[from] == ' ') ++from;
        return input.substr(from, end - from);
    }

    std::vector<Answer> plan_;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    int accepted_ = 0;
    std::vector<Connection> connections_;
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    std::thread thread_;
};

}  // namespace vlm::testing
