// seq_init, seq_free, seq_replace and qel_generic_equal.
#include "properties/korvo_seq.h"

#include <cstring>
#include <memory>

#include "properties/errors/korvo_catalog.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"
#include "runtime/seq.h"

namespace {

struct BufferFree {
    void operator()(AdrBuffer *buffer) const noexcept { adr_free_buf(buffer); }
};
using BufferPtr = std::unique_ptr<AdrBuffer, BufferFree>;

// The encoding of one value in a fresh buffer; the buffer's error word says
// whether it worked (ADR_E_NO_MEMORY when no buffer could be had).
BufferPtr encode(TypeCode type, const void *value, int32_t &error) {
    BufferPtr buffer(adr_init_encode_buffer(nullptr, 0));
    if (buffer == nullptr) {
        error = ADR_E_NO_MEMORY;
        return buffer;
    }
    marshal_item(buffer.get(), type, const_cast<void *>(value));
    error = buffer->error;
    return buffer;
}

}  // namespace

extern "C" {

void seq_init(void *seq) {
    if (seq != nullptr)
        *static_cast<Sequence *>(seq) = Sequence{0, 0, nullptr};
}

void seq_free(void *seq) {
    if (seq == nullptr)
        return;
    auto *header = static_cast<Sequence *>(seq);
    if (header->maximum != 0)
        mg_free(header->buffer);
    mg_free(header);
}

void *seq_replace(void *seq, const void *element, uint32_t index, size_t size) {
    auto *header = static_cast<Sequence *>(seq);
    const uint32_t length = header != nullptr ? header->length : 0;
    if (index >= length || header->buffer == nullptr)
        vaThrow(Korvo2Catalog[0], KORVO_MSG_SEQUENCE_BAD_INDEX,
                Korvo2Catalog[KORVO_MSG_SEQUENCE_BAD_INDEX], index, length);
    if (element == nullptr)
        vaThrow(nullptr, -1, "The item was not replaced in the sequence: the element is NULL.\n");
    void *previous = mg_malloc(size);
    if (previous == nullptr)
        vaThrow(nullptr, -1, "Not enough memory to replace an item of %1$d bytes.\n",
                static_cast<int>(size));
    char *slot = static_cast<char *>(header->buffer) + size_t{index} * size;
    std::memcpy(previous, slot, size);
    std::memmove(slot, element, size);
    return previous;
}

int qel_generic_equal(TypeCode type, Env *env, const void *a, const void *b) {
    env_clear(env);
    if (a == b)
        return 1;
    int32_t error_a = ADR_OK;
    int32_t error_b = ADR_OK;
    BufferPtr first = encode(type, a, error_a);
    BufferPtr second = encode(type, b, error_b);
    if (error_a != ADR_OK || error_b != ADR_OK) {
        vaRaiseException(env, nullptr, -1, "Marshalling error (%1$d)",
                         error_a != ADR_OK ? error_a : error_b);
        return 0;
    }
    return first->length == second->length &&
                   (first->length == 0 ||
                    std::memcmp(first->data, second->data, first->length) == 0)
               ? 1
               : 0;
}
}
