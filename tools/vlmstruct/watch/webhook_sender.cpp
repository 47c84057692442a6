#include "watch/webhook_sender.h"

#include "watch/outbox.h"

#include <curl/curl.h>

#include <algorithm>
#include <new>
#include <stdexcept>

namespace vlmstruct::watch {
namespace {

// libcurl's global set-up (its TLS library among others) must run once
// before any handle and must not race another thread. A function-local
// static gives both: the language runs its constructor exactly once, the
// first time through, with other threads waiting (and again next time if it
// threw); its destructor undoes the set-up at exit, after every handle made
// since, which is destroyed first, being constructed after it.
class CurlLibrary {
public:
    CurlLibrary() {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("libcurl could not be set up");
        }
    }
    ~CurlLibrary() { curl_global_cleanup(); }
    CurlLibrary(const CurlLibrary&) = delete;
    CurlLibrary& operator=(const CurlLibrary&) = delete;
};

void needCurl() { static const CurlLibrary library; }

struct CurlUrlFree {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlStringFree {
    void operator()(char* text) const { curl_free(text); }
};
struct HeaderListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlString = std::unique_ptr<char, CurlStringFree>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListFree>;

CurlString urlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return nullptr;
    return CurlString(text);
}

// Parsed by libcurl, as it will be fetched; returns "scheme://host[:port]".
std::string checkedName(const std::string& url) {
    const std::unique_ptr<CURLU, CurlUrlFree> parsed(curl_url());
    if (!parsed) throw std::bad_alloc();
    const auto refuse = [&] { return std::invalid_argument("--webhook: not an http:// or https:// URL: " + url); };
    if (curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) throw refuse();
    const CurlString scheme = urlPart(parsed.get(), CURLUPART_SCHEME);
    const CurlString host = urlPart(parsed.get(), CURLUPART_HOST);
    if (!scheme || !host || *host == '\0') throw refuse();
    const std::string name = scheme.get();
    if (name != "http" && name != "https") throw refuse();
    const CurlString port = urlPart(parsed.get(), CURLUPART_PORT);  // only when the URL gives one
    return name + "://" + host.get() + (port ? std::string(":") + port.get() : std::string());
}

// The start of a refusal's body often says why; kept short, on one line.
constexpr std::size_t kBodyKept = 160;

size_t keepBodyStart(char* data, size_t size, size_t count, void* sink) {
    auto& body = *static_cast<std::string*>(sink);
    const size_t bytes = size * count;
    const size_t room = kBodyKept - std::min(kBodyKept, body.size());
    for (size_t i = 0; i < std::min(room, bytes); ++i) {
        const char c = data[i];
        body += (c >= 0x20 && c < 0x7f) ? c : ' ';
    }
    return bytes;
}

template <typename Value>
void set(CURL* curl, CURLoption option, Value value) {
    const CURLcode code = curl_easy_setopt(curl, option, value);
    if (code == CURLE_OUT_OF_MEMORY) throw std::bad_alloc();
    if (code != CURLE_OK) throw std::runtime_error(std::string("libcurl: ") + curl_easy_strerror(code));
}

}  // namespace

struct WebhookSender::Handle {
    struct EasyFree {
        void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    };
    std::unique_ptr<CURL, EasyFree> curl;
    char error[CURL_ERROR_SIZE]{};
    std::string body;
};

WebhookSender::WebhookSender(const std::string& url) {
    needCurl();
    name_ = checkedName(url);
    handle_ = std::make_unique<Handle>();
    handle_->curl.reset(curl_easy_init());
    if (!handle_->curl) throw std::runtime_error("libcurl: no handle");
    CURL* curl = handle_->curl.get();
    set(curl, CURLOPT_URL, url.c_str());
    set(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    set(curl, CURLOPT_POST, 1L);
    // Signals are the tool's: no process-wide SIGPIPE handler swapped
    // in and out by libcurl (HeldSigpipe covers the call instead), and
    // the name lookup runs on libcurl's own thread rather than by alarm.
    set(curl, CURLOPT_NOSIGNAL, 1L);
    set(curl, CURLOPT_USERAGENT, "vlmstruct-watch");
    set(curl, CURLOPT_ERRORBUFFER, handle_->error);
    set(curl, CURLOPT_WRITEFUNCTION, keepBodyStart);
    set(curl, CURLOPT_WRITEDATA, &handle_->body);
}

WebhookSender::~WebhookSender() = default;

Attempt WebhookSender::post(const Alert& alert, std::chrono::milliseconds timeout) {
    CURL* curl = handle_->curl.get();
    HeaderList headers;
    // "Expect:" removed: a receiver is not kept waiting for a 100 Continue
    // before a large alert's body.
    for (const std::string& line : {std::string("Content-Type: application/json"),
                                    "Idempotency-Key: " + alert.id, std::string("Expect:")}) {
        curl_slist* longer = curl_slist_append(headers.get(), line.c_str());
        if (!longer) throw std::bad_alloc();
        static_cast<void>(headers.release());
        headers.reset(longer);
    }
    set(curl, CURLOPT_HTTPHEADER, headers.get());
    set(curl, CURLOPT_POSTFIELDS, alert.json.data());
    set(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(alert.json.size()));
    set(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    set(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count()));
    handle_->error[0] = '\0';
    handle_->body.clear();
    CURLcode code = CURLE_OK;
    {
        const HeldSigpipe held;
        code = curl_easy_perform(curl);
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    // Nothing left pointing at the alert or the list about to be freed.
    set(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    set(curl, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
    if (code != CURLE_OK) {
        return {false, handle_->error[0] != '\0' ? handle_->error : curl_easy_strerror(code)};
    }
    if (status < 200 || status > 299) {
        std::string why = "HTTP " + std::to_string(status);
        if (!handle_->body.empty()) why += ": " + handle_->body;
        return {false, why};
    }
    return {true, {}};
}

}  // namespace vlmstruct::watch
