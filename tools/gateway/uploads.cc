// Answering and storing what a method sends up.
#include "tools/gateway/uploads.hpp"

#include <cerrno>
#include <cstring>

#include "runtime/gateway.h"

namespace korvo::gateway {

Uploads::Uploads(const Options &options)
    : grant_(options.grant),
      refuseCode_(options.refuseCode),
      refuseAt_(options.refuseAt),
      dir_(options.uploads) {}

Uploads::~Uploads() {
    if (file_ != nullptr)
        std::fclose(file_);
}

int32_t Uploads::answer(int32_t index) const {
    return refuseCode_ != 0 && index == refuseAt_ ? refuseCode_ : grant_;
}

void Uploads::reply(PeerLink &link, int32_t kind, int32_t value) {
    uint8_t words[8];
    const auto put = [](uint8_t *out, int32_t word) {
        const auto w = static_cast<uint32_t>(word);
        out[0] = uint8_t(w >> 24), out[1] = uint8_t(w >> 16), out[2] = uint8_t(w >> 8),
        out[3] = uint8_t(w);
    };
    put(words, kind);
    put(words + 4, value);
    link.queue(GATEWAY_KIND_REPLY, words, sizeof words);
}

void Uploads::open_next(const Transcript &transcript) {
    on_end(transcript);
    ++number_;
    open_ = true;
    chunks_ = 0;
    bytes_ = 0;
    if (dir_.empty())
        return;
    path_ = dir_ + "/upload-" + std::to_string(number_);
    file_ = std::fopen(path_.c_str(), "wbx");
    if (file_ == nullptr)
        transcript.line("upload %d: cannot create %s: %s", number_, path_.c_str(),
                        std::strerror(errno));
}

void Uploads::on_status(PeerLink &link, const Transcript &transcript) {
    open_next(transcript);
    const int32_t value = answer(0);
    reply(link, GATEWAY_KIND_STATUS, value);
    if (value < 0)
        transcript.line("upload %d: status refused with %d", number_, value);
    else
        transcript.line("upload %d: status, granted %d", number_, value);
}

void Uploads::on_data(PeerLink &link, const Message &message, const Transcript &transcript) {
    if (!open_)
        open_next(transcript);  // data without a status still counts
    ++chunks_;
    bytes_ += message.length;
    if (file_ != nullptr && message.length != 0 &&
        std::fwrite(message.payload.get(), 1, message.length, file_) != message.length)
        transcript.line("upload %d: cannot write %s: %s", number_, path_.c_str(),
                        std::strerror(errno));
    const int32_t value = answer(chunks_);
    reply(link, GATEWAY_KIND_DATA, value);
    if (value < 0)
        transcript.line("upload %d: chunk %d of %zu bytes refused with %d", number_, chunks_,
                        message.length, value);
}

void Uploads::on_end(const Transcript &transcript) {
    if (!open_)
        return;
    open_ = false;
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
        transcript.line("upload %d: %llu bytes in %d chunks, kept in %s", number_,
                        static_cast<unsigned long long>(bytes_), chunks_, path_.c_str());
    } else {
        transcript.line("upload %d: %llu bytes in %d chunks", number_,
                        static_cast<unsigned long long>(bytes_), chunks_);
    }
}

}  // namespace korvo::gateway
