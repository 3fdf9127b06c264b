// HTTP exchanges over libcurl.
#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "cds/client/transfer.hpp"

namespace cdsclient {

namespace {

// Bytes libcurl hands over per write: large pieces keep the per-call cost
// small next to the copy.
constexpr long kReceiveBuffer = 512 * 1024;

TransportResult result_of(CURLcode result) {
    switch (result) {
        case CURLE_OK:
            return TransportResult::kOk;
        case CURLE_OUT_OF_MEMORY:
            return TransportResult::kNoMemory;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return TransportResult::kUnreachable;
        case CURLE_OPERATION_TIMEDOUT:
            return TransportResult::kTimedOut;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return TransportResult::kIncomplete;
        case CURLE_LOGIN_DENIED:
            return TransportResult::kDenied;
        case CURLE_URL_MALFORMAT:
            return TransportResult::kBadUrl;
        case CURLE_ABORTED_BY_CALLBACK:
            return TransportResult::kAbandoned;
        case CURLE_WRITE_ERROR:
            return TransportResult::kWriteError;
        default:
            return TransportResult::kOther;
    }
}

size_t header_line(char *data, size_t size, size_t count, void *self) {
    const size_t length = size * count;
    return static_cast<Transfer *>(self)->take_header_line(std::string_view(data, length)) ? length
                                                                                           : 0;
}

size_t body_piece(char *data, size_t size, size_t count, void *self) {
    const size_t length = size * count;
    return static_cast<Transfer *>(self)->take_body(data, length) ? length : 0;
}

int progress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer *>(self)->stop_asked() ? 1 : 0;
}

int trace(CURL *, curl_infotype type, char *data, size_t size, void *) {
    const TraceKind kind = type == CURLINFO_TEXT         ? TraceKind::kNote
                           : type == CURLINFO_HEADER_OUT ? TraceKind::kHeaderOut
                           : type == CURLINFO_HEADER_IN  ? TraceKind::kHeaderIn
                                                         : TraceKind::kOther;
    write_trace(kind, std::string_view(data, size));
    return 0;
}

size_t upload_piece(char *buffer, size_t size, size_t count, void *read);

}  // namespace

struct Transfer::Host {
    struct CurlCleanup {
        void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
    };
    struct ListCleanup {
        void operator()(curl_slist *list) const { curl_slist_free_all(list); }
    };

    std::unique_ptr<CURL, CurlCleanup> curl;
    std::unique_ptr<curl_slist, ListCleanup> headers;
    std::string user_name;
    std::string password;
    ReadFn read;
};

namespace {

size_t upload_piece(char *buffer, size_t size, size_t count, void *host) {
    const int64_t got = static_cast<Transfer::Host *>(host)->read(buffer, size * count);
    return got < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(got);
}

}  // namespace

void initialise_http_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Transfer::Transfer(const std::string &url, const char *user_name, const char *password)
    : host_(std::make_unique<Host>()) {
    initialise_http_once();
    host_->curl.reset(curl_easy_init());
    if (!host_->curl)
        return;
    CURL *curl = host_->curl.get();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                     seconds_from_environment("CDSCLIENT_CONNECT_TIMEOUT", kConnectSeconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                     seconds_from_environment("CDSCLIENT_STALL_TIMEOUT", kStallSeconds));
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    // Uploads go at once instead of waiting for a "100 Continue".
    host_->headers.reset(curl_slist_append(nullptr, "Expect:"));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, host_->headers.get());
    if (user_name != nullptr) {
        host_->user_name = user_name;
        host_->password = password != nullptr ? password : "";
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(curl, CURLOPT_USERNAME, host_->user_name.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, host_->password.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &header_line);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &body_piece);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    // CDSCLIENT_TRACE=1 shows each exchange on standard error, without the
    // credentials.
    if (trace_wanted()) {
        curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &trace);
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    }
}

Transfer::~Transfer() = default;

bool Transfer::ready() const {
    return host_->curl != nullptr;
}

void Transfer::add_header(const std::string &line) {
    curl_slist *list = curl_slist_append(host_->headers.get(), line.c_str());
    if (list == nullptr)
        return;
    host_->headers.release();
    host_->headers.reset(list);
    curl_easy_setopt(host_->curl.get(), CURLOPT_HTTPHEADER, host_->headers.get());
}

void Transfer::head_only() {
    curl_easy_setopt(host_->curl.get(), CURLOPT_NOBODY, 1L);
}

void Transfer::limit_time(long seconds) {
    curl_easy_setopt(host_->curl.get(), CURLOPT_TIMEOUT, seconds);
}

void Transfer::upload(uint64_t size, ReadFn read) {
    host_->read = std::move(read);
    CURL *curl = host_->curl.get();
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &upload_piece);
    curl_easy_setopt(curl, CURLOPT_READDATA, host_.get());
}

TransportResult Transfer::perform() {
    if (!host_->curl)
        return TransportResult::kNoMemory;
    return result_of(curl_easy_perform(host_->curl.get()));
}

}  // namespace cdsclient
