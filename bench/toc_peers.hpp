// The peers of the property-list benchmarks: the same TOC (the lists of
// bench_toc.hpp) encoded and decoded with msgpack-c, as an array of maps of
// keys to strings, integers and byte strings, and with protobuf, as the
// messages of toc_peer.proto. Each encodes from its own in-memory form, as
// korvo encodes from its property lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "properties/korvo_properties.h"

namespace korvo::bench {

// msgpack-c: packs the property lists themselves, walking them as korvo's
// encoder does.
class MsgpackToc {
  public:
    explicit MsgpackToc(const PropertiesList &toc);
    // Packs the TOC into a new buffer; returns its size.
    size_t encode();
    // The bytes of the last encode.
    std::vector<uint8_t> bytes() const;
    // Unpacks `bytes` into a zone of objects and frees it; returns the
    // number of segments, so that the work cannot be dropped.
    static size_t decodeAndFree(const std::vector<uint8_t> &bytes);
    ~MsgpackToc();

  private:
    const PropertiesList &toc_;
    struct Buffer;
    std::unique_ptr<Buffer> buffer_;
};

// protobuf: the TOC built once as messages, then serialised; parsing builds
// the messages in an arena, as protobuf advises for speed, and frees them
// with it.
class ProtobufToc {
  public:
    explicit ProtobufToc(const PropertiesList &toc);
    ~ProtobufToc();
    size_t encode();
    std::vector<uint8_t> bytes() const;
    static size_t decodeAndFree(const std::vector<uint8_t> &bytes);

  private:
    struct Messages;
    std::unique_ptr<Messages> messages_;
};

}  // namespace korvo::bench
