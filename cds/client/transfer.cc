// The transport-independent part of the client's HTTP exchanges: URLs,
// limits from the environment, the trace's text, the codes of statuses and
// transport results, and the answer's head as the transport hands it over.
#include "cds/client/transfer.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cds/client/cds_client.h"

namespace cdsclient {

namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

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

std::string trace_text(TraceKind kind, std::string_view data) {
    const char *mark = kind == TraceKind::kNote        ? "* "
                       : kind == TraceKind::kHeaderOut ? "> "
                       : kind == TraceKind::kHeaderIn  ? "< "
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
        if (line.empty() && data.empty() && kind != TraceKind::kNote)
            break;
        text += mark;
        const size_t colon = line.find(':');
        if (kind == TraceKind::kHeaderOut && colon != std::string_view::npos) {
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

bool trace_wanted() {
    const char *trace = std::getenv("CDSCLIENT_TRACE");
    return trace != nullptr && *trace == '1';
}

void write_trace(TraceKind kind, std::string_view data) {
    const std::string text = trace_text(kind, data);
    if (!text.empty()) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
}

int32_t code_for_transport(TransportResult result) {
    switch (result) {
        case TransportResult::kOk:
            return CDS_OK;
        case TransportResult::kNoMemory:
            return CDS_NO_MEMORY;
        case TransportResult::kUnreachable:
            return CDS_UNREACHABLE;
        case TransportResult::kTimedOut:
            return CDS_TIMED_OUT;
        case TransportResult::kIncomplete:
            return CDS_INCOMPLETE;
        case TransportResult::kDenied:
            return CDS_DENIED;
        case TransportResult::kBadUrl:
            return CDS_INVALID_ARGUMENT;
        case TransportResult::kAbandoned:
            return CDS_CANCELLED;
        case TransportResult::kWriteError:
            return CDS_CACHE_FAILED;
        case TransportResult::kOther:
            break;
    }
    return CDS_BAD_ANSWER;
}

bool Transfer::take_header_line(std::string_view line) {
    answer_.take_line(line);
    if (answer_.malformed())
        return false;
    if (answer_.complete() && !head_seen_) {
        head_seen_ = true;
        if (head_ && !head_(answer_))
            return false;
    }
    return true;
}

bool Transfer::take_body(const char *data, size_t size) {
    // A body before a whole head would be a server's mistake the transport
    // let by.
    if (!head_seen_)
        return false;
    return !body_ || body_(data, size);
}

}  // namespace cdsclient
