// korvo C++ interface: exceptions. Every catalog message the library raises
// reaches C++ code as a korvo::Error (or one of the korvo exception types
// derived from it) that carries the message number, the catalog, the
// arguments and the type chain; catch it by type and read number().
//
//   try {
//       list.get_string("location");
//   } catch (const korvo::Error &e) {
//       if (e.number() == 36) ...            // no such key
//   }
//
// The C functions raise through the runtime's catch adapter: korvo::call runs
// a C call inside eh_catch_call and turns what it raised into these types,
// so no C++ exception of ours ever passes through the library's frames. The
// depot and the Kes layer do not raise; their failed KesStatus records
// become korvo::StatusError.
//
// Ownership: exceptions hold copies of everything they report.
// Threads: an exception object is used by the thread that caught it.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "kes/kes_status.h"
#include "properties/errors/korvo_exceptions.h"
#include "runtime/raise.h"

namespace korvo {

/// A raised catalog message: the library's own failures (a missing key, a
/// file that cannot be read ...) and every korvo exception type below.
class Error : public std::runtime_error {
  public:
    /// The parts of a raised message, as the catch adapter reports them.
    struct Details {
        std::string text;
        std::string catalog;
        int32_t number = 0;
        std::vector<std::string> arguments;
        std::string type_chain;
        int32_t defer_time = 0;
    };

    /// An exception reporting `details`.
    explicit Error(Details details)
        : std::runtime_error(details.text), details_(std::move(details)) {}

    /// The message number in its catalog (36: no such key ...); 0 for a
    /// format error, -1 for the runtime's own messages.
    int32_t number() const noexcept { return details_.number; }
    /// The catalog's name ("Korvo2Catalog"); empty for the runtime's messages.
    const std::string &catalog() const noexcept { return details_.catalog; }
    /// The message's arguments as text, in placeholder order.
    const std::vector<std::string> &arguments() const noexcept { return details_.arguments; }
    /// The type chain the message was raised under, most general type first.
    const std::string &type_chain() const noexcept { return details_.type_chain; }
    /// Whether the chain begins with the whole names of `chain_prefix`.
    bool is_a(std::string_view chain_prefix) const noexcept {
        return eh_chain_matches(details_.type_chain.c_str(), std::string(chain_prefix).c_str()) !=
               0;
    }

  protected:
    /// Everything the exception reports.
    const Details &details() const noexcept { return details_; }

  private:
    Details details_;
};

/// A korvo exception (KORVO_EXCEPTION_CHAIN), raised with vaMThrow or
/// vaMThrowChild; the types below derive from it as their chains do.
class ExKorvoException : public Error {
  public:
    using Error::Error;
};

#define KORVO_CXX_DECLARE_EXCEPTION_COMMON(name)  \
    class name : public ExKorvoException {        \
      public:                                     \
        using ExKorvoException::ExKorvoException; \
    };
/// A distribution the depot server asks to retry later (message 206).
#define KORVO_CXX_DECLARE_EXCEPTION_DEFERRED(name)                           \
    class name : public ExKorvoException {                                   \
      public:                                                                \
        using ExKorvoException::ExKorvoException;                            \
        /** Seconds after which the distribution may be tried again. */      \
        int32_t defer_time() const noexcept { return details().defer_time; } \
    };
#define KORVO_CXX_DECLARE_EXCEPTION(name, layout) KORVO_CXX_DECLARE_EXCEPTION_##layout(name)
KORVO_EXCEPTION_CHILDREN(KORVO_CXX_DECLARE_EXCEPTION)
#undef KORVO_CXX_DECLARE_EXCEPTION
#undef KORVO_CXX_DECLARE_EXCEPTION_COMMON
#undef KORVO_CXX_DECLARE_EXCEPTION_DEFERRED

/// A failed operation of the depot or the Kes layer: its KesStatus.
class StatusError : public std::runtime_error {
  public:
    /// The failure of `operation` with `status`.
    StatusError(std::string_view operation, const KesStatus &status)
        : std::runtime_error(std::string(operation) + " failed: code " +
                             std::to_string(status.code) + ", system error " +
                             std::to_string(status.osError) + ", step " +
                             std::to_string(status.step)),
          status_(status) {}
    /// The status record: code (KES_...), osError (errno), step.
    const KesStatus &status() const noexcept { return status_; }
    /// The status's code.
    int32_t code() const noexcept { return status_.code; }

  private:
    KesStatus status_;
};

namespace detail {

// Owns what eh_catch_call returned.
class Caught {
  public:
    explicit Caught(EhException *exception) noexcept : exception_(exception) {}
    ~Caught() { eh_exception_free(exception_); }
    Caught(const Caught &) = delete;
    Caught &operator=(const Caught &) = delete;
    EhException *get() const noexcept { return exception_; }

  private:
    EhException *exception_;
};

inline std::string text_or_empty(const char *text) {
    return text != nullptr ? text : "";
}

template <typename T>
[[noreturn]] void throw_as(Error::Details details) {
    throw T(std::move(details));
}

// Throws the C++ type of what a C call raised, most derived type first;
// frees `raised`.
[[noreturn]] inline void throw_translated(EhException *raised) {
    const Caught caught(raised);
    Error::Details details;
    details.text = text_or_empty(eh_exception_text(raised));
    details.catalog = text_or_empty(eh_exception_catalog(raised));
    details.number = eh_exception_number(raised);
    details.type_chain = text_or_empty(eh_exception_type_chain(raised));
    if (const StringList *arguments = eh_exception_arguments(raised);
        arguments != nullptr && arguments->buffer != nullptr)
        for (uint32_t i = 0; i < arguments->length; ++i)
            details.arguments.push_back(text_or_empty(arguments->buffer[i]));
#define KORVO_CXX_THROW_IF(name, layout)                                                   \
    if (eh_exception_is_a(raised, KORVO_EXCEPTION_CHILD_CHAIN(#name))) {                   \
        if (std::string_view(#name) == "ExDistributionDeferred" &&                         \
            eh_exception_record(raised) != nullptr)                                        \
            details.defer_time =                                                           \
                static_cast<const ::ExDistributionDeferred *>(eh_exception_record(raised)) \
                    ->defer_time;                                                          \
        throw_as<name>(std::move(details));                                                \
    }
    KORVO_EXCEPTION_CHILDREN(KORVO_CXX_THROW_IF)
#undef KORVO_CXX_THROW_IF
    if (eh_exception_is_a(raised, KORVO_EXCEPTION_CHAIN))
        throw_as<ExKorvoException>(std::move(details));
    throw_as<Error>(std::move(details));
}

template <typename Call>
struct CallContext {
    Call *call;
    std::conditional_t<std::is_void_v<std::invoke_result_t<Call &>>, bool,
                       std::invoke_result_t<Call &>>
        result{};
};

}  // namespace detail

/// Runs `c_call` (a callable that calls the library's C functions and
/// returns void or a trivially copyable value: a pointer, a number) inside
/// the runtime's catch adapter and returns its result. What it raises is
/// thrown as korvo::Error or the korvo exception type it was raised as;
/// std::bad_alloc when the adapter itself has no memory.
template <typename Call>
auto call(Call &&c_call) -> std::invoke_result_t<Call &> {
    using Result = std::invoke_result_t<Call &>;
    static_assert(std::is_void_v<Result> || std::is_trivially_copyable_v<Result>,
                  "korvo::call runs C calls: their results are plain values");
    using Bare = std::remove_reference_t<Call>;
    detail::CallContext<Bare> context{&c_call};
    EhException *raised = eh_catch_call(
        [](void *opaque) {
            auto *running = static_cast<detail::CallContext<Bare> *>(opaque);
            if constexpr (std::is_void_v<Result>)
                (*running->call)();
            else
                running->result = (*running->call)();
        },
        &context);
    if (raised != nullptr)
        detail::throw_translated(raised);
    if constexpr (!std::is_void_v<Result>)
        return context.result;
}

/// Throws StatusError for a KesStatus whose code is not 0.
inline void check(std::string_view operation, const KesStatus &status) {
    if (status.code != 0)
        throw StatusError(operation, status);
}

}  // namespace korvo
