#pragma once
// Posts alerts to a webhook through libcurl, one handle kept for the
// life of the sender so that its connection is reused between alerts.

#include "watch/attempt.h"

#include <chrono>
#include <memory>
#include <string>

namespace vlmstruct::watch {

struct Alert;

class WebhookSender {
public:
    // Throws std::invalid_argument for a URL that is not http(s)://host...
    explicit WebhookSender(const std::string& url);
    ~WebhookSender();
    WebhookSender(const WebhookSender&) = delete;
    WebhookSender& operator=(const WebhookSender&) = delete;

    // POSTs the alert's JSON with its id as the Idempotency-Key header;
    // delivered on a 2xx answer within `timeout`.
    Attempt post(const Alert& alert, std::chrono::milliseconds timeout);
    // The scheme, host and port, to name the target in reports without the path
    // (where webhooks keep their secret).
    [[nodiscard]] const std::string& name() const { return name_; }

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::string name_;
};

}  // namespace vlmstruct::watch
