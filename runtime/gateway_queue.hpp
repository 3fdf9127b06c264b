// The gateway channel's messages and the queue of those that arrived for
// another reader (a reply while a stream is read, a stream packet while a
// reply is awaited).
//
// A Message owns its payload, an mg_ block (freed with mg_free when the
// message ends, unless release() hands it over). The queue is bounded in
// messages and bytes; it is not locked: the channel uses it under its
// receive lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

namespace korvo::rt::gateway {

// Messages kept for another reader: beyond these the gateway is flooding
// the method with what it does not read, and the channel gives up.
inline constexpr std::size_t kPendingMessagesMax = 256;
inline constexpr std::size_t kPendingBytesMax = 64u << 20;

// One received message: its kind and payload (an mg block or nullptr).
struct Message {
    uint8_t kind = 0;
    uint8_t *payload = nullptr;
    std::size_t length = 0;

    Message() = default;
    Message(Message &&other) noexcept
        : kind(other.kind), payload(other.payload), length(other.length) {
        other.payload = nullptr;
    }
    Message &operator=(Message &&other) noexcept {
        std::swap(kind, other.kind);
        std::swap(payload, other.payload);
        std::swap(length, other.length);
        return *this;
    }
    ~Message();
    uint8_t *release() {
        uint8_t *taken = payload;
        payload = nullptr;
        return taken;
    }
};

class PendingMessages {
  public:
    // The first queued message of `kind` (or of `also`), taken out.
    bool take(Message &message, uint8_t kind, uint8_t also);
    // Queues a message at the back; false when the queue is full (the
    // message stays the caller's).
    bool keep(Message &&message);
    // Puts a message looked at back in front of the others, whatever the
    // bounds: it was in the queue a moment ago, or was just read.
    void put_back(Message &&message);
    // Drops the queued stream packets up to and including the first end of
    // stream; true when that end was among them.
    bool drop_stream();
    void clear();

  private:
    std::deque<Message> messages_;
    std::size_t bytes_ = 0;
};

}  // namespace korvo::rt::gateway
