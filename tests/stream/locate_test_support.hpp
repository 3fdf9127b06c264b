// Test support for locating segments: description files saved with the
// library's own property-file functions, a Toc view that frees itself, the
// located paths of a search, and a fixture whose environment (QEL_DATDIR,
// KORVO_MOUNT_TABLE, KORVO_CONFIG_FILE) is the test's own.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "records/korvo_toc.h"
#include "runtime/generic.h"
#include "stream/segment_search.h"
#include "tests/stream/stream_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace locate_test {

enum class Layout { Bare, Marked };  // "*.toc", "*.itc"

// Saves a description of segment `id`^`version` at `path`. An empty
// `location` leaves the key out.
inline void describe(const std::string &path, const std::string &id, const std::string &location,
                     Layout layout = Layout::Bare, const std::string &version = "1") {
    Properties segment{};
    properties_put_string_dup(&segment, "id", id.c_str());
    properties_put_string_dup(&segment, "version", version.c_str());
    if (!location.empty())
        properties_put_string_dup(&segment, "location", location.c_str());
    Properties file{};
    properties_put_properties_dup(&file, "segment", &segment);
    if (layout == Layout::Bare)
        properties_save_without_len(&file, path.c_str());
    else
        properties_save_improved(&file, path.c_str());
    properties_delete(&file);
    properties_delete(&segment);
}

// A segment `id` in `directory`: its description (bare layout) and `bytes`
// in its data file "<id>.dat".
inline void place(const std::string &directory, const std::string &id, const std::string &bytes) {
    describe(directory + "/" + id + ".toc", id, "/somewhere/else/" + id + ".dat");
    stream_test::write_file(directory + "/" + id + ".dat", bytes);
}

struct TocDelete {
    void operator()(Toc *toc) const { toc_delete(toc); }
};
// A Toc over a copy of the list.
using TocView = std::unique_ptr<Toc, TocDelete>;
inline TocView view_of(const PropertiesList &list) {
    return TocView(toc_new_from_properties(&list));
}

// The paths a search appended.
struct Paths : StringList {
    Paths() : StringList{} {}
    ~Paths() { vem_free_generic(this, TC_Vem_Types_StringList); }
    Paths(const Paths &) = delete;
    Paths &operator=(const Paths &) = delete;
    std::vector<std::string> all() const {
        return std::vector<std::string>(buffer, buffer + length);
    }
};

// Which segments of the view are marked: "ab" for the first two of three.
inline std::string marked(const Toc *toc) {
    std::string ids;
    for (int32_t i = 0; i < toc->count; ++i)
        if (toc->segments[i]->marked != 0)
            ids += toc->segments[i]->id;
    return ids;
}

// A string property of element i of a TOC list, "" when absent.
inline std::string text_of(const PropertiesList &list, uint32_t i, const char *key) {
    const char *value = properties_get_string2(&list.buffer[i], key, nullptr);
    return value != nullptr ? value : "";
}

// The file list a file-kind stream got from its modified-TOC step.
inline std::string file_list(const NetStream *stream) {
    const auto *state = static_cast<const FileStreamState *>(stream->source);
    return state != nullptr && state->text != nullptr ? state->text : "";
}

// The stream's bytes, segment ends shown as '|', until a read returns 0
// twice in a row or something negative. Only for streams that do not poll
// the gateway: the channel is set up once per process, so a test process
// that polled it would leave it absent for the tests that fork methods.
inline std::string read_all(NetStream *stream) {
    std::string read;
    for (int ends = 0; ends < 2;) {
        char *data = nullptr;
        const int32_t n = net_stream_read(stream, &data);
        if (n < 0)
            return read + "<" + std::to_string(n) + ">";
        ends = n == 0 ? ends + 1 : 0;
        read += n > 0 ? std::string(data, static_cast<std::size_t>(n)) : "|";
        net_stream_free_buffer(stream, data);
    }
    return read;
}

class LocateTest : public stream_test::StreamTest {
  protected:
    void SetUp() override {
        StreamTest::SetUp();
        for (const char *name : kVariables)
            korvo::test::setEnvironmentVariable(name, nullptr);
    }
    void TearDown() override {
        for (const char *name : kVariables)
            korvo::test::setEnvironmentVariable(name, nullptr);
        StreamTest::TearDown();
    }
    // A new directory in the scratch directory.
    std::string directory(const std::string &name) {
        const std::string path = scratch / name;
        std::filesystem::create_directories(path);
        return path;
    }
    // A mount table naming each directory as a file system of its type.
    void mount_table(const std::vector<std::pair<std::string, std::string>> &mounts) {
        const std::string path = scratch / "mounts";
        std::ofstream table(path);
        table << "proc /proc proc rw,nosuid 0 0\n";
        for (const auto &[point, type] : mounts) {
            std::string escaped;  // as the kernel writes a blank: "\040"
            for (char c : point)
                escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
            table << "/dev/sr0 " << escaped << " " << type << " ro,relatime 0 0\n";
        }
        korvo::test::setEnvironmentVariable("KORVO_MOUNT_TABLE", path.c_str());
    }
    // The endpoint's data directory with a "remote.dir" of these lines.
    void remote_dir(const std::string &lines) {
        const std::string data = directory("data");
        stream_test::write_file(data + "/remote.dir", lines);
        korvo::test::setEnvironmentVariable("QEL_DATDIR", data.c_str());
    }

    static constexpr const char *kVariables[] = {"QEL_DATDIR", "KORVO_MOUNT_TABLE",
                                                 "KORVO_CONFIG_FILE"};
};

}  // namespace locate_test
