// Serving one distribution to a method: from the offsets of the TOC it
// handed over, each incomplete segment's bytes in stream packets (code 1,
// then data), an empty packet at the end of each segment, and the end of
// the stream after the last; or, once the chosen number of data bytes went
// out, the chosen command instead of the rest, then the end of the stream.
// Every stream served ends with one end of stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/gateway/options.hpp"
#include "tools/gateway/peer_link.hpp"
#include "tools/gateway/toc_file.hpp"
#include "tools/gateway/transcript.hpp"

namespace korvo::gateway {

class Serving {
  public:
    Serving(std::vector<SegmentSource> segments, const Options &options);
    ~Serving();
    Serving(const Serving &) = delete;
    Serving &operator=(const Serving &) = delete;

    // The method handed over its TOC: serving starts (again) from its
    // offsets, after the end of the stream that was being served. Throws
    // std::runtime_error when it is not the TOC served.
    void begin(const std::vector<HandedSegment> &handed, PeerLink &link,
               const Transcript &transcript);
    bool active() const { return stage_ == Stage::Sending; }
    // Queues the next packet. Throws std::runtime_error when a source file
    // cannot be read.
    void produce(PeerLink &link, const Transcript &transcript);

    uint64_t sentBytes() const { return sent_; }
    uint64_t sentPackets() const { return packets_; }

  private:
    enum class Stage { Waiting, Sending, Stopped, Ended };

    void close_file();
    void next_segment();

    std::vector<SegmentSource> segments_;
    std::vector<int32_t> offsets_;
    std::size_t packet_;
    uint8_t command_;
    uint64_t commandAfter_;
    Stage stage_ = Stage::Waiting;
    std::size_t index_ = 0;
    int64_t position_ = 0;   // in the current segment
    int64_t firstByte_ = 0;  // where this run began in it
    int fd_ = -1;
    uint64_t sent_ = 0;  // data bytes sent on this connection
    uint64_t packets_ = 0;
};

}  // namespace korvo::gateway
