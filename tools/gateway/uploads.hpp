// What a method sends up: a method status opens an upload, each data chunk
// is stored and answered, the end of transfer closes it. Every status and
// chunk gets a reply: the granted chunk size, or the chosen refusal code at
// the chosen chunk (0: the status itself). Uploads are numbered from 1 and
// kept as DIR/upload-<n> when a directory was given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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
    void on_end(const Transcript &transcript);

  private:
    void open_next(const Transcript &transcript);
    void reply(PeerLink &link, int32_t kind, int32_t value);
    // The answer to packet `index` of the upload (0 its status).
    int32_t answer(int32_t index) const;

    int32_t grant_;
    int32_t refuseCode_;
    int32_t refuseAt_;
    std::string dir_;
    int32_t number_ = 0;  // uploads begun
    bool open_ = false;   // one is in progress
    int32_t chunks_ = 0;
    uint64_t bytes_ = 0;
    std::FILE *file_ = nullptr;
    std::string path_;
};

}  // namespace korvo::gateway
