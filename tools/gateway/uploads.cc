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

std::string Uploads::chunk_sizes() const {
    std::string text;
    for (const auto &[size, count] : runs_) {
        if (!text.empty())
            text += ", ";
        text += std::to_string(size);
        if (count > 1)
            text += " x " + std::to_string(count);
    }
    return text;
}

void Uploads::open_next(const Transcript &transcript) {
    finish(transcript, false);
    ++number_;
    open_ = true;
    chunks_ = 0;
    bytes_ = 0;
    runs_.clear();
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
    if (!runs_.empty() && runs_.back().first == message.length)
        ++runs_.back().second;
    else
        runs_.emplace_back(message.length, 1);
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
    finish(transcript, true);
}

void Uploads::on_close(const Transcript &transcript) {
    finish(transcript, false);
}

void Uploads::finish(const Transcript &transcript, bool ended) {
    if (!open_)
        return;
    open_ = false;
    std::string summary = std::to_string(bytes_) + " bytes in " + std::to_string(chunks_) +
                          (chunks_ == 1 ? " chunk" : " chunks");
    if (chunks_ > 0)
        summary += " (" + chunk_sizes() + ")";
    if (file_ != nullptr) {
        const bool kept = std::fclose(file_) == 0;
        file_ = nullptr;
        summary += kept ? ", kept in " + path_ : ", cannot write " + path_;
    }
    if (!ended)
        summary += "; no end of transfer came";
    transcript.line("upload %d: %s", number_, summary.c_str());
}

}  // namespace korvo::gateway
