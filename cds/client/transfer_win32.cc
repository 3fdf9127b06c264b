// HTTP exchanges over WinHTTP, in its synchronous mode: one session,
// connection and request per Transfer, closed when it ends (the request
// sooner when the transfer is told to stop).
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cds/client/transfer.hpp"

namespace cdsclient {

namespace {

// Bytes asked for per read: large pieces keep the per-call cost small next
// to the copy.
constexpr DWORD kReceiveBuffer = 512 * 1024;
// Bytes sent per write of an upload.
constexpr size_t kSendBuffer = 64 * 1024;

struct HandleCloser {
    void operator()(void *handle) const { WinHttpCloseHandle(handle); }
};
// The one owner type of a WinHTTP handle.
using InternetHandle = std::unique_ptr<void, HandleCloser>;

// UTF-8 text as UTF-16, for WinHTTP's wide interface.
std::wstring wide(std::string_view text) {
    if (text.empty())
        return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        size);
    return result;
}

// Header text as WinHTTP widened it (one unit per byte received) back to
// the bytes, so that validators compare as they came.
std::string narrow_header(const std::wstring &text) {
    std::string result;
    result.reserve(text.size());
    for (const wchar_t c : text)
        result += c < 0x100 ? static_cast<char>(c) : '?';
    return result;
}

TransportResult result_of_error(DWORD error, bool head_arrived) {
    switch (error) {
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return TransportResult::kNoMemory;
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return TransportResult::kUnreachable;
        case ERROR_WINHTTP_TIMEOUT:
            return TransportResult::kTimedOut;
        case ERROR_WINHTTP_CONNECTION_ERROR:
            // Before the head: nothing came (the server closed at once);
            // after it: the body was cut short. Either way the answer is
            // incomplete.
            return TransportResult::kIncomplete;
        case ERROR_WINHTTP_INVALID_URL:
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
            return TransportResult::kBadUrl;
        case ERROR_WINHTTP_OPERATION_CANCELLED:
            return TransportResult::kAbandoned;
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
            return head_arrived ? TransportResult::kIncomplete : TransportResult::kOther;
        default:
            return TransportResult::kOther;
    }
}

// Owns a request handle while the transfer runs and, on a thread of its
// own, looks every 100 ms whether the transfer is to stop: then it closes
// the handle, which makes a WinHTTP call blocked on it (a server that sends
// nothing) return at once instead of after the stall time. Once it has
// done so the handle is not used again: the transfer's own loop sees the
// same stop before its next call.
class StopWatcher {
  public:
    StopWatcher(const Transfer &transfer, HINTERNET request) : request_(request) {
        thread_ = std::thread([this, &transfer] {
            std::unique_lock lock(mutex_);
            while (!finished_) {
                if (done_.wait_for(lock, std::chrono::milliseconds(100),
                                   [this] { return finished_; }))
                    break;
                if (transfer.stop_asked()) {
                    WinHttpCloseHandle(request_);
                    closed_ = true;
                    break;
                }
            }
        });
    }
    StopWatcher(const StopWatcher &) = delete;
    StopWatcher &operator=(const StopWatcher &) = delete;
    ~StopWatcher() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
            done_.notify_all();
        }
        thread_.join();
        if (!closed_)
            WinHttpCloseHandle(request_);
    }

    HINTERNET get() const { return request_; }
    // Whether the handle was closed because the transfer is to stop.
    bool fired() {
        std::lock_guard lock(mutex_);
        return closed_;
    }

  private:
    HINTERNET request_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool closed_ = false;
    std::thread thread_;
};

// The raw head of the request or of the answer, CR LF between lines.
std::string raw_headers(HINTERNET request, DWORD which) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF | which,
                        WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF | which,
                             WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    text.resize(size / sizeof(wchar_t));
    return narrow_header(text);
}

}  // namespace

struct Transfer::Host {
    std::wstring url;
    std::wstring user_name;
    std::wstring password;
    bool credentials = false;
    std::wstring headers;
    const wchar_t *verb = L"GET";
    bool head_only = false;
    long total_seconds = 0;  // 0: no limit on the whole exchange
    bool upload = false;
    uint64_t upload_size = 0;
    ReadFn read;
    InternetHandle session;
};

void initialise_http_once() {
    // WinHTTP needs no process-wide start.
}

Transfer::Transfer(const std::string &url, const char *user_name, const char *password)
    : host_(std::make_unique<Host>()) {
    host_->url = wide(url);
    if (user_name != nullptr) {
        host_->credentials = true;
        host_->user_name = wide(user_name);
        host_->password = wide(password != nullptr ? password : "");
    }
    host_->session.reset(WinHttpOpen(L"korvo-cds/1", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

Transfer::~Transfer() = default;

bool Transfer::ready() const {
    return host_->session != nullptr;
}

void Transfer::add_header(const std::string &line) {
    host_->headers += wide(line);
    host_->headers += L"\r\n";
}

void Transfer::head_only() {
    host_->verb = L"HEAD";
    host_->head_only = true;
}

void Transfer::limit_time(long seconds) {
    host_->total_seconds = seconds;
}

void Transfer::upload(uint64_t size, ReadFn read) {
    host_->verb = L"PUT";
    host_->upload = true;
    host_->upload_size = size;
    host_->read = std::move(read);
}

TransportResult Transfer::perform() {
    Host &host = *host_;
    if (!host.session)
        return TransportResult::kNoMemory;

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (host.url.empty() ||
        !WinHttpCrackUrl(host.url.c_str(), static_cast<DWORD>(host.url.size()), 0, &parts))
        return TransportResult::kBadUrl;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return TransportResult::kBadUrl;
    const std::wstring server(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty())
        path = L"/";

    // The time to connect, and the stall time: no single byte for that long
    // ends the transfer. A limit on the whole exchange shortens both.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = host.total_seconds > 0
                                           ? Clock::now() + std::chrono::seconds(host.total_seconds)
                                           : Clock::time_point::max();
    auto within_limit = [&](long seconds) {
        long ms = seconds * 1000;
        if (host.total_seconds > 0)
            ms = std::min(ms, host.total_seconds * 1000);
        return static_cast<int>(ms);
    };
    const int connect_ms =
        within_limit(seconds_from_environment("CDSCLIENT_CONNECT_TIMEOUT", kConnectSeconds));
    const int stall_ms =
        within_limit(seconds_from_environment("CDSCLIENT_STALL_TIMEOUT", kStallSeconds));
    WinHttpSetTimeouts(host.session.get(), connect_ms, connect_ms, stall_ms, stall_ms);

    const bool trace = trace_wanted();
    if (trace)
        write_trace(TraceKind::kNote, "Connecting to " + narrow_header(server) + " port " +
                                          std::to_string(parts.nPort) + "\n");
    const InternetHandle connection(
        WinHttpConnect(host.session.get(), server.c_str(), parts.nPort, 0));
    if (!connection)
        return result_of_error(GetLastError(), false);
    const DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY |
                        (parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    const HINTERNET opened =
        WinHttpOpenRequest(connection.get(), host.verb, path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (opened == nullptr)
        return result_of_error(GetLastError(), false);
    StopWatcher request(*this, opened);
    // A failed call after the watcher closed the handle is the stop's doing.
    auto failure = [&](bool head_arrived) {
        const DWORD error = GetLastError();
        return request.fired() ? TransportResult::kAbandoned : result_of_error(error, head_arrived);
    };
    // No redirects, no cookies, no kept connection: each request is the
    // package's alone. A connection left open after an answer that sent
    // more than its length would hand those bytes to the next request as
    // its answer (WinHTTP may pool connections beyond the session).
    DWORD disabled =
        WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_KEEP_ALIVE;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    if (host.credentials &&
        !WinHttpSetCredentials(request.get(), WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                               host.user_name.c_str(), host.password.c_str(), nullptr))
        return failure(false);

    // A size that does not fit the call's 32 bits goes as a header of its own.
    std::wstring headers = host.headers;
    DWORD total = 0;
    if (host.upload) {
        if (host.upload_size > MAXDWORD) {
            headers += L"Content-Length: " + std::to_wstring(host.upload_size) + L"\r\n";
            total = WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH;
        } else {
            total = static_cast<DWORD>(host.upload_size);
        }
    }
    if (!WinHttpSendRequest(request.get(),
                            headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            headers.empty() ? 0 : static_cast<DWORD>(headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, total, 0))
        return failure(false);
    if (trace)
        write_trace(TraceKind::kHeaderOut,
                    raw_headers(request.get(), WINHTTP_QUERY_FLAG_REQUEST_HEADERS));

    if (host.upload) {
        std::vector<char> piece(kSendBuffer);
        uint64_t sent = 0;
        while (sent < host.upload_size) {
            if (stop_asked())
                return TransportResult::kAbandoned;
            const int64_t got = host.read(
                piece.data(),
                static_cast<size_t>(std::min<uint64_t>(piece.size(), host.upload_size - sent)));
            if (got <= 0)
                return TransportResult::kAbandoned;
            DWORD written = 0;
            if (!WinHttpWriteData(request.get(), piece.data(), static_cast<DWORD>(got), &written))
                return failure(false);
            sent += static_cast<uint64_t>(got);
        }
    }

    if (!WinHttpReceiveResponse(request.get(), nullptr))
        return failure(false);
    const std::string head = raw_headers(request.get(), 0);
    if (trace)
        write_trace(TraceKind::kHeaderIn, head);
    // The head line by line, as the transport-independent side reads it.
    std::string_view rest = head;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line =
            end == std::string_view::npos ? rest : rest.substr(0, end + 1);
        rest.remove_prefix(line.size());
        if (!take_header_line(line))
            return TransportResult::kWriteError;
    }
    if (!head_seen() && !take_header_line("\r\n"))
        return TransportResult::kWriteError;
    if (!head_seen())
        return TransportResult::kOther;
    if (host.head_only)
        return TransportResult::kOk;

    std::vector<char> buffer(kReceiveBuffer);
    for (;;) {
        if (stop_asked())
            return TransportResult::kAbandoned;
        if (Clock::now() > deadline)
            return TransportResult::kTimedOut;
        DWORD got = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), kReceiveBuffer, &got))
            return failure(true);
        if (got == 0)
            return TransportResult::kOk;
        if (!take_body(buffer.data(), got))
            return TransportResult::kWriteError;
    }
}

}  // namespace cdsclient
