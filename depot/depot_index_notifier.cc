// The process's directory indexes and their watcher (see
// depot_index_notifier.hpp).
#include "depot/depot_index_notifier.hpp"

#include <cstdlib>
#include <cstring>
#include <exception>

#include "depot/depot_list.hpp"
#include "kes/kes_dir.h"

namespace korvo::depot {
namespace {

bool WatchDisabled() {
    const char *setting = std::getenv("KORVO_DEPOT_WATCH");
    return setting != nullptr && std::strcmp(setting, "0") == 0;
}

}  // namespace

DirectoryIndex *Notifier::open(HandleState &handle, const char *dir) {
    if (WatchDisabled())
        return nullptr;
    if (owner_ != korvo::kes::ProcessId())
        restart();
    if (!watcher_)
        return nullptr;
    korvo::kes::FileIdentity identity;
    if (!korvo::kes::IdentityOf(dir, &identity))
        return nullptr;
    try {
        DirectoryIndex &index = attach(handle, identity);
        drain();
        // The listing is repeated when notifications were lost meanwhile.
        for (int attempt = 0; attempt < 3 && !index.current; ++attempt) {
            if (!rebuild(index, dir))
                return nullptr;
            drain();
        }
        return index.current ? &index : nullptr;
    } catch (const std::exception &) {
        // Out of memory half-way: nothing the index holds can be trusted.
        forgetAll();
        return nullptr;
    }
}

void Notifier::detach(HandleState &handle) {
    IndexAttachment &attachment = handle.index;
    if (attachment.attached && attachment.epoch == epoch_) {
        const auto found = indexes_.find(attachment.identity);
        if (found != indexes_.end() && --found->second->users <= 0) {
            if (found->second->watch >= 0) {
                byWatch_.erase(found->second->watch);
                watcher_->unwatch(found->second->watch);
            }
            indexes_.erase(found);
        }
    }
    attachment.attached = false;
}

// A process that forked shares the parent's notification queue, where
// either would take the other's changes: each process starts its own.
void Notifier::restart() {
    indexes_.clear();
    byWatch_.clear();
    ++epoch_;
    owner_ = korvo::kes::ProcessId();
    watcher_ = korvo::kes::NewDirWatcher();
}

DirectoryIndex &Notifier::attach(HandleState &handle, const korvo::kes::FileIdentity &identity) {
    IndexAttachment &attachment = handle.index;
    if (attachment.attached && (attachment.epoch != epoch_ || !(attachment.identity == identity)))
        detach(handle);
    std::unique_ptr<DirectoryIndex> &slot = indexes_[identity];
    if (!slot)
        slot = std::make_unique<DirectoryIndex>();
    if (!attachment.attached) {
        ++slot->users;
        attachment = IndexAttachment{true, identity, epoch_};
    }
    return *slot;
}

// Watches the directory and lists it; changes queued from here on are
// applied by the next drain, which makes the names exact.
bool Notifier::rebuild(DirectoryIndex &index, const char *dir) {
    const int watch = watcher_->watch(dir);
    if (watch < 0)
        return false;
    if (index.watch != watch) {
        if (const auto old = byWatch_.find(index.watch);
            old != byWatch_.end() && old->second == &index)
            byWatch_.erase(old);
        index.watch = watch;
        byWatch_[watch] = &index;
    }
    index.forget();
    KesDir *listing = nullptr;
    KesStatus status;
    if (KesDirOpen(&status, &listing, dir)->code != KES_OK) {
        KesDirClose(&status, listing);
        return false;
    }
    char name[KES_DIR_NAME_SIZE];
    bool fits = true;
    while (fits && KesDirReadDirectory(&status, name, listing)->code == KES_OK)
        fits = index.added(name);
    const bool complete = fits && status.code == KES_END;
    KesDirClose(&status, listing);
    if (!complete)
        index.forget();
    index.current = complete;
    return complete;
}

void Notifier::drain() {
    watcher_->drain([this](int watch, korvo::kes::DirChange change, std::string_view name) {
        apply(watch, change, name);
    });
}

void Notifier::apply(int watch, korvo::kes::DirChange change, std::string_view name) {
    using korvo::kes::DirChange;
    if (change == DirChange::kLost)
        return forgetAll();
    const auto found = byWatch_.find(watch);
    if (found == byWatch_.end())
        return;
    DirectoryIndex &index = *found->second;
    if (change == DirChange::kDirectoryGone) {
        index.forget();
        index.watch = -1;
        byWatch_.erase(found);
        return;
    }
    if (!index.current)
        return;
    switch (change) {
        case DirChange::kAdded:
            if (!index.added(name))
                index.forget();
            break;
        case DirChange::kRemoved:
            index.removed(name);
            break;
        case DirChange::kModified:
            index.modified(name);
            break;
        case DirChange::kDirectoryChanged:
            // What can be read may have changed for every name.
            for (auto &[bucketName, bucket] : index.buckets)
                for (auto &[entryName, info] : bucket.names)
                    index.modified(bucket, entryName, info);
            break;
        default:
            break;
    }
}

void Notifier::forgetAll() {
    for (auto &[identity, index] : indexes_)
        index->forget();
}

Notifier &notifier() {
    static Notifier instance;
    return instance;
}

void DetachIndex(Depot *depot) {
    const std::lock_guard guard(notifier().mutex);
    notifier().detach(StateOf(depot));
}

}  // namespace korvo::depot
