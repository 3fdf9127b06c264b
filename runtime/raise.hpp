// The C++ side of raising and catching: the runtime's exception class, the
// frame scope that releases delegated objects, and owning guards for blocks
// and values of the runtime's allocator.
//
//   try {
//       korvo::rt::Frame frame;                  // releases what is delegated
//       ...
//   } catch (const korvo::rt::Exception &e) {
//       if (!e.is_a(EH_ERROR_CHAIN ":Vem_Korvo2::ExKorvoException")) throw;
//       log(e.what(), e.number(), e.arguments());
//   }
#pragma once

#include <cstdint>
#include <exception>
#include <memory>

#include "runtime/generic.h"
#include "runtime/korvo_export.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.h"
#include "runtime/stypes.h"

namespace korvo::rt {

// A raised record with its type chain and type code. Copies share the
// record, which is freed (vem_free_generic with its type, then mg_free)
// when the last copy ends.
class KORVO_RUNTIME_EXPORT Exception : public std::exception {
  public:
    // Takes over `record` (an mg block, or NULL) raised under `type_chain`.
    Exception(const char *type_chain, void *record);
    Exception(const Exception &other) noexcept;
    Exception &operator=(const Exception &other) noexcept;
    ~Exception() override;

    // The display text: the record's default_msg with its members filled in
    // (for the runtime's records, the rendered message entries).
    const char *what() const noexcept override;
    const char *type_chain() const noexcept;
    // Whether the chain matches `chain_prefix` by whole names.
    bool is_a(const char *chain_prefix) const noexcept;
    // The record and its registered type code (NULL when unknown).
    void *record() const noexcept;
    TypeCode type() const noexcept;
    // The record as the runtime's error record, when its chain derives from
    // EH_ERROR_CHAIN and it has that record's members; else NULL.
    const ErrorRecord *error_record() const noexcept;
    // The first message entry and its parts (NULL / 0 when there is none).
    const MessageEntry *message() const noexcept;
    const char *catalog() const noexcept;
    int32_t number() const noexcept;
    const StringList *arguments() const noexcept;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// An exception frame: objects handed to ex_delegate while it is the
// innermost frame of its thread are destroyed when it ends (latest first),
// normally or by an exception. Frames opened inside it and not closed (by
// code that cannot use scopes) are closed with it.
class KORVO_RUNTIME_EXPORT Frame {
  public:
    Frame();
    ~Frame();
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;

  private:
    size_t level_;
};

// Releases a block of the runtime's allocator.
struct MgFree {
    void operator()(void *block) const noexcept { mg_free(block); }
};
template <typename T>
using MgPtr = std::unique_ptr<T, MgFree>;

// Frees what a value owns (vem_free_generic) when it ends, unless released.
class ValueGuard {
  public:
    ValueGuard(void *value, TypeCode type) noexcept : value_(value), type_(type) {}
    ~ValueGuard() {
        if (value_ != nullptr)
            vem_free_generic(value_, type_);
    }
    ValueGuard(const ValueGuard &) = delete;
    ValueGuard &operator=(const ValueGuard &) = delete;
    void release() noexcept { value_ = nullptr; }

  private:
    void *value_;
    TypeCode type_;
};

}  // namespace korvo::rt
