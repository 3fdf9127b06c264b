#include "segment_digest.hpp"

#include <cerrno>

namespace korvo::cli {

std::string hex_text(const std::vector<uint8_t> &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

}  // namespace korvo::cli

#include "failure.hpp"
#include "host_files.hpp"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"

namespace korvo::cli {

SegmentDigests::SegmentDigests(const DistributionToc &toc) : work_(toc.size()) {
    for (uint32_t i = 0; i < toc.size(); ++i) {
        const OctetList *checksum = nullptr;
        library_call([&] {
            checksum = properties_get_OctetList2(&toc.segment(i), SEGMENT_CHECKSUM_KEY, nullptr);
        });
        if (checksum != nullptr && checksum->length == kSha256Bytes && checksum->buffer != nullptr)
            work_[i].expected.emplace(checksum->buffer, checksum->buffer + checksum->length);
    }
}

SegmentDigests::~SegmentDigests() {
    stop();
}

void SegmentDigests::start(const std::vector<SegmentState> &segments, const OutputFiles &outputs) {
    bool any = false;
    for (uint32_t i = 0; i < work_.size(); ++i) {
        if (!work_[i].expected)
            continue;
        work_[i].running.emplace();
        work_[i].fd = outputs.descriptor(i);
        work_[i].written = segments[i].kept;
        any = true;
    }
    if (any)
        thread_ = std::thread([this] { hash_loop(); });
}

void SegmentDigests::written(uint32_t i, uint64_t written) {
    if (!work_[i].running)
        return;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        work_[i].written = written;
        wake = waiting_;
    }
    // A hashing thread at work finds the new length when it looks again;
    // only one that waits needs waking (a system call per write otherwise).
    if (wake)
        changed_.notify_one();
}

void SegmentDigests::hash_loop() {
    std::vector<char> buffer(1 << 20);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // The first segment with bytes not hashed yet.
        Work *next = nullptr;
        for (Work &work : work_)
            if (work.running && !work.unreadable && work.hashed < work.written) {
                next = &work;
                break;
            }
        if (next == nullptr) {
            if (finishing_)
                return;
            waiting_ = true;
            changed_.wait(lock);
            waiting_ = false;
            continue;
        }
        const uint64_t until = next->written;
        lock.unlock();
        while (next->hashed < until) {
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(buffer.size(), until - next->hashed));
            const int64_t got = host::read_at(next->fd, buffer.data(), want, next->hashed);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                next->unreadable = true;
                break;
            }
            next->running->update(buffer.data(), static_cast<size_t>(got));
            next->hashed += static_cast<uint64_t>(got);
        }
        lock.lock();
    }
}

void SegmentDigests::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

std::vector<SegmentDigests::Mismatch> SegmentDigests::finish(
    const std::vector<SegmentState> &segments) {
    stop();
    std::vector<Mismatch> mismatches;
    for (uint32_t i = 0; i < work_.size(); ++i) {
        Work &work = work_[i];
        if (!work.running || !segments[i].complete())
            continue;
        const bool whole = !work.unreadable && work.hashed == segments[i].size;
        std::vector<uint8_t> got = work.running->finish();
        work.running.reset();
        if (whole && got == *work.expected)
            ++verified_;
        else
            mismatches.push_back({i, hex_text(*work.expected),
                                  whole ? hex_text(got) : "an output that could not be read back"});
    }
    return mismatches;
}

}  // namespace korvo::cli
