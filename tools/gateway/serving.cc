// Serving a distribution's segments from the offsets a method handed over.
#include "tools/gateway/serving.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "records/korvo_command.h"
#include "runtime/gateway.h"
#include "tools/gateway/host_files.hpp"

namespace korvo::gateway {

Serving::Serving(std::vector<SegmentSource> segments, const Options &options)
    : segments_(std::move(segments)),
      packet_(options.packet),
      command_(options.command),
      commandAfter_(options.commandAfter) {}

Serving::~Serving() {
    close_file();
}

void Serving::close_file() {
    close_segment_file(fd_);
    fd_ = -1;
}

void Serving::begin(const std::vector<HandedSegment> &handed, PeerLink &link,
                    const Transcript &transcript) {
    if (handed.size() != segments_.size())
        throw std::runtime_error("the method's TOC has " + std::to_string(handed.size()) +
                                 " segments, the distribution " + std::to_string(segments_.size()));
    offsets_.clear();
    uint64_t total = 0, resumed = 0;
    for (std::size_t i = 0; i < handed.size(); ++i) {
        const SegmentSource &own = segments_[i];
        if (handed[i].id != own.id || handed[i].version != own.version)
            throw std::runtime_error("segment " + std::to_string(i + 1) +
                                     " of the method's TOC is " + handed[i].id + "^" +
                                     handed[i].version + ", not " + own.id + "^" + own.version);
        const int32_t offset = std::clamp(handed[i].offset, 0, own.size);
        offsets_.push_back(offset);
        total += static_cast<uint64_t>(own.size);
        resumed += static_cast<uint64_t>(offset);
    }
    transcript.line("TOC of %zu segments, %llu bytes, resuming at %llu", segments_.size(),
                    static_cast<unsigned long long>(total),
                    static_cast<unsigned long long>(resumed));
    // The stream the method left before its end gets its end first, so
    // that the method's channel can tell the two streams apart.
    if (stage_ == Stage::Sending) {
        link.queue(GATEWAY_KIND_END_OF_STREAM, nullptr, 0);
        transcript.line("end of the previous stream, %llu data bytes in %llu packets",
                        static_cast<unsigned long long>(sent_),
                        static_cast<unsigned long long>(packets_));
    }
    close_file();
    stage_ = Stage::Sending;
    index_ = 0;
    position_ = firstByte_ = offsets_.empty() ? 0 : offsets_[0];
}

void Serving::next_segment() {
    close_file();
    ++index_;
    position_ = firstByte_ = index_ < offsets_.size() ? offsets_[index_] : 0;
}

void Serving::produce(PeerLink &link, const Transcript &transcript) {
    if (stage_ != Stage::Sending)
        return;
    if (command_ != 0 && sent_ >= commandAfter_) {
        link.queue_stream(command_, 0, [](uint8_t *) { return true; });
        transcript.line("sent %s after %llu data bytes", decode_command(command_),
                        static_cast<unsigned long long>(sent_));
        // A command ends the stream as its last segment would.
        link.queue(GATEWAY_KIND_END_OF_STREAM, nullptr, 0);
        stage_ = Stage::Stopped;
        return;
    }
    // Complete segments are skipped without a word, as a file list skips them.
    while (index_ < segments_.size() && fd_ < 0 && position_ >= segments_[index_].size)
        next_segment();
    if (index_ >= segments_.size()) {
        link.queue(GATEWAY_KIND_END_OF_STREAM, nullptr, 0);
        transcript.line("end of stream, %llu data bytes in %llu packets",
                        static_cast<unsigned long long>(sent_),
                        static_cast<unsigned long long>(packets_));
        stage_ = Stage::Ended;
        return;
    }
    const SegmentSource &segment = segments_[index_];
    if (position_ >= segment.size) {
        // An empty stream packet ends the segment.
        link.queue(GATEWAY_KIND_STREAM, nullptr, 0);
        transcript.line("segment %s^%s: sent bytes %lld to %lld", segment.id.c_str(),
                        segment.version.c_str(), static_cast<long long>(firstByte_),
                        static_cast<long long>(position_));
        next_segment();
        return;
    }
    if (fd_ < 0) {
        std::string why;
        fd_ = open_segment_file(segment.location, &why);
        if (fd_ < 0)
            throw std::runtime_error(segment.location + ": " + why);
    }
    std::size_t length =
        std::min<std::size_t>(packet_, static_cast<std::size_t>(segment.size - position_));
    if (command_ != 0)
        length = std::min<std::size_t>(length, commandAfter_ - sent_);
    const int64_t at = position_;
    const bool read = link.queue_stream(KORVO_COMMAND_DATA, length, [&](uint8_t *data) {
        return read_segment_file(fd_, data, length, at);
    });
    if (!read)
        throw std::runtime_error(segment.location + ": shorter than its segment's size");
    position_ += static_cast<int64_t>(length);
    sent_ += length;
    ++packets_;
}

}  // namespace korvo::gateway
