// Fuzzes the reading of a cached package's check record, a file of the CDS
// client's cache that other programs can change. Whatever comes, a record
// that reads well says the same once written again, and text above the
// record's limit is never read.
#include <cstdint>
#include <string_view>

#include "cds/client/check_record.hpp"
#include "fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto record = cdsclient::CheckRecord::decode(text);
    korvo::fuzz::check(!record || size <= cdsclient::CheckRecord::kMaxText);
    if (record) {
        const auto again = cdsclient::CheckRecord::decode(record->encode());
        korvo::fuzz::check(again && again->size == record->size && again->inode == record->inode &&
                           again->etag == record->etag &&
                           again->last_modified == record->last_modified &&
                           again->sha256 == record->sha256);
    }
    return 0;
}
