// How the korvo command reports failures: a Failure carries the text the
// user sees and the exit code; library_call runs library code that raises
// catalog messages and turns what it raised into a Failure.
//
// Threads: library_call may run on any thread; the raise it catches is that
// thread's own.
#pragma once

#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "exit_codes.hpp"
#include "runtime/raise.h"

namespace korvo::cli {

class Failure : public std::runtime_error {
  public:
    Failure(ExitCode code, const std::string &text) : std::runtime_error(text), code_(code) {}
    ExitCode code() const { return code_; }

  private:
    ExitCode code_;
};

// A catalog message raised by the library; its text is the rendered message.
class LibraryFailure : public Failure {
  public:
    explicit LibraryFailure(EhException *caught);
    // The same message after "<subject>: " (the file it is about).
    LibraryFailure(const std::string &subject, const LibraryFailure &failure)
        : Failure(failure.code(), subject + ": " + failure.what()), number_(failure.number_) {}
    int number() const { return number_; }

  private:
    int number_;
};

// Runs `work` inside the runtime's catch adapter: a raise inside it becomes
// a LibraryFailure. `work` must not throw exceptions of its own (the adapter
// would turn them into runtime errors).
template <class Work>
void library_call(Work &&work) {
    using Callable = std::remove_reference_t<Work>;
    EhException *caught =
        eh_catch_call([](void *context) { (*static_cast<Callable *>(context))(); }, &work);
    if (caught != nullptr)
        throw LibraryFailure(caught);
}

// library_call for work on one file: the message names it ("cannot read
// the TOC file 'x.toc': Failed to decode data ..."), since the library's
// message does not always.
template <class Work>
void library_call_about(const std::string &subject, Work &&work) {
    try {
        library_call(std::forward<Work>(work));
    } catch (const LibraryFailure &failure) {
        throw LibraryFailure(subject, failure);
    }
}

}  // namespace korvo::cli
