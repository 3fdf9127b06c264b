// The process's channel to its gateway: the end named by KORVO_GATEWAY
// (runtime/gateway_socket.hpp), the messages on it
// (runtime/channel_packet.hpp), and the functions of runtime/gateway.h over
// them.
//
// Every wait is a wait with the channel's timeout in front of a call that
// does not block, so an inherited blocking descriptor cannot hang a caller.
// A message of a kind nobody is waiting for (a reply while a stream is read,
// a stream packet while a reply is awaited) is kept in a bounded queue for
// its own reader (runtime/gateway_queue.hpp).
#include "runtime/gateway.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "runtime/channel_packet.hpp"
#include "runtime/gateway_queue.hpp"
#include "runtime/gateway_socket.hpp"
#include "runtime/log.h"
#include "runtime/mg_memory.h"

using korvo::rt::channel::Arrival;
using korvo::rt::channel::Assembler;
using korvo::rt::channel::Fault;
using korvo::rt::channel::Header;
using korvo::rt::channel::kHeaderSize;
using korvo::rt::channel::kPacketPayloadMax;
using korvo::rt::gateway::Message;
using korvo::rt::gateway::PendingMessages;

namespace {

constexpr int kDefaultTimeoutSeconds = 300;
void log_failure(const char *what, const char *detail = nullptr) {
    if (detail != nullptr)
        LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1, "korvo: gateway channel: %s: %s\n", what, detail);
    else
        LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1, "korvo: gateway channel: %s\n", what);
}

// A decimal number from the environment, or `fallback` when the variable is
// unset or not wholly a number within [low, high].
long environment_number(const char *name, long fallback, long low, long high) {
    const char *text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high)
        return fallback;
    return value;
}

enum class Wait { No, Yes };
enum class Got { Message, Nothing, Failed };

}  // namespace

// The channel. One per process, made on first use and never moved.
struct IomHandle {
  public:
    IomHandle() { open(); }
    ~IomHandle() = default;
    IomHandle(const IomHandle &) = delete;
    IomHandle &operator=(const IomHandle &) = delete;

    bool usable() const { return state_.load() == State::Open; }
    // usable(), logging once why a channel that was never there is missing.
    bool ready();
    int32_t session() const { return session_; }

    int32_t send(uint8_t kind, const void *data, std::size_t length, int32_t session);
    int32_t receive_stream(char **data, Wait wait, bool take);
    // A new stream handed its TOC over: what comes next is its packets,
    // once the previous stream's packets up to its end of stream are gone.
    void begin_stream();
    int32_t receive_reply(GatewayReply *reply);
    void close();

  private:
    enum class State { Absent, Open, Broken, Closed };

    void open();
    void fail(const char *what, const char *detail = nullptr);
    bool wait_for(bool output);
    Got receive_message(Message &message, Wait wait);
    bool keep_pending(Message &&message);

    korvo::rt::gateway::GatewaySocketPtr socket_;
    std::atomic<State> state_{State::Absent};
    std::atomic<bool> absence_reported_{false};
    int timeout_ms_ = kDefaultTimeoutSeconds * 1000;
    int32_t session_ = 0;
    bool ended_ = false;     // the gateway said that nothing more comes
    bool open_ = false;      // a stream's TOC went up and its end of stream has not come
    bool draining_ = false;  // the previous stream's packets are dropped up to its end
    std::mutex send_lock_;
    std::mutex receive_lock_;
    Assembler assembler_;
    PendingMessages pending_;
};

void IomHandle::open() {
    session_ =
        static_cast<int32_t>(environment_number("KORVO_GATEWAY_SESSION", 0, INT32_MIN, INT32_MAX));
    const long seconds =
        environment_number("KORVO_GATEWAY_TIMEOUT", kDefaultTimeoutSeconds, 0, INT_MAX / 1000);
    timeout_ms_ = seconds == 0 ? -1 : static_cast<int>(seconds * 1000);

    const char *named = std::getenv("KORVO_GATEWAY");
    if (named == nullptr || *named == '\0')
        return;  // no gateway: the channel is absent
    // A gateway was named; whatever goes wrong below is logged there.
    absence_reported_ = true;
    korvo::rt::gateway::ConnectFailure failure;
    socket_ = korvo::rt::gateway::ConnectGatewaySocket(named, &failure);
    if (!socket_) {
        log_failure(failure.what, failure.detail.c_str());
        return;
    }
    state_ = State::Open;
}

bool IomHandle::ready() {
    if (usable())
        return true;
    if (state_.load() == State::Absent)
        if (!absence_reported_.exchange(true))
            log_failure("absent (KORVO_GATEWAY is not set)");
    return false;
}

void IomHandle::fail(const char *what, const char *detail) {
    State open = State::Open;
    if (state_.compare_exchange_strong(open, State::Broken))
        log_failure(what, detail);
}

void IomHandle::close() {
    std::scoped_lock both(send_lock_, receive_lock_);
    state_ = State::Closed;
    socket_.reset();
    assembler_.reset();
    pending_.clear();
}

// Waits until the channel's end is ready for output or input, at most the
// timeout.
bool IomHandle::wait_for(bool output) {
    std::string error;
    switch (
        korvo::rt::gateway::WaitForGatewaySocket(*socket_, !output, output, timeout_ms_, &error)) {
        case korvo::rt::gateway::SocketWait::Ready:
            return true;
        case korvo::rt::gateway::SocketWait::TimedOut:
            fail("no answer from the gateway within KORVO_GATEWAY_TIMEOUT");
            return false;
        case korvo::rt::gateway::SocketWait::Failed:
            break;
    }
    fail("poll failed", error.c_str());
    return false;
}

int32_t IomHandle::send(uint8_t kind, const void *data, std::size_t length, int32_t session) {
    std::lock_guard guard(send_lock_);
    if (!ready())
        return -1;
    const auto *bytes = static_cast<const uint8_t *>(data);
    std::size_t sent = 0;
    do {
        const std::size_t part = std::min(length - sent, kPacketPayloadMax);
        Header header;
        header.kind = kind;
        header.session = session;
        header.length = static_cast<uint32_t>(part);
        header.more = sent + part < length;
        uint8_t head[kHeaderSize];
        korvo::rt::channel::write_header(head, header);
        for (;;) {
            std::string error;
            const auto outcome = korvo::rt::gateway::SendGatewayPacket(*socket_, head, kHeaderSize,
                                                                       bytes + sent, part, &error);
            if (outcome == korvo::rt::gateway::SocketSend::Sent)
                break;
            if (outcome == korvo::rt::gateway::SocketSend::Full) {
                if (!wait_for(true))
                    return -1;
                continue;
            }
            fail("cannot send to the gateway", error.c_str());
            return -1;
        }
        sent += part;
    } while (sent < length);
    return 0;
}

// Receives packets until one message is complete. With Wait::No, returns
// Nothing when no packet is waiting (a message that has begun is always
// waited for, within the timeout).
Got IomHandle::receive_message(Message &message, Wait wait) {
    for (;;) {
        if (!ready())
            return Got::Failed;
        Fault fault;
        switch (korvo::rt::gateway::ReceiveGatewayPacket(*socket_, assembler_, fault)) {
            case Arrival::Packet:
                if (assembler_.complete()) {
                    message.kind = assembler_.kind();
                    message.length = assembler_.length();
                    message.payload = assembler_.take();
                    return Got::Message;
                }
                continue;
            case Arrival::Nothing:
                if (wait == Wait::No && !assembler_.in_progress())
                    return Got::Nothing;
                if (!wait_for(false))
                    return Got::Failed;
                continue;
            case Arrival::Closed:
                // After the gateway said that nothing more comes this is the
                // normal end; before, data was lost.
                if (ended_ && !assembler_.in_progress())
                    state_ = State::Closed;
                else
                    fail("the gateway closed the channel in the middle of a transfer");
                return Got::Failed;
            case Arrival::Failed:
                if (fault != Fault::None)
                    fail("refused a packet", korvo::rt::channel::fault_text(fault));
                else
                    fail("cannot receive from the gateway",
                         korvo::rt::gateway::LastGatewayErrorText().c_str());
                return Got::Failed;
        }
    }
}

bool IomHandle::keep_pending(Message &&message) {
    if (pending_.keep(std::move(message)))
        return true;
    fail("too many packets arrived that nobody reads");
    return false;
}

void IomHandle::begin_stream() {
    std::lock_guard guard(receive_lock_);
    // The previous stream was left before its end of stream (after its last
    // segment, a command, or a failure): what the gateway still sends of it
    // is not the new stream's.
    if (open_ && !pending_.drop_stream())
        draining_ = true;
    open_ = true;
    ended_ = false;
}

// The next stream packet: taken (take) or only looked at (!take, which
// keeps it queued and answers 1).
int32_t IomHandle::receive_stream(char **data, Wait wait, bool take) {
    std::lock_guard guard(receive_lock_);
    Message message;
    for (;;) {
        const bool ends = wait == Wait::Yes || draining_;
        bool found = pending_.take(message, GATEWAY_KIND_STREAM,
                                   ends ? GATEWAY_KIND_END_OF_STREAM : GATEWAY_KIND_STREAM);
        if (!found) {
            if (ended_ && wait == Wait::Yes && !draining_)
                return 0;
            const Got got = receive_message(message, wait);
            if (got == Got::Nothing)
                return 0;
            if (got == Got::Failed)
                return ended_ ? 0 : -1;
            const bool wanted = message.kind == GATEWAY_KIND_STREAM ||
                                (message.kind == GATEWAY_KIND_END_OF_STREAM && ends);
            if (!wanted) {
                if (!keep_pending(std::move(message)))
                    return -1;
                continue;
            }
        }
        if (!draining_)
            break;
        // A packet of the previous stream: dropped, up to its end.
        if (message.kind == GATEWAY_KIND_END_OF_STREAM)
            draining_ = false;
        message = Message();
    }
    if (message.kind == GATEWAY_KIND_END_OF_STREAM) {
        ended_ = true;
        open_ = false;
        return 0;
    }
    if (wait == Wait::No) {
        // A poll: hand the packet over, an empty one as the NULL command.
        if (!take) {
            pending_.put_back(std::move(message));
            return 1;
        }
        if (message.length == 0) {
            message.payload = static_cast<uint8_t *>(mg_calloc(1, 1));
            message.length = 1;
            if (message.payload == nullptr)
                return 0;
        }
        *data = reinterpret_cast<char *>(message.release());
        return 1;
    }
    *data = reinterpret_cast<char *>(message.release());
    return static_cast<int32_t>(message.length);
}

int32_t IomHandle::receive_reply(GatewayReply *reply) {
    std::lock_guard guard(receive_lock_);
    Message message;
    while (!pending_.take(message, GATEWAY_KIND_REPLY, GATEWAY_KIND_REPLY)) {
        if (receive_message(message, Wait::Yes) != Got::Message)
            return -1;
        if (message.kind == GATEWAY_KIND_REPLY)
            break;
        if (!keep_pending(std::move(message)))
            return -1;
    }
    const uint8_t *p = message.payload;
    reply->kind = static_cast<int32_t>(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 |
                                       uint32_t(p[2]) << 8 | uint32_t(p[3]));
    reply->value = static_cast<int32_t>(uint32_t(p[4]) << 24 | uint32_t(p[5]) << 16 |
                                        uint32_t(p[6]) << 8 | uint32_t(p[7]));
    return 0;
}

namespace {

// The process's channel, made on the first call from any thread.
IomHandle *process_channel() {
    static IomHandle channel;
    return &channel;
}

IomHandle *usable_channel(IomHandle *handle) {
    return handle != nullptr && handle == process_channel() && handle->usable() ? handle : nullptr;
}

}  // namespace

extern "C" {

IomHandle *ecp_get_ipc_handle(void) {
    return usable_channel(process_channel());
}

int32_t ep_session_id(void) {
    return process_channel()->session();
}

int32_t net_send_protected(IomHandle *handle, const void *data, uint32_t length, int32_t kind,
                           int32_t session) {
    IomHandle *channel = usable_channel(handle);
    if (channel == nullptr || (data == nullptr && length != 0))
        return -1;
    if (kind != GATEWAY_KIND_DATA && kind != GATEWAY_KIND_END && kind != GATEWAY_KIND_TOC)
        return -1;
    if (korvo::rt::channel::check_message_shape(static_cast<uint8_t>(kind), length, false) !=
        Fault::None)
        return -1;
    return channel->send(static_cast<uint8_t>(kind), data, length, session);
}

int32_t send_methstat(IomHandle *handle, int32_t kind, const GatewayStatus *status) {
    IomHandle *channel = usable_channel(handle);
    if (channel == nullptr || status == nullptr || kind != GATEWAY_KIND_STATUS)
        return -1;
    uint8_t words[sizeof(GatewayStatus)];
    for (std::size_t i = 0; i < 7; ++i) {
        const auto word = static_cast<uint32_t>(status->words[i]);
        words[4 * i] = static_cast<uint8_t>(word >> 24);
        words[4 * i + 1] = static_cast<uint8_t>(word >> 16);
        words[4 * i + 2] = static_cast<uint8_t>(word >> 8);
        words[4 * i + 3] = static_cast<uint8_t>(word);
    }
    return channel->send(GATEWAY_KIND_STATUS, words, sizeof words, channel->session());
}

int32_t recv_struct(IomHandle *handle, int32_t kind, GatewayReply *reply) {
    if (reply == nullptr)
        return -1;
    *reply = GatewayReply{0, -1};
    IomHandle *channel = usable_channel(handle);
    if (channel == nullptr || kind != GATEWAY_KIND_REPLY)
        return -1;
    if (channel->receive_reply(reply) != 0) {
        *reply = GatewayReply{0, -1};
        return -1;
    }
    return 0;
}

int32_t ep_korvo_recv(char **data, const OctetList *toc) {
    if (data == nullptr)
        return -1;
    *data = nullptr;
    IomHandle *channel = process_channel();
    if (toc != nullptr) {
        if (toc->buffer == nullptr && toc->length != 0)
            return -1;
        if (channel->send(GATEWAY_KIND_TOC, toc->buffer, toc->length, channel->session()) != 0)
            return -1;
        channel->begin_stream();
    }
    return channel->receive_stream(data, Wait::Yes, true);
}

int32_t ep_korvo_poll(char **command) {
    char *packet = nullptr;
    const int32_t found = process_channel()->receive_stream(&packet, Wait::No, command != nullptr);
    if (found <= 0)
        return 0;
    if (command != nullptr)
        *command = packet;
    return 1;
}

void iom_close(IomHandle *handle) {
    if (handle != nullptr && handle == process_channel())
        handle->close();
}
}
