// What a method sends up: a method status opens an upload, each data chunk
// is stored and answered, the end of transfer closes it. Every status and
// chunk gets a reply: the granted chunk size, or the chosen refusal code at
// the chosen chunk (0: the status itself). Uploads are numbered from 1 and
// kept as DIR/upload-<n> when a directory was given. When an upload ends,
// the transcript gives its bytes and the sizes of its chunks in order,
// and says so when it ended without its end of transfer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tools/gateway/options.hpp"
#include "tools/gateway/peer_link.hpp"
#include "tools/gateway/transcript.hpp"

namespace korvo::gateway {

class Uploads {
  public:
    explicit Uploads(const Options &options);
    ~Uploads();
    Uploads(const Uploads &) = delete;
    Uploads &operator=(const Uploads &) = delete;

    void on_status(PeerLink &link, const Transcript &transcript);
    void on_data(PeerLink &link, const Message &message, const Transcript &transcript);
    // The end of transfer arrived.
    void on_end(const Transcript &transcript);
    // The channel closed: an upload still open ends without its end.
    void on_close(const Transcript &transcript);

  private:
    void open_next(const Transcript &transcript);
    void finish(const Transcript &transcript, bool ended);
    void reply(PeerLink &link, int32_t kind, int32_t value);
    // The answer to packet `index` of the upload (0 its status).
    int32_t answer(int32_t index) const;
    // The chunk sizes in order, runs of one size counted: "16384 x 2, 7232".
    std::string chunk_sizes() const;

    int32_t grant_;
    int32_t refuseCode_;
    int32_t refuseAt_;
    std::string dir_;
    int32_t number_ = 0;  // uploads begun
    bool open_ = false;   // one is in progress
    int32_t chunks_ = 0;
    uint64_t bytes_ = 0;
    std::vector<std::pair<std::size_t, int32_t>> runs_;  // chunk size, how many in a row
    std::FILE *file_ = nullptr;
    std::string path_;
};

}  // namespace korvo::gateway
