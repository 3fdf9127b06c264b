// korvo C++ interface: stream keys, net streams and what they read.
//
//   korvo::Stream stream = korvo::Stream::open(korvo::StreamKey::network("dist-7"));
//   stream.save_modified_toc(toc);
//   for (korvo::Chunk chunk = stream.read(); chunk; chunk = stream.read())
//       out.write(chunk.bytes().data(), chunk.bytes().size());
//
// Ownership: a Stream owns its NetStream and the key it was opened from
// (the stream may read the key for as long as it lives); it closes the
// stream when it ends (net_stream_close: the progress record is marked
// closed and saved). A Chunk owns one buffer that a read returned and
// frees it through its stream, which must outlive it.
// Failures of the sources raise catalog messages, thrown as korvo::Error.
// Threads: a stream and its chunks are used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvo/cxx/error.hpp"
#include "korvo/cxx/properties.hpp"
#include "korvo/cxx/toc.hpp"
#include "records/korvo_command.h"
#include "stream/korvo_stream_key_builder.h"
#include "stream/net_stream.h"
#include "stream/net_stream_write.h"
#include "stream/stream_key.h"

namespace korvo {

/// An owned stream key. Move-only.
class StreamKey {
  public:
    /// A key of `type` (NET_STREAM_...) for `dist_id`; `source` after a
    /// comma when not empty. std::invalid_argument for what
    /// korvo_stream_key_new refuses.
    static StreamKey of(int32_t type, std::string_view dist_id, bool keep_progress = true,
                        std::string_view source = {}) {
        const std::string id(dist_id), text(source);
        return StreamKey(korvo_stream_key_new(type, keep_progress ? 1 : 0, id.c_str(),
                                              source.empty() ? nullptr : text.c_str()));
    }
    /// A network stream's key (NET_STREAM_NETWORK), keeping progress.
    static StreamKey network(std::string_view dist_id, bool keep_progress = true) {
        return of(NET_STREAM_NETWORK, dist_id, keep_progress);
    }
    /// A file-list stream's key (NET_STREAM_FILES) reading `paths` in order.
    static StreamKey files(std::string_view dist_id, std::span<const std::string> paths,
                           bool keep_progress = true) {
        const std::string id(dist_id);
        std::vector<const char *> texts;
        texts.reserve(paths.size());
        for (const std::string &path : paths)
            texts.push_back(path.c_str());
        return StreamKey(korvo_stream_key_new_files(keep_progress ? 1 : 0, id.c_str(), texts.data(),
                                                    texts.size()));
    }

    /// Moves hand the key over; the moved-from owner holds none and may
    /// only be assigned to or destroyed. The destructor releases it.
    ///@{
    StreamKey(StreamKey &&other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    StreamKey &operator=(StreamKey &&other) noexcept {
        if (this != &other) {
            stream_key_delete(key_);
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    StreamKey(const StreamKey &) = delete;
    StreamKey &operator=(const StreamKey &) = delete;
    ~StreamKey() { stream_key_delete(key_); }
    ///@}

    /// The C key.
    ::StreamKey *get() const noexcept { return key_; }
    /// The key's bytes, its counted length.
    std::span<const uint8_t> bytes() const noexcept { return {key_->buffer, key_->length}; }

  private:
    explicit StreamKey(::StreamKey *key) : key_(key) {
        if (key_ == nullptr)
            throw std::invalid_argument(
                "korvo::StreamKey: no valid key for this type, id and source (an id holding a "
                "comma, an empty id or path, a type that opens no stream)");
    }
    ::StreamKey *key_;
};

/// What one read gave: data (a buffer the chunk owns), the end of a
/// segment, or a gateway command. True while it holds data.
class Chunk {
  public:
    /// What net_stream_read(stream, &data) returned as `result`; the
    /// chunk owns `data`.
    Chunk(NetStream *stream, int32_t result, char *data) noexcept
        : stream_(stream), result_(result), data_(data) {}
    /// Moves hand the buffer over; the moved-from owner holds none and may
    /// only be assigned to or destroyed. The destructor releases it.
    ///@{
    Chunk(Chunk &&other) noexcept
        : stream_(other.stream_),
          result_(std::exchange(other.result_, 0)),
          data_(std::exchange(other.data_, nullptr)) {}
    Chunk &operator=(Chunk &&other) noexcept {
        if (this != &other) {
            free();
            stream_ = other.stream_;
            result_ = std::exchange(other.result_, 0);
            data_ = std::exchange(other.data_, nullptr);
        }
        return *this;
    }
    Chunk(const Chunk &) = delete;
    Chunk &operator=(const Chunk &) = delete;
    ~Chunk() { free(); }
    ///@}

    /// Whether the chunk holds data.
    explicit operator bool() const noexcept { return result_ > 0; }
    /// The read's result: bytes read (> 0), 0 at the end of a segment or of
    /// the stream, -1 a failed gateway channel, -2 ... -5 a command.
    int32_t result() const noexcept { return result_; }
    /// The gateway's command ("CANCEL", "PAUSE", "EXPIRE", "ROAM") when the
    /// read ended with one, else empty.
    std::string_view command() const noexcept {
        if (result_ >= -1)
            return {};
        const char *name = decode_command(-result_);
        return name != nullptr ? std::string_view(name) : std::string_view();
    }
    /// The data, as bytes and as text; empty without data.
    ///@{
    std::span<const char> bytes() const noexcept {
        return {data_, result_ > 0 ? static_cast<std::size_t>(result_) : 0};
    }
    std::string_view text() const noexcept { return {bytes().data(), bytes().size()}; }
    ///@}

  private:
    void free() noexcept {
        if (data_ != nullptr)
            net_stream_free_buffer(stream_, data_);
        data_ = nullptr;
    }
    NetStream *stream_;
    int32_t result_;
    char *data_;
};

/// An open net stream with its key. Move-only.
class Stream {
  public:
    /// Opens a stream on `key`; std::runtime_error when the library opens
    /// none (a type it does not accept, a CDS client it cannot load).
    static Stream open(StreamKey key) {
        NetStream *stream = call([&] { return net_stream_open(key.get()); });
        if (stream == nullptr)
            throw std::runtime_error("korvo::Stream: the key opens no stream");
        return Stream(std::move(key), stream);
    }

    /// Moves hand the stream and its key over; the moved-from owner holds none and may
    /// only be assigned to or destroyed. The destructor releases it.
    ///@{
    Stream(Stream &&other) noexcept
        : key_(std::move(other.key_)), stream_(std::exchange(other.stream_, nullptr)) {}
    Stream &operator=(Stream &&other) noexcept {
        if (this != &other) {
            close_quietly();
            key_ = std::move(other.key_);
            stream_ = std::exchange(other.stream_, nullptr);
        }
        return *this;
    }
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;
    ~Stream() { close_quietly(); }
    ///@}

    /// The C stream.
    NetStream *get() const noexcept { return stream_; }

    /// Locates the TOC's segments ahead of the transfer (net_stream_get_size).
    void get_size(Toc &toc) {
        call([&] { net_stream_get_size(stream_, toc.get()); });
    }
    /// Gives the stream its copy of the TOC, offsets included, before the
    /// first read.
    void save_modified_toc(ListView toc) {
        call([&] { net_stream_save_modified_toc(stream_, toc.get()); });
    }
    /// The next piece of data, the end of a segment, or a command.
    Chunk read() {
        char *data = nullptr;
        const int32_t result = call([&] { return net_stream_read(stream_, &data); });
        return Chunk(stream_, result, data);
    }
    /// Records an error text in the progress record and saves it.
    void set_status(std::string_view text) {
        const std::string t(text);
        call([&] { net_stream_set_status(stream_, t.c_str()); });
    }
    /// Stores `value` under `key` in the progress record and saves it.
    void update_progress(std::string_view key, std::string_view value) {
        const std::string k(key), v(value);
        call([&] { net_stream_update_mstat(stream_, k.c_str(), v.c_str()); });
    }

    /// Sending up (net_stream_write.h): begin, write, end, or a whole file
    /// from `offset`. They return what the C calls return: 0 (write: the
    /// length), or the gateway's negative code; file errors are thrown.
    ///@{
    int32_t write_begin() {
        return call([&] { return net_stream_write_begin(stream_); });
    }
    int32_t write(std::span<const std::byte> data) {
        return call([&] {
            return net_stream_write(stream_, data.data(), static_cast<int32_t>(data.size()));
        });
    }
    int32_t write_end() {
        return call([&] { return net_stream_write_end(stream_); });
    }
    int32_t send_file(const std::string &path, int64_t offset = 0) {
        return call([&] { return net_stream_send_file(stream_, path.c_str(), offset); });
    }
    ///@}

    /// Closes the stream now; what the close raises is thrown (the stream
    /// is then given up, as net_stream_close leaves it).
    void close() {
        NetStream *stream = std::exchange(stream_, nullptr);
        if (stream != nullptr)
            call([&] { net_stream_close(stream); });
    }

  private:
    Stream(StreamKey key, NetStream *stream) noexcept : key_(std::move(key)), stream_(stream) {}
    // A destructor must not throw: a failed close is dropped.
    void close_quietly() noexcept {
        NetStream *stream = std::exchange(stream_, nullptr);
        if (stream != nullptr)
            eh_exception_free(eh_catch_call(
                [](void *opened) { net_stream_close(static_cast<NetStream *>(opened)); }, stream));
    }
    StreamKey key_;
    NetStream *stream_;
};

}  // namespace korvo
