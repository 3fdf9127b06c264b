// The gateway channel's queue of messages kept for another reader (see
// gateway_queue.hpp).
#include "runtime/gateway_queue.hpp"

#include "runtime/gateway.h"
#include "runtime/mg_memory.h"

namespace korvo::rt::gateway {

Message::~Message() {
    mg_free(payload);
}

bool PendingMessages::take(Message &message, uint8_t kind, uint8_t also) {
    for (auto it = messages_.begin(); it != messages_.end(); ++it) {
        if (it->kind == kind || it->kind == also) {
            bytes_ -= it->length;
            message = std::move(*it);
            messages_.erase(it);
            return true;
        }
    }
    return false;
}

bool PendingMessages::keep(Message &&message) {
    if (messages_.size() >= kPendingMessagesMax || bytes_ + message.length > kPendingBytesMax)
        return false;
    bytes_ += message.length;
    messages_.push_back(std::move(message));
    return true;
}

void PendingMessages::put_back(Message &&message) {
    bytes_ += message.length;
    messages_.push_front(std::move(message));
}

bool PendingMessages::drop_stream() {
    for (auto it = messages_.begin(); it != messages_.end();) {
        if (it->kind != GATEWAY_KIND_STREAM && it->kind != GATEWAY_KIND_END_OF_STREAM) {
            ++it;
            continue;
        }
        const bool end = it->kind == GATEWAY_KIND_END_OF_STREAM;
        bytes_ -= it->length;
        it = messages_.erase(it);
        if (end)
            return true;
    }
    return false;
}

void PendingMessages::clear() {
    messages_.clear();
    bytes_ = 0;
}

}  // namespace korvo::rt::gateway
