// Fuzzes stream keys. The input is taken three ways:
//   - as a key of its own bytes, opened as a net stream: a stream opens
//     only for an accepted type; it keeps progress exactly when byte 2 is
//     1; its source directory and the id of its record are the key's text
//     after and before the first comma (the text ending within the key);
//     only the comma behind the id is changed in the key;
//   - split at its zero bytes into strings for file_stream_key_new: the key
//     holds exactly the documented bytes;
//   - that key opened as a file-list stream, whose id is the first string.
// Progress records are made (under a scratch work directory) but never
// saved.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/fuzz_scratch.hpp"
#include "properties/korvo_types.h"
#include "runtime/mg_memory.h"
#include "stream/net_stream.h"
#include "stream/stream_key.h"

namespace {

using korvo::fuzz::check;

// Closes a stream without saving its record (which the close would do). A
// sending stream cannot be closed (message 30) and is freed by hand.
void close_quietly(NetStream *stream) {
    if (stream->type == NET_STREAM_SEND) {
        mg_free(stream);
        return;
    }
    stream->keepsProgress = 0;
    net_stream_close(stream);
}

// Whether a CDS stream opens at all: only when the CDS client could be
// loaded, which depends on the host (found through PATH on Windows, where
// the test run has the client's folder on it), not on the key.
bool cds_streams_open() {
    static const bool opens = [] {
        uint8_t bytes[] = {NET_STREAM_CDS, 0, 0, 'd', 0};
        StreamKey key{sizeof bytes, sizeof bytes, bytes};
        NetStream *stream = net_stream_open(&key);
        if (stream != nullptr)
            close_quietly(stream);
        return stream != nullptr;
    }();
    return opens;
}

void open_raw(const uint8_t *data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    StreamKey key{static_cast<uint32_t>(size), static_cast<uint32_t>(size), bytes.data()};
    NetStream *stream = net_stream_open(&key);
    const int type = size > 0 ? data[0] : -1;
    const bool accepted =
        (type >= 2 && type <= 10 && type != 5) || (type == NET_STREAM_CDS && cds_streams_open());
    check((stream != nullptr) == accepted);
    if (stream == nullptr) {
        check(size == 0 || std::memcmp(bytes.data(), data, size) == 0);
        return;
    }
    const std::string full =
        size > 3 ? std::string(reinterpret_cast<const char *>(data) + 3,
                               strnlen(reinterpret_cast<const char *>(data) + 3, size - 3))
                 : std::string();
    const std::size_t comma = full.find(',');
    const bool progress = size > 2 && data[2] == 1 && type != NET_STREAM_SEND;
    check(stream->type == type && (stream->keepsProgress == 1) == progress);
    if (progress) {
        check(stream->progress != nullptr && stream->progress->distId == full.substr(0, comma));
    }
    if (progress && type != NET_STREAM_FILES && comma != std::string::npos) {
        check(stream->sourceDir != nullptr && stream->sourceDir == full.substr(comma + 1));
        bytes[3 + comma] = ',';  // the one byte the open changed
    } else {
        check(stream->sourceDir == nullptr);
    }
    check(size == 0 || std::memcmp(bytes.data(), data, size) == 0);
    if (type == NET_STREAM_FILES)
        check(stream->distId != nullptr && stream->distId == full.substr(0, comma));
    close_quietly(stream);
}

void make_key(const uint8_t *data, size_t size) {
    std::vector<std::string> strings;
    const char *text = reinterpret_cast<const char *>(data);
    for (size_t at = 0; at < size && strings.size() < 8;) {
        const size_t length = strnlen(text + at, size - at);
        strings.emplace_back(text + at, length);
        at += length + 1;
    }
    const char *s[8] = {};
    for (size_t i = 0; i < strings.size(); ++i)
        s[i] = strings[i].c_str();
    const bool keep = size > 0 && (data[0] & 1) != 0;
    StreamKey *key = file_stream_key_new(keep, static_cast<int32_t>(strings.size()), s[0], s[1],
                                         s[2], s[3], s[4], s[5], s[6], s[7]);
    check(key != nullptr);
    std::string expected{char(4), char(0), char(keep ? 1 : 2)};
    for (const std::string &string : strings)
        expected += string + ",";
    expected.back() = '\0';
    check(key->maximum == 0 && key->length == expected.size());
    check(std::memcmp(key->buffer, expected.data(), expected.size()) == 0 &&
          key->buffer[key->length] == 0);
    check(stream_key_get_data(key) == reinterpret_cast<char *>(key->buffer) + 3);
    NetStream *stream = net_stream_open(key);
    check(stream != nullptr && stream->type == NET_STREAM_FILES);
    if (!strings.empty())
        check(stream->distId == strings[0].substr(0, strings[0].find(',')));
    close_quietly(stream);
    stream_key_delete(key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A scratch work directory for the whole run, removed at its end.
    static const korvo::fuzz::RunScratch work("korvo-fuzz-keys-");
    static const bool ready = [] {
        korvo::fuzz::set_environment("KORVO_WORK_DIR", work.folder.c_str());
        return korvo_init() == 1;
    }();
    check(ready);
    open_raw(data, size);
    make_key(data, size);
    return 0;
}
