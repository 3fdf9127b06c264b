// Deep free, deep copy, equality and structure creation by walking type
// codes. Copies write into zeroed storage and keep it consistent at every
// step (each pointer NULL or owned), so that a failed copy is undone by
// freeing what it built.
#include "runtime/generic.h"

#include <cstdarg>
#include <cstring>
#include <new>
#include <vector>

#include "runtime/env.h"
#include "runtime/mg_memory.h"
#include "runtime/mg_pool.hpp"
#include "runtime/stypes.h"
#include "runtime/tc_walk.hpp"

namespace korvo::rt {
namespace {

void free_value(void *value, TypeCode tc);

// Frees an any's value cell and what it holds.
void free_any(Any &any) {
    if (any.value == nullptr)
        return;
    if (TypeCode type = prepared(any.type))
        free_value(any.value, type);
    mg_free(any.value);
}

// Frees the keys and values of a list of pairs and its buffer: the usual
// kinds of values (numbers, strings) directly, and the blocks through a
// releaser, which counts the carved blocks of a decoded list in the caller's
// loop instead of in thread-local storage.
[[gnu::always_inline]] inline void free_pairs(Sequence &pairs, pool::Releaser &blocks) {
    auto *pair = static_cast<KeyValue *>(pairs.buffer);
    for (uint32_t i = 0; pair != nullptr && i < pairs.length; ++i) {
        blocks.release(pair[i].key);
        Any &any = pair[i].value;
        if (any.value == nullptr)
            continue;
        // The runtime's own codes of the usual kinds need no preparing.
        if (any.type == TC_string) {
            blocks.release(string_at(any.value));
        } else if (any.type == TC_Vem_Types_OctetList) {
            blocks.release(sequence_at(any.value).buffer);
        } else if (any.type != TC_long && any.type != TC_ulong) {
            if (TypeCode type = prepared(any.type)) {
                switch (type->kind) {
                    case tk_string:
                    case tk_objref:
                        blocks.release(string_at(any.value));
                        break;
                    case tk_short:
                    case tk_long:
                    case tk_ulong:
                    case tk_boolean:
                    case tk_octet:
                        break;
                    default:
                        blocks.suspend();
                        free_value(any.value, type);
                        blocks.resume();
                }
            }
        }
        blocks.release(any.value);
    }
    blocks.release(pairs.buffer);
}

// Whether a sequence's elements are pairs (a property list), or are lists of
// pairs (a list of property lists, such as a TOC).
bool holds_pairs(TypeCode element) {
    return is_key_value_shape(element);
}
bool holds_pair_lists(TypeCode element) {
    if (element->kind != tk_sequence)
        return false;
    TypeCode inner = prepared(element_type(element));
    return inner != nullptr && is_key_value_shape(inner);
}

void free_value(void *value, TypeCode tc) {
    switch (tc->kind) {
        case tk_string:
        case tk_objref:
            mg_free(string_at(value));
            break;
        case tk_any:
            free_any(*static_cast<Any *>(value));
            break;
        case tk_sequence: {
            auto &seq = sequence_at(value);
            TypeCode element = prepared(element_type(tc));
            if (element != nullptr && seq.buffer != nullptr) {
                const bool owns = element->kind != tk_octet && element->kind != tk_boolean &&
                                  element->kind != tk_short && element->kind != tk_long &&
                                  element->kind != tk_ulong;
                if (owns && holds_pairs(element)) {
                    pool::Releaser blocks;
                    free_pairs(seq, blocks);
                    return;
                }
                if (owns && holds_pair_lists(element)) {
                    pool::Releaser blocks;
                    auto *lists = static_cast<Sequence *>(seq.buffer);
                    for (uint32_t i = 0; i < seq.length; ++i)
                        free_pairs(lists[i], blocks);
                    blocks.release(seq.buffer);
                    return;
                }
                if (owns) {
                    auto *bytes = static_cast<char *>(seq.buffer);
                    for (uint32_t i = 0; i < seq.length; ++i)
                        free_value(bytes + size_t{i} * element->size, element);
                }
            }
            mg_free(seq.buffer);
            break;
        }
        case tk_struct:
        case tk_except:
            for_each_member(tc, [&](uint32_t, TypeCode member, size_t offset) {
                free_value(byte_offset(value, offset), member);
                return true;
            });
            break;
        default:
            break;
    }
}

enum class Failure { none, no_memory, bad_type };

bool is_plain(TypeCode tc) {
    switch (tc->kind) {
        case tk_short:
        case tk_long:
        case tk_ulong:
        case tk_boolean:
        case tk_octet:
            return true;
        default:
            return false;
    }
}

// Copies into zeroed storage at `target`.
bool copy_value(const void *source, void *target, TypeCode tc, Failure &failure) {
    switch (tc->kind) {
        case tk_string:
        case tk_objref: {
            const char *text = string_at(source);
            if (text == nullptr)
                return true;
            string_at(target) = mg_strdup(text);
            if (string_at(target) != nullptr)
                return true;
            failure = Failure::no_memory;
            return false;
        }
        case tk_any: {
            const auto &from = *static_cast<const Any *>(source);
            auto &to = *static_cast<Any *>(target);
            to.type = from.type;
            if (from.type == nullptr || from.value == nullptr)
                return true;
            TypeCode type = prepared(from.type);
            if (type == nullptr) {
                failure = Failure::bad_type;
                return false;
            }
            to.value = mg_calloc(1, type->size);
            if (to.value == nullptr) {
                failure = Failure::no_memory;
                return false;
            }
            return copy_value(from.value, to.value, type, failure);
        }
        case tk_sequence: {
            const auto &from = sequence_at(source);
            auto &to = sequence_at(target);
            TypeCode element = prepared(element_type(tc));
            if (element == nullptr) {
                failure = Failure::bad_type;
                return false;
            }
            if (from.length == 0)
                return true;
            if (from.buffer == nullptr) {
                failure = Failure::bad_type;
                return false;
            }
            void *buffer = mg_calloc(from.length, element->size);
            if (buffer == nullptr) {
                failure = Failure::no_memory;
                return false;
            }
            to = Sequence{from.length, from.length, buffer};
            if (is_plain(element)) {
                std::memcpy(buffer, from.buffer, size_t{from.length} * element->size);
                return true;
            }
            for (uint32_t i = 0; i < from.length; ++i) {
                const size_t offset = size_t{i} * element->size;
                if (!copy_value(byte_offset(from.buffer, offset), byte_offset(buffer, offset),
                                element, failure))
                    return false;
            }
            return true;
        }
        case tk_struct:
        case tk_except: {
            bool copied = true;
            const bool walked = for_each_member(tc, [&](uint32_t, TypeCode member, size_t offset) {
                copied = copy_value(byte_offset(source, offset), byte_offset(target, offset),
                                    member, failure);
                return copied;
            });
            if (!walked && copied)
                failure = Failure::bad_type;
            return walked && copied;
        }
        default:
            std::memcpy(target, source, tc->size);
            return true;
    }
}

bool texts_equal(const char *a, const char *b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    return std::strcmp(a, b) == 0;
}

bool equal_value(const void *a, const void *b, TypeCode tc, bool &bad_type) {
    if (a == b)
        return true;
    switch (tc->kind) {
        case tk_string:
        case tk_objref:
            return texts_equal(string_at(a), string_at(b));
        case tk_boolean:
            return (*static_cast<const uint8_t *>(a) != 0) ==
                   (*static_cast<const uint8_t *>(b) != 0);
        case tk_any: {
            const auto &x = *static_cast<const Any *>(a);
            const auto &y = *static_cast<const Any *>(b);
            if (x.type == nullptr || y.type == nullptr)
                return x.type == y.type;
            if (!TypeCode_equal(x.type, nullptr, y.type))
                return false;
            if (x.value == nullptr || y.value == nullptr)
                return x.value == y.value;
            TypeCode type = prepared(x.type);
            if (type == nullptr) {
                bad_type = true;
                return false;
            }
            return equal_value(x.value, y.value, type, bad_type);
        }
        case tk_sequence: {
            const auto &x = sequence_at(a);
            const auto &y = sequence_at(b);
            if (x.length != y.length)
                return false;
            if (x.length == 0)
                return true;
            TypeCode element = prepared(element_type(tc));
            if (element == nullptr || x.buffer == nullptr || y.buffer == nullptr) {
                bad_type = element == nullptr;
                return x.buffer == y.buffer && element != nullptr;
            }
            if (is_plain(element) && element->kind != tk_boolean)
                return std::memcmp(x.buffer, y.buffer, size_t{x.length} * element->size) == 0;
            for (uint32_t i = 0; i < x.length; ++i) {
                const size_t offset = size_t{i} * element->size;
                if (!equal_value(byte_offset(x.buffer, offset), byte_offset(y.buffer, offset),
                                 element, bad_type))
                    return false;
            }
            return true;
        }
        case tk_struct:
        case tk_except: {
            bool equal = true;
            const bool walked = for_each_member(tc, [&](uint32_t, TypeCode member, size_t offset) {
                equal =
                    equal_value(byte_offset(a, offset), byte_offset(b, offset), member, bad_type);
                return equal;
            });
            if (!walked && equal)
                bad_type = true;
            return walked && equal;
        }
        default:
            return std::memcmp(a, b, tc->size) == 0;
    }
}

void reset(Env *env) {
    if (env != nullptr)
        *env = Env{0, 0, nullptr};
}

void record_bad_type(Env *env, TypeCode tc) {
    vaRaiseException(env, nullptr, -1, "The type code %1$s is malformed or not supported.\n",
                     tc != nullptr && tc->name != nullptr ? tc->name : "(null)");
}

void record_failure(Env *env, TypeCode tc, Failure failure) {
    if (failure == Failure::no_memory)
        vaRaiseException(env, nullptr, -1, "Not enough memory to copy a value of type %1$s.\n",
                         tc->name != nullptr ? tc->name : "(null)");
    else
        record_bad_type(env, tc);
}

}  // namespace
}  // namespace korvo::rt

using namespace korvo::rt;

extern "C" {

void vem_free_generic(void *value, TypeCode type) {
    if (value == nullptr)
        return;
    TypeCode tc = prepared(type);
    if (tc == nullptr)
        return;
    free_value(value, tc);
    std::memset(value, 0, tc->size);
}

int _t_generic_copy(TypeCode type, Env *env, const void *source, void *target) {
    reset(env);
    TypeCode tc = prepared(type);
    if (tc == nullptr || source == nullptr || target == nullptr) {
        if (tc != nullptr && target != nullptr)
            std::memset(target, 0, tc->size);
        record_bad_type(env, type);
        return 0;
    }
    if (source == target)
        return 1;
    std::memset(target, 0, tc->size);
    Failure failure = Failure::none;
    if (copy_value(source, target, tc, failure))
        return 1;
    vem_free_generic(target, tc);
    record_failure(env, tc, failure);
    return 0;
}

void *_generic_copy(TypeCode type, const void *value, Env *env) {
    reset(env);
    TypeCode tc = prepared(type);
    if (tc == nullptr || value == nullptr) {
        record_bad_type(env, type);
        return nullptr;
    }
    void *block = mg_malloc(tc->size);
    if (block == nullptr) {
        record_failure(env, tc, Failure::no_memory);
        return nullptr;
    }
    if (_t_generic_copy(tc, env, value, block))
        return block;
    mg_free(block);
    return nullptr;
}

int _t_generic_equal(TypeCode type, Env *env, const void *a, const void *b) {
    reset(env);
    if (a == b)
        return 1;
    TypeCode tc = prepared(type);
    if (tc == nullptr || a == nullptr || b == nullptr) {
        if (tc == nullptr)
            record_bad_type(env, type);
        return 0;
    }
    bool bad_type = false;
    const bool equal = equal_value(a, b, tc, bad_type);
    if (bad_type) {
        record_bad_type(env, tc);
        return 0;
    }
    return equal ? 1 : 0;
}

int _generic_equal(TypeCode type, const void *a, const void *b, Env *env) {
    return _t_generic_equal(type, env, a, b);
}

void *generic_create(TypeCode type, ...) {
    TypeCode tc = prepared(type);
    if (tc == nullptr || !is_struct_kind(tc->kind))
        return nullptr;
    std::vector<const void *> sources;
    va_list arguments;
    va_start(arguments, type);
    try {
        for (uint32_t i = 0; i < member_count(tc); ++i) {
            const void *source = va_arg(arguments, const void *);
            if (source == nullptr)
                break;
            sources.push_back(source);
        }
    } catch (const std::bad_alloc &) {
        va_end(arguments);
        return nullptr;
    }
    va_end(arguments);
    void *block = mg_calloc(1, tc->size);
    if (block == nullptr)
        return nullptr;
    Failure failure = Failure::none;
    const bool built = for_each_member(tc, [&](uint32_t i, TypeCode member, size_t offset) {
        if (i >= sources.size())
            return true;
        return copy_value(sources[i], byte_offset(block, offset), member, failure);
    });
    if (built)
        return block;
    vem_free_generic(block, tc);
    mg_free(block);
    return nullptr;
}
}
