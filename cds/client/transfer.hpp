// One HTTP exchange with the content server: the package's URL, the request
// set up the way every request of the client is (HTTP and HTTPS only, no
// redirects, credentials as basic authentication, time limits), the answer's
// head read through HttpAnswer, and the mapping of HTTP statuses and
// transport failures onto the client's CDS_* codes. The transport is the
// host's (transfer_posix.cc: libcurl; transfer_win32.cc: WinHTTP); this
// header and transfer.cc are the same on both. A Transfer belongs to the
// thread that runs it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cds/client/http_answer.hpp"

namespace cdsclient {

// Starts the HTTP transport once per process (any thread may call it; the
// first call does the work). On POSIX the TLS library registers its own
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

// Seconds allowed to connect, and the time a transfer may go on without a
// single byte arriving before it counts as stalled (CDSCLIENT_CONNECT_TIMEOUT
// and CDSCLIENT_STALL_TIMEOUT change them).
inline constexpr long kConnectSeconds = 30;
inline constexpr long kStallSeconds = 300;

// What a piece of the trace is.
enum class TraceKind { kNote, kHeaderOut, kHeaderIn, kOther };

// Writes one piece of the transport's trace to standard error as
// CDSCLIENT_TRACE=1 shows it: "* " before the transport's notes, "> " before
// each header line sent, "< " before each header line received; bodies are
// left out, and the value of an Authorization or Proxy-Authorization header
// is written as "<??}", as the endpoint library masks passwords. Returns the
// text written.
std::string trace_text(TraceKind kind, std::string_view data);
// Whether CDSCLIENT_TRACE=1 asks for the trace.
bool trace_wanted();
// Writes trace_text(kind, data) to standard error and flushes it.
void write_trace(TraceKind kind, std::string_view data);

// The CDS_* code for a final HTTP status (CDS_OK for 2xx).
int32_t code_for_status(int status);

// How a transfer ended, as far as the transport could tell.
enum class TransportResult {
    kOk,
    kNoMemory,
    kUnreachable,  // the name did not resolve or nobody accepted the connection
    kTimedOut,     // connecting, the whole exchange or a stall took too long
    kIncomplete,   // the connection ended before the answer did
    kDenied,       // the server refused the credentials at the transport's level
    kBadUrl,
    kAbandoned,   // a callback asked to stop
    kWriteError,  // the body callback refused a piece
    kOther,
};

// The CDS_* code for a transfer that ended with `result`.
int32_t code_for_transport(TransportResult result);

class Transfer {
  public:
    // Called once the answer's head is complete; returning false abandons
    // the transfer.
    using HeadFn = std::function<bool(const HttpAnswer &)>;
    // Called with each piece of the body; returning false abandons it.
    using BodyFn = std::function<bool(const char *data, size_t size)>;
    // Polled while the transfer runs; returning true abandons it.
    using StopFn = std::function<bool()>;
    // Fills the buffer with the next piece of an upload: the bytes put
    // there, 0 at the end, -1 on a failure (the transfer is then abandoned).
    using ReadFn = std::function<int64_t(char *buffer, size_t size)>;

    // A GET of `url` with credentials when `user_name` is not NULL.
    Transfer(const std::string &url, const char *user_name, const char *password);
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;
    ~Transfer();

    // False when the transport could not give a handle.
    bool ready() const;

    void on_head(HeadFn fn) { head_ = std::move(fn); }
    void on_body(BodyFn fn) { body_ = std::move(fn); }
    void on_stop(StopFn fn) { stop_ = std::move(fn); }
    // Sends the header line `line` ("Name: value") with the request.
    void add_header(const std::string &line);
    // Makes the request a HEAD.
    void head_only();
    // Limits the whole exchange to `seconds`.
    void limit_time(long seconds);
    // Makes the request a PUT of `size` bytes that `read` gives.
    void upload(uint64_t size, ReadFn read);

    // Runs the request. The answer's head as far as it came is in answer().
    TransportResult perform();
    const HttpAnswer &answer() const { return answer_; }
    // Whether on_head was called (the head arrived whole and well formed).
    bool head_seen() const { return head_seen_; }

    // The transport's side hands over what arrives through these. Each
    // returns false when the transfer is to be abandoned.
    bool take_header_line(std::string_view line);
    bool take_body(const char *data, size_t size);
    bool stop_asked() const { return stop_ && stop_(); }

    // The host's transport state (transfer_posix.cc, transfer_win32.cc).
    struct Host;

  private:
    std::unique_ptr<Host> host_;
    HttpAnswer answer_;
    bool head_seen_ = false;
    HeadFn head_;
    BodyFn body_;
    StopFn stop_;
};

}  // namespace cdsclient
