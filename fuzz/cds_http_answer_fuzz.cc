// Fuzzes the CDS client's reading of an HTTP answer's head: the input is cut
// into lines as libcurl hands them over. Whatever comes, the reader keeps a
// consistent view: a status is 0 or a three-digit code, and a complete head
// has a final status.
#include <cstdint>
#include <string_view>

#include "cds/client/http_answer.hpp"
#include "fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);
    cdsclient::HttpAnswer answer;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const size_t length = end == std::string_view::npos ? text.size() : end + 1;
        answer.take_line(text.substr(0, length));
        text.remove_prefix(length);
        korvo::fuzz::check(answer.status() == 0 ||
                           (answer.status() >= 100 && answer.status() <= 999));
        korvo::fuzz::check(!answer.complete() || answer.status() >= 200);
        korvo::fuzz::check(!(answer.complete() && answer.malformed()));
    }
    return 0;
}
