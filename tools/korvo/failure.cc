#include "failure.hpp"

#include <string>

namespace korvo::cli {
namespace {

std::string describe(EhException *caught) {
    const char *text = eh_exception_text(caught);
    std::string message = text != nullptr ? text : "the library failed";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    int number = eh_exception_number(caught);
    if (number > 0)
        message += " (message " + std::to_string(number) + ")";
    return message;
}

}  // namespace

LibraryFailure::LibraryFailure(EhException *caught)
    : Failure(kExitFailed, describe(caught)), number_(eh_exception_number(caught)) {
    eh_exception_free(caught);
}

}  // namespace korvo::cli
