// The runtime's encoding: the buffer life cycle, marshal_item and the
// adr_v_* building blocks. The encoder, the decoder and the type-name cache
// are in marshal_encode.cc, marshal_decode.cc and marshal_names.cc.
#include "runtime/marshal.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "runtime/generic.h"
#include "runtime/marshal_internal.hpp"
#include "runtime/mg_memory.h"
#include "runtime/tc_walk.hpp"

namespace korvo::rt::adr {

bool fail(AdrBuffer *b, int32_t code) {
    if (b->error == ADR_OK)
        b->error = code;
    return false;
}

namespace {

// Own marshal functions declared to do what the member walk does
// (adr_declare_member_walk). Readers scan without a lock: entries are
// published before the count that covers them.
constexpr int kMaxMemberWalkers = 16;
std::atomic<AdrMarshalFn> member_walkers[kMaxMemberWalkers];
std::atomic<int> member_walker_count{0};

bool walks_members(AdrMarshalFn fn) {
    const int count = member_walker_count.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i)
        if (member_walkers[i].load(std::memory_order_relaxed) == fn)
            return true;
    return false;
}

}  // namespace

bool has_own_marshal(TypeCode tc) {
    return tc->marshal != nullptr && tc->marshal != adr_v_dummy && !walks_members(tc->marshal);
}

// A walked structure of the property shape (tc_walk.hpp): sequences of
// them are marshalled member by member without the general walk.
bool is_key_value(TypeCode tc) {
    return is_key_value_shape(tc) && !has_own_marshal(tc);
}

// A type's own marshal function; one that fails without saying why is
// reported as a bad value.
bool call_own_marshal(AdrBuffer *b, void *value, TypeCode tc) {
    if (tc->marshal(b, value) != 0 && b->error == ADR_OK)
        return true;
    return fail(b, ADR_E_BAD_VALUE);
}

namespace {

// The common entry checks of the adr_v_* functions.
bool usable(AdrBuffer *b, const void *value) {
    if (b == nullptr || b->error != ADR_OK)
        return false;
    if (value == nullptr)
        return fail(b, ADR_E_BAD_ARGUMENT);
    if (b->direction != ADR_ENCODE && b->direction != ADR_DECODE)
        return fail(b, ADR_E_BAD_ARGUMENT);
    return true;
}

bool marshal(AdrBuffer *b, void *value, TypeCode tc) {
    return b->direction == ADR_ENCODE ? encode_value(b, value, tc) : decode_value(b, value, tc);
}

AdrBuffer *new_buffer(int32_t direction) {
    auto *b = static_cast<AdrBuffer *>(mg_calloc(1, sizeof(AdrBuffer)));
    if (b != nullptr)
        b->direction = direction;
    return b;
}

}  // namespace
}  // namespace korvo::rt::adr

using namespace korvo::rt;
using namespace korvo::rt::adr;

extern "C" {

AdrBuffer *adr_init_encode_buffer(void *data, uint32_t length) {
    AdrBuffer *b = new_buffer(ADR_ENCODE);
    if (b == nullptr)
        return nullptr;
    if (data != nullptr) {
        b->data = static_cast<uint8_t *>(data);
        b->capacity = length;
    } else if (length != 0) {
        b->data = static_cast<uint8_t *>(mg_malloc(length));
        if (b->data == nullptr) {
            mg_free(b);
            return nullptr;
        }
        b->capacity = length;
    }
    return b;
}

AdrBuffer *adr_init_decode_buffer(const void *data, uint32_t length) {
    AdrBuffer *b = new_buffer(ADR_DECODE);
    if (b == nullptr)
        return nullptr;
    b->data = static_cast<uint8_t *>(const_cast<void *>(data));
    b->length = data != nullptr ? length : 0;
    return b;
}

void adr_free_buf(AdrBuffer *buffer) {
    if (buffer == nullptr)
        return;
    if (buffer->direction == ADR_ENCODE)
        mg_free(buffer->data);
    mg_free(buffer);
}

int marshal_item(AdrBuffer *buffer, TypeCode type, void *value) {
    if (!usable(buffer, value))
        return 0;
    TypeCode tc = prepared(type);
    if (tc == nullptr)
        return fail(buffer, ADR_E_BAD_TYPE);
    const int32_t depth = buffer->depth;
    bool ok;
    if (buffer->direction == ADR_DECODE) {
        std::memset(value, 0, tc->size);
        ok = decode_item(buffer, value, tc) && buffer->error == ADR_OK;
        if (!ok)
            vem_free_generic(value, tc);
    } else {
        ok = encode_item(buffer, value, tc) && buffer->error == ADR_OK;
    }
    buffer->depth = depth;
    return ok ? 1 : 0;
}

int adr_v_string(AdrBuffer *buffer, char **value) {
    if (!usable(buffer, value))
        return 0;
    return buffer->direction == ADR_ENCODE ? encode_string(buffer, *value)
                                           : decode_string(buffer, *value);
}

int adr_v_long(AdrBuffer *buffer, int32_t *value) {
    if (!usable(buffer, value))
        return 0;
    return buffer->direction == ADR_ENCODE
               ? encode_u32(buffer, static_cast<uint32_t>(*value))
               : decode_u32(buffer, *reinterpret_cast<uint32_t *>(value));
}

int adr_v_ulong(AdrBuffer *buffer, uint32_t *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_ulong);
}

int adr_v_short(AdrBuffer *buffer, int16_t *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_short);
}

int adr_v_boolean(AdrBuffer *buffer, uint8_t *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_boolean);
}

int adr_v_octet(AdrBuffer *buffer, uint8_t *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_octet);
}

int adr_v_any(AdrBuffer *buffer, Any *value) {
    if (!usable(buffer, value))
        return 0;
    return buffer->direction == ADR_ENCODE ? encode_any(buffer, *value)
                                           : decode_any(buffer, *value);
}

int adr_v_Object(AdrBuffer *buffer, void *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_Object);
}

int adr_v_tc_sequence(AdrBuffer *buffer, TypeCode type, void *sequence) {
    if (!usable(buffer, sequence))
        return 0;
    TypeCode tc = prepared(type);
    if (tc == nullptr || tc->kind != tk_sequence)
        return fail(buffer, ADR_E_BAD_TYPE);
    return marshal(buffer, sequence, tc);
}

int adr_v_Vem_Types_XOpenMessage(AdrBuffer *buffer, MessageList *value) {
    return usable(buffer, value) && marshal(buffer, value, TC_Vem_Types_XOpenMessage);
}

int adr_start_struct(AdrBuffer *buffer) {
    if (buffer == nullptr || buffer->error != ADR_OK)
        return 0;
    return enter(buffer);
}

int adr_end_struct(AdrBuffer *buffer) {
    if (buffer == nullptr)
        return 0;
    leave(buffer);
    return buffer->error == ADR_OK;
}

int adr_v_dummy(AdrBuffer *buffer, void *) {
    return buffer != nullptr && buffer->error == ADR_OK;
}

int adr_declare_member_walk(AdrMarshalFn fn) {
    static std::mutex lock;
    if (fn == nullptr)
        return 0;
    std::lock_guard guard(lock);
    if (walks_members(fn))
        return 1;
    const int count = member_walker_count.load(std::memory_order_relaxed);
    if (count == kMaxMemberWalkers)
        return 0;
    member_walkers[count].store(fn, std::memory_order_relaxed);
    member_walker_count.store(count + 1, std::memory_order_release);
    return 1;
}
}