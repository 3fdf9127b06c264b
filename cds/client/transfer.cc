// HTTP exchanges over libcurl.
#include "cds/client/transfer.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "cds/client/cds_client.h"

namespace cdsclient {

namespace {

// Seconds allowed to connect, and the time a transfer may go on without a
// single byte arriving before it counts as stalled.
constexpr long kConnectSeconds = 30;
constexpr long kStallSeconds = 300;
// Bytes libcurl hands over per write: large pieces keep the per-call cost
// small next to the copy.
constexpr long kReceiveBuffer = 512 * 1024;

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

void initialise_http_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::optional<std::string> server_url(const char *manager) {
    if (manager == nullptr || *manager == '\0')
        manager = std::getenv("CDSCLIENT_MANAGER");
    if (manager == nullptr || *manager == '\0')
        return std::nullopt;
    std::string server(manager);
    if (server.find("://") == std::string::npos)
        server.insert(0, "http://");
    else if (!starts_with(server, "http://") && !starts_with(server, "https://"))
        return std::nullopt;
    for (const char c : server) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f)
            return std::nullopt;
    }
    while (!server.empty() && server.back() == '/')
        server.pop_back();
    return server;
}

std::optional<std::string> package_url(const char *manager, std::string_view id) {
    const std::optional<std::string> server = server_url(manager);
    if (!server)
        return std::nullopt;
    return package_url(*server, id);
}

std::string package_url(const std::string &server, std::string_view id) {
    static constexpr char kUnreserved[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = server + "/packages/";
    for (const char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::string_view(kUnreserved).find(c) != std::string_view::npos) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0xf];
        }
    }
    return url;
}

long seconds_from_environment(const char *name, long fallback) {
    const char *text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 1 && value <= 86400 ? value : fallback;
}

uint64_t bytes_from_environment(const char *name, uint64_t fallback, uint64_t largest) {
    const char *text = std::getenv(name);
    if (text == nullptr || *text < '0' || *text > '9')
        return fallback;
    char *end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' && errno == 0 && value <= largest ? value : fallback;
}

std::string trace_text(curl_infotype type, std::string_view data) {
    const char *mark = type == CURLINFO_TEXT         ? "* "
                       : type == CURLINFO_HEADER_OUT ? "> "
                       : type == CURLINFO_HEADER_IN  ? "< "
                                                     : nullptr;
    if (mark == nullptr)
        return {};
    std::string text;
    while (!data.empty()) {
        const size_t end = data.find('\n');
        std::string_view line = data.substr(0, end);
        data = end == std::string_view::npos ? std::string_view() : data.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() && data.empty() && type != CURLINFO_TEXT)
            break;
        text += mark;
        const size_t colon = line.find(':');
        if (type == CURLINFO_HEADER_OUT && colon != std::string_view::npos) {
            std::string name(line.substr(0, colon));
            for (char &c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (name == "authorization" || name == "proxy-authorization") {
                text.append(line.substr(0, colon));
                text += ": <??}\n";
                continue;
            }
        }
        text.append(line);
        text += '\n';
    }
    return text;
}

int32_t code_for_status(int status) {
    if (status >= 200 && status <= 299)
        return CDS_OK;
    switch (status) {
        case 401:
        case 403:
            return CDS_DENIED;
        case 404:
        case 410:
            return CDS_NOT_FOUND;
        case 503:
            return CDS_BUSY;
        default:
            return CDS_BAD_ANSWER;
    }
}

int32_t code_for_curl(CURLcode result) {
    switch (result) {
        case CURLE_OK:
            return CDS_OK;
        case CURLE_OUT_OF_MEMORY:
            return CDS_NO_MEMORY;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return CDS_UNREACHABLE;
        case CURLE_OPERATION_TIMEDOUT:
            return CDS_TIMED_OUT;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return CDS_INCOMPLETE;
        case CURLE_LOGIN_DENIED:
            return CDS_DENIED;
        case CURLE_URL_MALFORMAT:
            return CDS_INVALID_ARGUMENT;
        case CURLE_ABORTED_BY_CALLBACK:
            return CDS_CANCELLED;
        case CURLE_WRITE_ERROR:
            return CDS_CACHE_FAILED;
        default:
            return CDS_BAD_ANSWER;
    }
}

Transfer::Transfer(const std::string &url, const char *user_name, const char *password) {
    initialise_http_once();
    curl_.reset(curl_easy_init());
    if (!curl_)
        return;
    CURL *curl = curl_.get();
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
    headers_.reset(curl_slist_append(nullptr, "Expect:"));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers_.get());
    if (user_name != nullptr) {
        user_name_ = user_name;
        password_ = password != nullptr ? password : "";
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(curl, CURLOPT_USERNAME, user_name_.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::header_line);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::body_piece);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    // CDSCLIENT_TRACE=1 shows each exchange on standard error, without the
    // credentials.
    if (const char *trace = std::getenv("CDSCLIENT_TRACE"); trace != nullptr && *trace == '1') {
        curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Transfer::trace);
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    }
}

void Transfer::add_header(const std::string &line) {
    curl_slist *list = curl_slist_append(headers_.get(), line.c_str());
    if (list == nullptr)
        return;
    headers_.release();
    headers_.reset(list);
    curl_easy_setopt(curl_.get(), CURLOPT_HTTPHEADER, headers_.get());
}

int Transfer::trace(CURL *, curl_infotype type, char *data, size_t size, void *) {
    const std::string text = trace_text(type, std::string_view(data, size));
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
    return 0;
}

CURLcode Transfer::perform() {
    if (!curl_)
        return CURLE_OUT_OF_MEMORY;
    return curl_easy_perform(curl_.get());
}

size_t Transfer::header_line(char *data, size_t size, size_t count, void *self) {
    auto *transfer = static_cast<Transfer *>(self);
    const size_t length = size * count;
    transfer->answer_.take_line(std::string_view(data, length));
    if (transfer->answer_.malformed())
        return 0;
    if (transfer->answer_.complete() && !transfer->head_seen_) {
        transfer->head_seen_ = true;
        if (transfer->head_ && !transfer->head_(transfer->answer_))
            return 0;
    }
    return length;
}

size_t Transfer::body_piece(char *data, size_t size, size_t count, void *self) {
    auto *transfer = static_cast<Transfer *>(self);
    const size_t length = size * count;
    // A body before a whole head would be a server's mistake libcurl let by.
    if (!transfer->head_seen_)
        return 0;
    if (transfer->body_ && !transfer->body_(data, length))
        return 0;
    return length;
}

int Transfer::progress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto *transfer = static_cast<Transfer *>(self);
    return transfer->stop_ && transfer->stop_() ? 1 : 0;
}

}  // namespace cdsclient
