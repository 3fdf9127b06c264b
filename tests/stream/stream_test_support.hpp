// Test support for the stream tests: a fixture with a scratch work
// directory, TOCs built from segment descriptions, owned streams and keys,
// and the progress file read back as text.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/mg_memory.h"
#include "stream/file_stream.h"
#include "stream/net_stream.h"
#include "stream/stream_key.h"
#include "tests/kes/kes_scratch.hpp"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace stream_test {

struct SegmentEntry {
    SegmentEntry(std::string id, int32_t size, int32_t offset = 0, std::string dataPath = {},
                 std::string datFile = {})
        : id(std::move(id)),
          size(size),
          offset(offset),
          dataPath(std::move(dataPath)),
          datFile(std::move(datFile)) {}
    std::string id;
    int32_t size;
    int32_t offset;
    std::string dataPath;  // "data_path"; empty: none
    std::string datFile;   // "dat_file"; empty: none
};

// A TOC (PropertiesList) that frees itself.
struct Toc : PropertiesList {
    explicit Toc(const std::vector<SegmentEntry> &segments) : PropertiesList{} {
        for (const SegmentEntry &entry : segments) {
            Properties segment{};
            properties_put_string_dup(&segment, "id", entry.id.c_str());
            properties_put_string_dup(&segment, "version", "1");
            properties_put_long_dup(&segment, "size", entry.size);
            properties_put_long_dup(&segment, "offset", entry.offset);
            if (!entry.dataPath.empty())
                properties_put_string_dup(&segment, "data_path", entry.dataPath.c_str());
            if (!entry.datFile.empty())
                properties_put_string_dup(&segment, "dat_file", entry.datFile.c_str());
            seq_add(this, &segment, sizeof segment);
        }
    }
    ~Toc() { properties_list_delete(this); }
    Toc(const Toc &) = delete;
    Toc &operator=(const Toc &) = delete;
};

struct StreamClose {
    void operator()(NetStream *stream) const { net_stream_close(stream); }
};
using Stream = std::unique_ptr<NetStream, StreamClose>;

struct KeyDelete {
    void operator()(StreamKey *key) const { stream_key_delete(key); }
};
using Key = std::unique_ptr<StreamKey, KeyDelete>;

// A key of any type over a text, kept alive by the vector.
struct RawKey {
    std::vector<uint8_t> bytes;
    StreamKey key;
    RawKey(uint8_t type, uint8_t progress, const std::string &text)
        : bytes(3 + text.size() + 1, 0), key{} {
        bytes[0] = type;
        bytes[2] = progress;
        std::copy(text.begin(), text.end(), bytes.begin() + 3);
        key = StreamKey{static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size()),
                        bytes.data()};
    }
    std::string text() const { return reinterpret_cast<const char *>(bytes.data() + 3); }
};

// What a method child reads through: the library registered (in a child,
// its first registration), a stream of `type` over the key text `id` with
// the progress flag `progress`, and its modified TOC saved from `segments`.
// The key and the TOC outlive the stream.
struct MethodStream {
    MethodStream(const std::string &id, const std::vector<SegmentEntry> &segments,
                 uint8_t type = NET_STREAM_NETWORK, uint8_t progress = 1)
        : registered(korvo_init() == 1),
          key(type, progress, id),
          toc(segments),
          stream(net_stream_open(&key.key)) {
        if (stream)
            net_stream_save_modified_toc(stream.get(), &toc);
    }
    // Whether the library was registered here and the stream opened.
    bool ready() const { return registered && stream != nullptr; }
    NetStream *get() const { return stream.get(); }
    NetStream *operator->() const { return stream.get(); }

    bool registered;
    RawKey key;
    Toc toc;
    Stream stream;
};

// The progress file of `id` as text: strings as they are, booleans as
// "true"/"false"; empty when there is no file.
inline std::map<std::string, std::string> progress_of(const std::string &workDir,
                                                      const std::string &id) {
    std::map<std::string, std::string> values;
    const std::string path = workDir + "/mstat/" + id + ".mds";
    if (!std::filesystem::exists(path))
        return values;
    Properties list{};
    properties_load_without_len(&list, path.c_str());
    for (uint32_t i = 0; i < list.length; ++i) {
        const Property &p = list.buffer[i];
        if (p.value.type == TC_boolean)
            values[p.key] = *static_cast<const uint8_t *>(p.value.value) != 0 ? "true" : "false";
        else if (p.value.type == TC_string)
            values[p.key] = *static_cast<char *const *>(p.value.value);
    }
    properties_delete(&list);
    return values;
}

inline std::string contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// `size` bytes that differ from file to file (seeded by `seed`).
inline std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char &c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

// Makes what the process keeps for good, so that a fixture that counts
// handles counts only a test's own: the registration's first run, the
// per-thread trace stack of the first SCOPED_TRACE, and the directory of
// named objects the first named shared memory opens (handles on Windows).
inline void make_what_the_process_keeps() {
    ASSERT_EQ(korvo_init(), 1);
    { SCOPED_TRACE("made before the count"); }
    { korvo::test::Shared<int> named; }
}

class StreamTest : public kes_test::NoDescriptorLeak {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(make_what_the_process_keeps());
        NoDescriptorLeak::SetUp();
        work = scratch / "work";
        std::filesystem::create_directory(work);
        korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", work.c_str());
    }
    void TearDown() override {
        korvo::test::setEnvironmentVariable("KORVO_WORK_DIR", nullptr);
        NoDescriptorLeak::TearDown();
    }
    std::map<std::string, std::string> progress(const std::string &id) const {
        return progress_of(work, id);
    }
    // A type-4 stream over `names` for the distribution "d", with the
    // progress record kept or not.
    Stream open(const std::vector<std::string> &names, bool progress) {
        std::string text = "d";
        for (const std::string &name : names)
            text += "," + name;
        RawKey key(NET_STREAM_FILES, progress ? 1 : 2, text);
        Stream stream(net_stream_open(&key.key));
        EXPECT_EQ(key.text(), text);  // the key is left as it was
        return stream;
    }
    // The same with the modified TOC `toc` saved.
    Stream open(const std::vector<std::string> &names, bool progress, const PropertiesList &toc) {
        Stream stream = open(names, progress);
        net_stream_save_modified_toc(stream.get(), &toc);
        return stream;
    }
    // A scratch file of `size` bytes of pattern(size, seed); its path.
    std::string file(const std::string &name, std::size_t size, unsigned seed) {
        const std::string path = scratch / name;
        write_file(path, pattern(size, seed));
        return path;
    }

    kes_test::ScratchDir scratch;
    std::string work;
};

}  // namespace stream_test
