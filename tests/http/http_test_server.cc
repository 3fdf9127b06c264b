// The test suite's HTTP server: one thread accepts, one thread per connection
// reads requests and answers them.
#include "tests/http/http_test_server.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "cds/client/sha256.hpp"
#include "kes/kes_base64.h"
#include "kes/kes_memory.h"
#include "tests/http/test_socket.hpp"

namespace korvo::test {

namespace {

// Longest request head the server reads, and longest body it takes.
constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kMaxBody = 64 * 1024 * 1024;
// A connection that sends nothing for this long is closed.
constexpr int kIdleSeconds = 30;

// The library's own encoder: the client decodes digests with its own code
// and hands credentials to its HTTP transport, so neither check is circular.
std::string base64(const std::string &text) {
    char *digits = nullptr;
    uint32_t length = 0;
    Encode(text.data(), static_cast<uint32_t>(text.size()), &digits, &length);
    std::string out(digits != nullptr ? digits : "", length);
    KesMemoryFree(digits);
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percent_decoded(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
            hex_value(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool send_all(SocketHandle fd, const char *data, size_t size) {
    while (size > 0) {
        const int64_t sent = send_some(fd, data, size);
        if (sent < 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool send_text(SocketHandle fd, const std::string &text) {
    return send_all(fd, text.data(), text.size());
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string head(int status, const char *reason, const std::string &headers) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + headers + "\r\n";
}

std::string base64_of_digest(const std::string &bytes) {
    const auto digest = cdsclient::Sha256::of(bytes);
    return base64(std::string(digest.begin(), digest.end()));
}

// The HTTP date of version `version` of a package: one second per version
// after a fixed day, so that each version has a date of its own.
std::string http_date(int version) {
    const std::time_t when = 1700000000 + version;
    const std::tm parts = utc_time(when);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

constexpr size_t kEndlessLimit = 256 << 20;
constexpr size_t kHugePrefix = 8 << 20;

}  // namespace

HttpTestServer::HttpTestServer(std::chrono::seconds lifetime)
    : deadline_(std::chrono::steady_clock::now() + lifetime) {
    listener_ = listen_on_loopback(port_);
    acceptor_ = std::thread(&HttpTestServer::accept_loop, this);
}

HttpTestServer::~HttpTestServer() {
    stop();
}

std::string HttpTestServer::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string HttpTestServer::url() const {
    return "http://" + address();
}

void HttpTestServer::put_package(const std::string &id, std::string body) {
    auto shared = std::make_shared<const std::string>(std::move(body));
    std::lock_guard lock(mutex_);
    Stored &stored = packages_[id];
    stored.body = std::move(shared);
    stored.version = ++versions_;
}

void HttpTestServer::remove_package(const std::string &id) {
    std::lock_guard lock(mutex_);
    packages_.erase(id);
}

void HttpTestServer::offer_validators(const std::string &id, Validators validators) {
    std::lock_guard lock(mutex_);
    packages_[id].validators = validators;
}

void HttpTestServer::offer_digest(const std::string &id, DigestHeader digest) {
    std::lock_guard lock(mutex_);
    packages_[id].digest = digest;
}

void HttpTestServer::answer_with(Answer answer, std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    default_behaviour_ = Behaviour{answer, delay};
}

void HttpTestServer::answer_with(const std::string &id, Answer answer,
                                 std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    behaviours_[id] = Behaviour{answer, delay};
}

void HttpTestServer::require_credentials(const std::string &user_name,
                                         const std::string &password) {
    std::lock_guard lock(mutex_);
    expected_authorization_ = "Basic " + base64(user_name + ":" + password);
}

void HttpTestServer::release_delayed() {
    std::lock_guard lock(mutex_);
    released_ = true;
    wake_.notify_all();
}

int HttpTestServer::requests(const std::string &method, const std::string &id) const {
    std::lock_guard lock(mutex_);
    const auto found = requests_.find(method + " " + id);
    return found == requests_.end() ? 0 : found->second;
}

int HttpTestServer::not_modified(const std::string &method, const std::string &id) const {
    std::lock_guard lock(mutex_);
    const auto found = not_modified_.find(method + " " + id);
    return found == not_modified_.end() ? 0 : found->second;
}

std::optional<std::string> HttpTestServer::published(const std::string &id) const {
    std::lock_guard lock(mutex_);
    const auto found = published_.find(id);
    if (found == published_.end())
        return std::nullopt;
    return found->second;
}

void HttpTestServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
        for (const SocketHandle fd : open_fds_)
            shut_down(fd);
    }
    if (acceptor_.joinable())
        acceptor_.join();
    for (Connection &connection : connections_)
        connection.thread.join();
    connections_.clear();
    if (listener_ != kNoSocket)
        close_socket(listener_);
    listener_ = kNoSocket;
}

void HttpTestServer::accept_loop() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || std::chrono::steady_clock::now() >= deadline_) {
                stopping_ = true;
                wake_.notify_all();
                for (const SocketHandle fd : open_fds_)
                    shut_down(fd);
                return;
            }
        }
        for (auto connection = connections_.begin(); connection != connections_.end();) {
            if (*connection->done) {
                connection->thread.join();
                connection = connections_.erase(connection);
            } else {
                ++connection;
            }
        }
        if (!wait_for_connection(listener_, 100))
            continue;
        const SocketHandle fd = accept_connection(listener_, kIdleSeconds);
        if (fd == kNoSocket)
            continue;
        {
            std::lock_guard lock(mutex_);
            open_fds_.push_back(fd);
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        connections_.push_back(Connection{std::thread([this, fd, done] {
                                              serve(fd);
                                              {
                                                  std::lock_guard lock(mutex_);
                                                  std::erase(open_fds_, fd);
                                              }
                                              close_socket(fd);
                                              *done = true;
                                          }),
                                          done});
    }
}

bool HttpTestServer::wait_for(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, delay, [this] { return stopping_ || released_; });
    return !stopping_;
}

void HttpTestServer::serve(SocketHandle fd) {
    std::string buffer;
    for (;;) {
        size_t end = buffer.find("\r\n\r\n");
        while (end == std::string::npos) {
            if (buffer.size() > kMaxHead)
                return;
            char piece[16384];
            const int64_t got = receive_some(fd, piece, sizeof piece);
            if (got <= 0)
                return;
            buffer.append(piece, static_cast<size_t>(got));
            end = buffer.find("\r\n\r\n");
        }
        const std::string request_head = buffer.substr(0, end);
        buffer.erase(0, end + 4);

        const size_t line_end = request_head.find("\r\n");
        const std::string request_line = request_head.substr(0, line_end);
        const size_t first_space = request_line.find(' ');
        const size_t second_space = request_line.find(' ', first_space + 1);
        if (first_space == std::string::npos || second_space == std::string::npos)
            return;
        const std::string method = request_line.substr(0, first_space);
        const std::string target =
            request_line.substr(first_space + 1, second_space - first_space - 1);

        std::string authorization;
        Conditions conditions;
        size_t body_length = 0;
        bool close_after = false;
        size_t position = line_end;
        while (position != std::string::npos && position < request_head.size()) {
            const size_t next = request_head.find("\r\n", position + 2);
            const std::string line = request_head.substr(
                position + 2, next == std::string::npos ? std::string::npos : next - position - 2);
            position = next;
            const size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            const std::string name = lower(line.substr(0, colon));
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            if (name == "authorization")
                authorization = value;
            else if (name == "if-none-match")
                conditions.if_none_match = value;
            else if (name == "if-modified-since")
                conditions.if_modified_since = value;
            else if (name == "content-length")
                body_length = std::strtoull(value.c_str(), nullptr, 10);
            else if (name == "connection" && lower(value) == "close")
                close_after = true;
        }
        if (body_length > kMaxBody)
            return;
        while (buffer.size() < body_length) {
            char piece[65536];
            const int64_t got = receive_some(fd, piece, sizeof piece);
            if (got <= 0)
                return;
            buffer.append(piece, static_cast<size_t>(got));
        }
        const std::string body = buffer.substr(0, body_length);
        buffer.erase(0, body_length);
        if (!answer_request(fd, method, target, authorization, conditions, body) || close_after)
            return;
    }
}

bool HttpTestServer::answer_request(SocketHandle fd, const std::string &method,
                                    const std::string &target, const std::string &authorization,
                                    const Conditions &conditions, const std::string &body) {
    constexpr std::string_view kPrefix = "/packages/";
    const bool is_package = target.compare(0, kPrefix.size(), kPrefix) == 0;
    const std::string id = is_package ? percent_decoded(target.substr(kPrefix.size())) : "";

    Behaviour behaviour;
    std::shared_ptr<const std::string> package;
    Stored stored;
    std::string expected;
    {
        std::lock_guard lock(mutex_);
        ++requests_[method + " " + id];
        const auto own = behaviours_.find(id);
        behaviour = own != behaviours_.end() ? own->second : default_behaviour_;
        const auto found = packages_.find(id);
        if (found != packages_.end()) {
            stored = found->second;
            package = stored.body;
        }
        expected = expected_authorization_;
    }

    if (!is_package || (method != "GET" && method != "HEAD" && method != "PUT"))
        return send_text(fd, head(404, "Not Found", "Content-Length: 0\r\n"));
    if (!expected.empty() && authorization != expected)
        return send_text(fd, head(401, "Unauthorized",
                                  "WWW-Authenticate: Basic realm=\"packages\"\r\n"
                                  "Content-Length: 0\r\n"));
    if (method == "PUT") {
        {
            std::lock_guard lock(mutex_);
            published_[id] = body;
            Stored &put = packages_[id];
            put.body = std::make_shared<const std::string>(body);
            put.version = ++versions_;
        }
        return send_text(fd, head(201, "Created", "Content-Length: 0\r\n"));
    }

    const bool with_body = method == "GET";
    switch (behaviour.answer) {
        case Answer::kBusy:
            return send_text(
                fd, head(503, "Service Unavailable", "Retry-After: 30\r\nContent-Length: 0\r\n"));
        case Answer::kGarbage: {
            static constexpr char kGarbage[] = "\x16\x03\x01 not a web server\r\n\x00\xff\r\n\r\n";
            send_all(fd, kGarbage, sizeof kGarbage - 1);
            return false;
        }
        case Answer::kBadLength:
            send_text(fd, head(200, "OK", "Content-Length: 12ab\r\n") + "twelve bytes");
            return false;
        case Answer::kHugeLength: {
            if (!send_text(fd, head(200, "OK", "Content-Length: 10000000000\r\n")) || !with_body)
                return false;
            const std::string piece(65536, 'h');
            for (size_t sent = 0; sent < kHugePrefix; sent += piece.size())
                if (!send_text(fd, piece))
                    break;
            return false;
        }
        case Answer::kEndless: {
            if (!send_text(fd, head(200, "OK", "Transfer-Encoding: chunked\r\n")) || !with_body)
                return false;
            const std::string chunk = "10000\r\n" + std::string(65536, 'e') + "\r\n";
            for (size_t sent = 0; sent < kEndlessLimit; sent += 65536) {
                {
                    std::lock_guard lock(mutex_);
                    if (stopping_)
                        return false;
                }
                if (!send_text(fd, chunk))
                    return false;
            }
            return false;
        }
        case Answer::kHtmlPage: {
            static constexpr char kPage[] =
                "<html><body><h1>Package unavailable</h1><p>Try again later.</p></body></html>\n";
            send_text(fd, head(200, "OK",
                               "Content-Type: text/html\r\nContent-Length: " +
                                   std::to_string(sizeof kPage - 1) + "\r\n") +
                              (with_body ? kPage : ""));
            return true;
        }
        case Answer::kLateHead:
            if (!wait_for(behaviour.delay))
                return false;
            break;
        default:
            break;
    }
    if (!package)
        return send_text(fd, head(404, "Not Found", "Content-Length: 0\r\n"));
    std::string extra;
    const std::string etag = "\"v" + std::to_string(stored.version) + "\"";
    const std::string date = http_date(stored.version);
    if (stored.validators.etag)
        extra += "ETag: " + etag + "\r\n";
    if (stored.validators.last_modified)
        extra += "Last-Modified: " + date + "\r\n";
    const bool unchanged = !conditions.if_none_match.empty()
                               ? stored.validators.etag && conditions.if_none_match == etag
                               : !conditions.if_modified_since.empty() &&
                                     stored.validators.last_modified &&
                                     conditions.if_modified_since == date;
    if (unchanged &&
        (behaviour.answer == Answer::kServe || behaviour.answer == Answer::kLateHead)) {
        {
            std::lock_guard lock(mutex_);
            ++not_modified_[method + " " + id];
        }
        return send_text(fd, head(304, "Not Modified", extra));
    }
    switch (stored.digest) {
        case DigestHeader::kNone:
            break;
        case DigestHeader::kReprDigest:
            extra += "Repr-Digest: sha-256=:" + base64_of_digest(*package) + ":\r\n";
            break;
        case DigestHeader::kDigest:
            extra += "Digest: SHA-256=" + base64_of_digest(*package) + "\r\n";
            break;
        case DigestHeader::kWrongDigest:
            extra += "Repr-Digest: sha-256=:" + base64_of_digest(*package + "?") + ":\r\n";
            break;
    }
    const std::string length = std::to_string(package->size());
    if (behaviour.answer == Answer::kCutChunks) {
        // One chunk with the first half of the package, then the start of
        // a second chunk that never ends: no last chunk comes.
        const size_t half = package->size() / 2;
        char size_line[32];
        std::snprintf(size_line, sizeof size_line, "%zx\r\n", half);
        if (!send_text(fd, head(200, "OK", "Transfer-Encoding: chunked\r\n" + extra)) || !with_body)
            return false;
        send_text(fd, size_line + package->substr(0, half) + "\r\n");
        std::snprintf(size_line, sizeof size_line, "%zx\r\n", package->size() - half);
        send_text(fd, size_line + package->substr(half, (package->size() - half) / 2));
        return false;
    }
    if (behaviour.answer == Answer::kNoLength) {
        send_text(fd, head(200, "OK", "Connection: close\r\n"));
        if (with_body)
            send_text(fd, *package);
        return false;
    }
    if (!send_text(fd, head(200, "OK",
                            "Content-Type: application/octet-stream\r\nContent-Length: " + length +
                                "\r\n" + extra)))
        return false;
    if (!with_body)
        return true;
    if (behaviour.answer == Answer::kCut) {
        send_all(fd, package->data(), package->size() / 2);
        return false;
    }
    if (behaviour.answer == Answer::kLateBody && !wait_for(behaviour.delay))
        return false;
    if (behaviour.answer == Answer::kPastLength) {
        send_text(fd, *package + std::string(4096, 'x'));
        return false;
    }
    return send_all(fd, package->data(), package->size());
}

}  // namespace korvo::test
