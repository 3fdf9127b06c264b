// The pieces every way of locating segments uses, and the searches by
// stream type.

#include <cerrno>
#include <climits>

#include "kes/host_file.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "properties/korvo_properties.h"
#include "runtime/log.h"
#include "runtime/mg_memory.h"
#include "runtime/raise.hpp"
#include "runtime/seq.h"
#include "stream/locating.hpp"
#include "stream/stream_internal.hpp"

namespace korvo::stream {

namespace {

[[noreturn]] void out_of_memory(const char *what) {
    vaThrow(nullptr, -1, "Not enough memory for a %1$s.\n", what);
}

// The directory a directory stream searches: the text after the key's first
// comma. A stream that keeps progress cut it off at open (`sourceDir`);
// without progress the key still holds it, as long as it is the source.
std::string directory_of(NetStream *stream) {
    if (stream->sourceDir != nullptr)
        return stream->sourceDir;
    const StreamKey *key = key_of(stream);
    if (key == nullptr)
        return {};
    const std::string_view text = key_text(key);
    const std::size_t comma = text.find(',');
    return comma == std::string_view::npos ? std::string() : std::string(text.substr(comma + 1));
}

}  // namespace

void FoundPaths::add(const std::string &path) {
    if (vector_ != nullptr)
        vector_->push_back(path);
    if (strings_ == nullptr)
        return;
    korvo::rt::MgPtr<char> copy(mg_strdup(path.c_str()));
    char *element = copy.get();
    if (element == nullptr || seq_add(strings_, &element, sizeof element) < 0)
        out_of_memory("located path");
    copy.release();
}

SegmentIndex::SegmentIndex(const Toc *toc) {
    segments_.reserve(static_cast<std::size_t>(toc->count));
    for (int32_t i = 0; i < toc->count; ++i) {
        Segment *segment = toc->segments[i];
        if (segment->marked == 0)
            segments_[key(segment->id, segment->version)].push_back(segment);
    }
}

std::string SegmentIndex::key(const char *id, const char *version) {
    // A NUL cannot occur in either text, so it separates them unambiguously.
    std::string text(id);
    text += '\0';
    text += version;
    return text;
}

const std::vector<Segment *> *SegmentIndex::find(const char *id, const char *version) const {
    const auto found = segments_.find(key(id, version));
    return found != segments_.end() ? &found->second : nullptr;
}

void mark_located(Toc *toc, Segment *segment, const std::string &path, int32_t size) {
    properties_put_string_dup(segment->properties, "data_path", path.c_str());
    properties_put_string_dup(segment->properties, "dat_file", path.c_str());
    properties_put_long_dup(segment->properties, "size", size);
    segment->marked = 1;
    ++toc->marked_count;
}

int32_t data_file_size(const std::string &path) {
    korvo::host::FileInfo status;
    if (!korvo::host::StatPath(path.c_str(), &status) ||
        status.kind != korvo::host::FileKind::kRegular)
        return -1;
    if (status.size > INT32_MAX)
        korvo::helpers::raise_message(KORVO_MSG_FILE_STAT_FAILED, path.c_str());
    return static_cast<int32_t>(status.size);
}

korvo::kes::UniqueFd open_regular_file(const std::string &path) {
    using namespace korvo::host;
    korvo::kes::UniqueFd fd(OpenFile(path.c_str(), kOpenRead | kOpenNonBlock));
    FileInfo status;
    if (fd && StatFile(fd.get(), &status) && status.kind != FileKind::kRegular) {
        fd.reset();
        errno = status.kind == FileKind::kDirectory ? EISDIR : ENXIO;
    }
    return fd;
}

void search_sources(NetStream *stream, Toc *toc, FoundPaths &paths) {
    const int32_t type = stream->type;
    const SegmentIndex index(toc);
    if ((type == NET_STREAM_REMOTE || type == NET_STREAM_REMOTE_CD) && !all_marked(toc))
        search_remote_directories(toc, index, paths);
    if (type == NET_STREAM_CD || (type == NET_STREAM_REMOTE_CD && !all_marked(toc)))
        search_cd_drives(toc, index, paths);
    if (type == NET_STREAM_DIRECTORY) {
        const std::string directory = directory_of(stream);
        if (directory.empty())
            LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1,
                   "korvo: The directory stream's key names no directory to search");
        else
            search_directory(toc, directory.c_str(), index, paths);
    }
}

[[noreturn]] void raise_first_unmarked(const Toc *toc) {
    for (int32_t i = 0; i < toc->count; ++i)
        if (toc->segments[i]->marked == 0)
            korvo::helpers::raise_message(KORVO_MSG_SEGMENT_NOT_FOUND, toc->segments[i]->id,
                                          toc->segments[i]->version);
    korvo::helpers::raise_message(KORVO_MSG_SEGMENT_NOT_FOUND, "", "");
}

}  // namespace korvo::stream
