// The process's directory indexes and the watcher that keeps them current.
//
// One Notifier per process (notifier()): it maps each watched directory (by
// device and inode) to its DirectoryIndex, applies the watcher's queued
// changes to them, lists a directory again when changes were lost, and
// starts afresh in a child of fork. Every call, and every use of an index it
// returns, runs with `mutex` held; it is never held while waiting for a
// depot lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "depot/depot_dir_index.hpp"
#include "depot/depot_handle.hpp"
#include "kes/kes_dir_watch.hpp"
#include "kes/kes_file_guard.hpp"

namespace korvo::depot {

class Notifier {
  public:
    std::mutex mutex;

    // The up-to-date index of the handle's directory `dir`, attaching the
    // handle to it; NULL when it cannot be indexed. The caller holds `mutex`.
    DirectoryIndex *open(HandleState &handle, const char *dir);

    // Lets go of the handle's index; the last handle's going drops it.
    void detach(HandleState &handle);

  private:
    struct IdentityOrder {
        bool operator()(const korvo::kes::FileIdentity &a,
                        const korvo::kes::FileIdentity &b) const {
            return a.device != b.device ? a.device < b.device : a.inode < b.inode;
        }
    };

    void restart();
    DirectoryIndex &attach(HandleState &handle, const korvo::kes::FileIdentity &identity);
    bool rebuild(DirectoryIndex &index, const char *dir);
    void drain();
    void apply(int watch, korvo::kes::DirChange change, std::string_view name);
    void forgetAll();

    decltype(korvo::kes::ProcessId()) owner_ = 0;
    uint64_t epoch_ = 0;
    std::unique_ptr<korvo::kes::DirWatcher> watcher_;
    std::map<korvo::kes::FileIdentity, std::unique_ptr<DirectoryIndex>, IdentityOrder> indexes_;
    std::unordered_map<int, DirectoryIndex *> byWatch_;
};

// The process's notifier.
Notifier &notifier();

}  // namespace korvo::depot
