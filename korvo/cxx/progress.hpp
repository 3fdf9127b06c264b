// korvo C++ interface: progress records (mstat.h).
//
//   korvo::Progress record("dist-1");
//   record.properties().put_string("t_len", "24").put_string("c_len", "12");
//   record.save();
//   std::optional<int64_t> at = korvo::Progress::checkpoint("dist-1");
//
// Ownership: a Progress owns its mstat record (mstat_free when it ends); the
// view properties() returns belongs to the record.
// Threads: a record is used by one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "korvo/cxx/error.hpp"
#include "korvo/cxx/properties.hpp"
#include "stream/korvo_stream_key_builder.h"
#include "stream/mstat.h"

namespace korvo {

/// An owned progress record. Move-only.
class Progress {
  public:
    /// The record of `dist_id` (kind 0: "<id>.mds"); nothing is read or
    /// written yet. std::runtime_error when mstat_new makes none.
    explicit Progress(std::string_view dist_id, int16_t kind = 0) {
        const std::string id(dist_id);
        record_ = mstat_new(id.c_str(), kind);
        if (record_ == nullptr)
            throw std::runtime_error("korvo::Progress: no progress record for " + id);
    }
    /// Moves hand the record over; the moved-from owner holds none and may
    /// only be assigned to or destroyed. The destructor releases it.
    ///@{
    Progress(Progress &&other) noexcept : record_(std::exchange(other.record_, nullptr)) {}
    Progress &operator=(Progress &&other) noexcept {
        if (this != &other) {
            mstat_free(record_);
            record_ = std::exchange(other.record_, nullptr);
        }
        return *this;
    }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    ~Progress() { mstat_free(record_); }
    ///@}

    /// The C record.
    mstat *get() const noexcept { return record_; }
    /// The record's list, which stays the record's.
    PropertiesView properties() const noexcept { return PropertiesView(&record_->properties); }
    /// The distribution's id.
    std::string_view dist_id() const noexcept { return record_->distId; }

    /// Writes the record's file; false when its path cannot be built (see
    /// mstat_save). File failures are thrown.
    bool save() {
        return call([&] { return mstat_save(record_); }) == 0;
    }
    /// Replaces the list with the file's; false when the path cannot be
    /// built. A missing file is thrown (message 11).
    bool load() {
        return call([&] { return mstat_load(record_); }) == 0;
    }
    /// Marks the record finished (".mds" becomes ".mdf").
    void done() { mstat_done(record_); }

    /// The checkpointed bytes of `dist_id` ("c_len"), or nothing when the
    /// distribution has no record (korvo_progress_checkpoint).
    static std::optional<int64_t> checkpoint(std::string_view dist_id) {
        const std::string id(dist_id);
        int64_t bytes = 0;
        if (call([&] { return korvo_progress_checkpoint(id.c_str(), &bytes); }) == 0)
            return std::nullopt;
        return bytes;
    }

  private:
    mstat *record_ = nullptr;
};

}  // namespace korvo
