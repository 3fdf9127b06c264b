// One HTTP exchange with the content server over libcurl: the package's URL,
// the curl handle set up the way every request of the client is (HTTP and
// HTTPS only, no redirects, credentials as basic authentication, time
// limits), the answer's head read through HttpAnswer, and the mapping of
// HTTP statuses and curl failures onto the client's CDS_* codes. A Transfer
// belongs to the thread that runs it.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cds/client/http_answer.hpp"

namespace cdsclient {

// Starts libcurl and its TLS library once per process (any thread may call
// it; the first call does the work). The TLS library registers its own
// clean-up to run at exit when it starts: whatever must still run before
// that clean-up (joining the download threads, which free their TLS state
// as they end) must be set up for exit after this call.
void initialise_http_once();

// The server `manager` names ("host:port" or an http:// or https:// URL;
// NULL or empty: CDSCLIENT_MANAGER) as a URL without a trailing '/'; nullopt
// when no usable server is named.
std::optional<std::string> server_url(const char *manager);
// The URL of `id` on `server` (as server_url gives it): <server>/packages/<id>,
// the id percent-encoded.
std::string package_url(const std::string &server, std::string_view id);
// Both steps at once.
std::optional<std::string> package_url(const char *manager, std::string_view id);

// A whole number of seconds from the environment variable `name` (1 to
// 86400), else `fallback`.
long seconds_from_environment(const char *name, long fallback);
// A whole number of bytes from the environment variable `name` (0 to
// `largest`), else `fallback`.
uint64_t bytes_from_environment(const char *name, uint64_t fallback, uint64_t largest);

// Writes one piece of libcurl's trace to standard error as CDSCLIENT_TRACE=1
// shows it: "* " before libcurl's notes, "> " before each header line sent,
// "< " before each header line received; bodies are left out, and the value
// of an Authorization or Proxy-Authorization header is written as "<??}",
// as the endpoint library masks passwords. Returns the text written.
std::string trace_text(curl_infotype type, std::string_view data);

// The CDS_* code for a final HTTP status (CDS_OK for 2xx).
int32_t code_for_status(int status);
// The CDS_* code for a failed curl transfer.
int32_t code_for_curl(CURLcode result);

class Transfer {
  public:
    // Called once the answer's head is complete; returning false abandons
    // the transfer.
    using HeadFn = std::function<bool(const HttpAnswer &)>;
    // Called with each piece of the body; returning false abandons it.
    using BodyFn = std::function<bool(const char *data, size_t size)>;
    // Polled while the transfer runs; returning true abandons it.
    using StopFn = std::function<bool()>;

    // A request for `url` with credentials when `user_name` is not NULL.
    Transfer(const std::string &url, const char *user_name, const char *password);
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;

    // False when libcurl could not give a handle.
    bool ready() const { return curl_ != nullptr; }
    CURL *curl() { return curl_.get(); }

    void on_head(HeadFn fn) { head_ = std::move(fn); }
    void on_body(BodyFn fn) { body_ = std::move(fn); }
    void on_stop(StopFn fn) { stop_ = std::move(fn); }
    // Sends the header line `line` ("Name: value") with the request.
    void add_header(const std::string &line);

    // Runs the request. The answer's head as far as it came is in answer().
    CURLcode perform();
    const HttpAnswer &answer() const { return answer_; }
    // Whether on_head was called (the head arrived whole and well formed).
    bool head_seen() const { return head_seen_; }

  private:
    static size_t header_line(char *data, size_t size, size_t count, void *self);
    static size_t body_piece(char *data, size_t size, size_t count, void *self);
    static int progress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int trace(CURL *, curl_infotype type, char *data, size_t size, void *);

    struct CurlCleanup {
        void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
    };
    struct ListCleanup {
        void operator()(curl_slist *list) const { curl_slist_free_all(list); }
    };

    std::unique_ptr<CURL, CurlCleanup> curl_;
    std::unique_ptr<curl_slist, ListCleanup> headers_;
    std::string user_name_;
    std::string password_;
    HttpAnswer answer_;
    bool head_seen_ = false;
    HeadFn head_;
    BodyFn body_;
    StopFn stop_;
};

}  // namespace cdsclient
