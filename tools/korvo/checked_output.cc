#include "checked_output.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "host_system.hpp"

namespace korvo::cli {

CheckedOutput::CheckedOutput(int fd) : fd_(fd), terminal_(host::is_terminal(fd)) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    previous_ = std::cout.rdbuf(this);
}

CheckedOutput::~CheckedOutput() {
    drain();
    std::cout.rdbuf(previous_);
}

void CheckedOutput::drain() {
    const char *next = pbase();
    const char *end = pptr();
    while (next < end && error_ == 0) {
        ssize_t written = ::write(fd_, next, static_cast<size_t>(end - next));
        if (written > 0)
            next += written;
        else if (written < 0 && errno != EINTR)
            error_ = errno;
    }
    setp(buffer_.data(), buffer_.data() + buffer_.size());
}

CheckedOutput::int_type CheckedOutput::overflow(int_type c) {
    drain();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        if (terminal_ && c == '\n')
            drain();
    }
    return traits_type::not_eof(c);
}

std::streamsize CheckedOutput::xsputn(const char *text, std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        if (pptr() == epptr())
            drain();
        std::streamsize room = epptr() - pptr();
        std::streamsize part = std::min(room, count - done);
        std::memcpy(pptr(), text + done, static_cast<size_t>(part));
        pbump(static_cast<int>(part));
        done += part;
    }
    if (terminal_ && std::memchr(text, '\n', static_cast<size_t>(count)) != nullptr)
        drain();
    return count;
}

int CheckedOutput::sync() {
    drain();
    return 0;
}

int CheckedOutput::finish() {
    drain();
    return error_;
}

}  // namespace korvo::cli
