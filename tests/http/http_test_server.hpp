// A small HTTP/1.1 server of the test suite, playing the content server of
// the CDS client on 127.0.0.1 at a port the system chooses. It serves the
// packages put into it under /packages/<id> (GET and HEAD) with an ETag and
// a Last-Modified date that change whenever a package is put again (and
// answers 304 to a request whose If-None-Match or If-Modified-Since names
// the current ones), stores what is sent to it with PUT, and answers in the
// ways a test asks for: busy (503), asking for credentials (401), late, cut
// short, endless, far too long, with an HTML page, with a digest (right or
// wrong), or with bytes that are not HTTP. Requests are counted per method
// and package.
//
// It always stops by itself: when the object ends, and at the latest when
// its lifetime has passed, even while a test hangs. Delayed answers wait on a
// condition that stopping (or release_delayed) ends. Every member may be
// called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/http/test_socket.hpp"

namespace korvo::test {

// How the server answers a GET or HEAD of a package.
enum class Answer {
    kServe,       // 200 with the package and its length; 404 for an unknown id
    kBusy,        // 503 Service Unavailable
    kCut,         // the whole head, half the body, then the connection closes
    kGarbage,     // bytes that are not HTTP, then the connection closes
    kBadLength,   // 200 with a Content-Length that is not a number
    kNoLength,    // 200 without a length; the body ends when the connection closes
    kHugeLength,  // 200 claiming 10 000 000 000 bytes, sends up to 8 MiB of them, closes
    kEndless,     // 200 with chunks that never end (the server gives up after 256 MiB)
    kPastLength,  // 200 with the package's length, then the package and 4096 bytes more
    kHtmlPage,    // 200 with a small HTML page instead of the package
    kLateHead,    // waits `delay` (or until release_delayed) before answering
    kLateBody,    // sends the head, waits `delay`, then the body
};

// Which validators the server sends with a package (and honours).
struct Validators {
    bool etag = true;
    bool last_modified = true;
};

// Whether the server states the SHA-256 of a package it serves.
enum class DigestHeader {
    kNone,
    kReprDigest,   // Repr-Digest: sha-256=:<base64>:
    kDigest,       // Digest: SHA-256=<base64>
    kWrongDigest,  // Repr-Digest with the digest of other bytes
};

class HttpTestServer {
  public:
    explicit HttpTestServer(std::chrono::seconds lifetime = std::chrono::seconds(300));
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer &) = delete;
    HttpTestServer &operator=(const HttpTestServer &) = delete;

    uint16_t port() const { return port_; }
    // "127.0.0.1:<port>", the form a segment's "cds_manager" takes.
    std::string address() const;
    // "http://127.0.0.1:<port>"
    std::string url() const;

    void put_package(const std::string &id, std::string body);
    void remove_package(const std::string &id);
    // How every package is answered, unless it has an answer of its own.
    void answer_with(Answer answer, std::chrono::milliseconds delay = {});
    void answer_with(const std::string &id, Answer answer, std::chrono::milliseconds delay = {});
    void offer_validators(const std::string &id, Validators validators);
    void offer_digest(const std::string &id, DigestHeader digest);
    // From now on, requests without these basic credentials get 401.
    void require_credentials(const std::string &user_name, const std::string &password);
    // Late answers waiting now (and later ones) go on at once.
    void release_delayed();

    // Requests seen for `method` ("GET", "HEAD", "PUT") of package `id`.
    int requests(const std::string &method, const std::string &id) const;
    // Of those, the ones answered 304 Not Modified.
    int not_modified(const std::string &method, const std::string &id) const;
    // The body of the last PUT of `id`.
    std::optional<std::string> published(const std::string &id) const;

  private:
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    struct Behaviour {
        Answer answer = Answer::kServe;
        std::chrono::milliseconds delay{};
    };
    struct Stored {
        std::shared_ptr<const std::string> body;
        int version = 0;
        Validators validators;
        DigestHeader digest = DigestHeader::kNone;
    };
    struct Conditions {
        std::string if_none_match;
        std::string if_modified_since;
    };

    void accept_loop();
    void serve(SocketHandle fd);
    bool answer_request(SocketHandle fd, const std::string &method, const std::string &target,
                        const std::string &authorization, const Conditions &conditions,
                        const std::string &body);
    // Waits `delay` or until stopped or released; false when stopped.
    bool wait_for(std::chrono::milliseconds delay);
    void stop();

    SocketHandle listener_ = kNoSocket;
    uint16_t port_ = 0;
    std::chrono::steady_clock::time_point deadline_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool released_ = false;
    std::map<std::string, Stored> packages_;
    int versions_ = 0;
    std::map<std::string, std::string> published_;
    std::map<std::string, Behaviour> behaviours_;
    Behaviour default_behaviour_;
    std::string expected_authorization_;
    std::map<std::string, int> requests_;
    std::map<std::string, int> not_modified_;
    std::vector<SocketHandle> open_fds_;

    std::vector<Connection> connections_;  // touched by the accept thread only
    std::thread acceptor_;
};

}  // namespace korvo::test
