// The messages the channel keeps for another reader: taken by kind in the
// order they came, bounded in count and bytes, and the rest of a stream
// that was left dropped up to its end, without touching replies.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/gateway.h"
#include "runtime/gateway_queue.hpp"
#include "runtime/mg_memory.h"

namespace {

using korvo::rt::gateway::kPendingBytesMax;
using korvo::rt::gateway::kPendingMessagesMax;
using korvo::rt::gateway::Message;
using korvo::rt::gateway::PendingMessages;

// A message of `kind` whose payload is `length` bytes of `fill`.
Message Make(uint8_t kind, std::size_t length = 1, uint8_t fill = 0) {
    Message message;
    message.kind = kind;
    message.length = length;
    message.payload = static_cast<uint8_t *>(mg_malloc(length == 0 ? 1 : length));
    std::memset(message.payload, fill, length);
    return message;
}

TEST(GatewayQueue, TakesTheFirstOfAKindAndLeavesTheOthersInOrder) {
    PendingMessages queue;
    ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_STREAM, 1, 'a')));
    ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_REPLY, 8, 'r')));
    ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_STREAM, 1, 'b')));
    Message taken;
    ASSERT_TRUE(queue.take(taken, GATEWAY_KIND_REPLY, GATEWAY_KIND_REPLY));
    EXPECT_EQ(taken.payload[0], 'r');
    ASSERT_FALSE(queue.take(taken, GATEWAY_KIND_REPLY, GATEWAY_KIND_REPLY));
    queue.put_back(Make(GATEWAY_KIND_STREAM, 1, 'z'));
    for (const char expected : {'z', 'a', 'b'}) {
        ASSERT_TRUE(queue.take(taken, GATEWAY_KIND_STREAM, GATEWAY_KIND_STREAM));
        EXPECT_EQ(taken.payload[0], expected);
    }
}

TEST(GatewayQueue, RefusesBeyondItsCountAndItsBytesAndCountsWhatLeaves) {
    PendingMessages queue;
    for (std::size_t i = 0; i < kPendingMessagesMax; ++i)
        ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_STREAM)));
    Message extra = Make(GATEWAY_KIND_STREAM);
    EXPECT_FALSE(queue.keep(std::move(extra)));
    EXPECT_NE(extra.payload, nullptr);  // still the caller's
    queue.clear();

    ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_REPLY, kPendingBytesMax - 1)));
    EXPECT_FALSE(queue.keep(Make(GATEWAY_KIND_REPLY, 2)));
    Message taken;
    ASSERT_TRUE(queue.take(taken, GATEWAY_KIND_REPLY, GATEWAY_KIND_REPLY));
    // The bytes of the message taken out count no more.
    EXPECT_TRUE(queue.keep(Make(GATEWAY_KIND_REPLY, 2)));
}

TEST(GatewayQueue, DropsTheLeftStreamUpToItsEndAndKeepsReplies) {
    PendingMessages queue;
    ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_STREAM, 1, 'o')));
    ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_REPLY, 8, 'r')));
    ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_END_OF_STREAM, 0)));
    ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_STREAM, 1, 'n')));
    EXPECT_TRUE(queue.drop_stream());
    Message taken;
    ASSERT_TRUE(queue.take(taken, GATEWAY_KIND_STREAM, GATEWAY_KIND_END_OF_STREAM));
    EXPECT_EQ(taken.payload[0], 'n');
    ASSERT_TRUE(queue.take(taken, GATEWAY_KIND_REPLY, GATEWAY_KIND_REPLY));
    // Without an end among them, every stream packet goes and the answer
    // says that the end is still to come.
    ASSERT_TRUE(queue.keep(Make(GATEWAY_KIND_STREAM)));
    EXPECT_FALSE(queue.drop_stream());
    EXPECT_FALSE(queue.take(taken, GATEWAY_KIND_STREAM, GATEWAY_KIND_END_OF_STREAM));
}

}  // namespace
