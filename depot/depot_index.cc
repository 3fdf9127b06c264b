// The directory index over inotify (see depot_index.hpp).
#include "depot/depot_index.hpp"

#include <dirent.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <unordered_map>
#include <utility>

#include "kes/kes_file.h"

#if defined(__linux__)
#include <sys/inotify.h>
#define KORVO_DEPOT_HAS_INOTIFY 1
#endif

namespace korvo::depot {

struct CachedText {
    std::string text;
    // Renames of our own over the name whose notification has not come in
    // yet: each one is expected, and leaves the text in place.
    int ownReplacements = 0;
};

struct DirectoryState {
    int watch = -1;
    bool current = false;  // the names are complete and the texts valid
    std::unordered_map<std::string, std::vector<std::string>> buckets;
    std::unordered_map<std::string, CachedText> texts;

    void addName(const std::string &name) {
        if (!IsEntryFileName(name) || name.size() < 8)
            return;
        std::vector<std::string> &names = buckets[name.substr(0, 8)];
        for (const std::string &known : names)
            if (known == name)
                return;
        names.push_back(name);
    }
    void removeName(const std::string &name) {
        if (name.size() < 8)
            return;
        const auto bucket = buckets.find(name.substr(0, 8));
        if (bucket == buckets.end())
            return;
        std::erase(bucket->second, name);
    }
    void forget() {
        current = false;
        buckets.clear();
        texts.clear();
    }
};

namespace {

#if defined(KORVO_DEPOT_HAS_INOTIFY)

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                IN_ONLYDIR;
constexpr uint32_t kTouchesText =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB;
constexpr uint32_t kEndsWatch = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

bool WatchDisabled() {
    const char *setting = std::getenv("KORVO_DEPOT_WATCH");
    return setting != nullptr && std::strcmp(setting, "0") == 0;
}

class Notifier {
  public:
    std::mutex mutex;

    // The current state of `dir`, or NULL when it cannot be indexed. The
    // caller holds `mutex`.
    DirectoryState *open(const char *dir) {
        if (WatchDisabled())
            return nullptr;
        if (owner_ != ProcessId())
            restart();
        if (fd_ < 0)
            return nullptr;
        struct stat info {};
        if (::stat(dir, &info) != 0 || !S_ISDIR(info.st_mode))
            return nullptr;
        try {
            drain();
            DirectoryState &state = stateOf(info.st_dev, info.st_ino);
            // The listing is repeated when notifications overflow meanwhile.
            for (int attempt = 0; attempt < 3 && !state.current; ++attempt) {
                if (!rebuild(state, dir))
                    return nullptr;
                drain();
            }
            return state.current ? &state : nullptr;
        } catch (const std::exception &) {
            // Out of memory half-way: nothing the index holds can be trusted.
            forgetAll();
            return nullptr;
        }
    }

    void forgetAll() {
        for (auto &[identity, state] : states_)
            state->forget();
    }

  private:
    // A process that forked shares the parent's notification queue, where
    // either would steal the other's events: each process starts its own.
    void restart() {
        if (fd_ >= 0)
            ::close(fd_);
        states_.clear();
        byWatch_.clear();
        owner_ = ProcessId();
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }

    DirectoryState &stateOf(dev_t device, ino_t inode) {
        std::unique_ptr<DirectoryState> &slot = states_[{device, inode}];
        if (!slot)
            slot = std::make_unique<DirectoryState>();
        return *slot;
    }

    // Watches the directory and lists it; events queued from here on are
    // applied by the next drain, which makes the names exact.
    bool rebuild(DirectoryState &state, const char *dir) {
        const int watch = ::inotify_add_watch(fd_, dir, kWatchMask);
        if (watch < 0)
            return false;
        if (state.watch != watch) {
            if (const auto old = byWatch_.find(state.watch);
                old != byWatch_.end() && old->second == &state)
                byWatch_.erase(old);
            state.watch = watch;
            byWatch_[watch] = &state;
        }
        state.forget();
        DIR *listing = ::opendir(dir);
        if (listing == nullptr)
            return false;
        errno = 0;
        while (const dirent *entry = ::readdir(listing))
            state.addName(entry->d_name);
        const bool complete = errno == 0;
        ::closedir(listing);
        state.current = complete;
        return complete;
    }

    void drain() {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                if (got < 0 && errno != EAGAIN)
                    forgetAll();
                return;
            }
            for (ssize_t at = 0; at < got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                apply(*event);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            // A read hands out every queued event that fits: one that left
            // room for the longest event emptied the queue as it stood.
            if (static_cast<size_t>(got) <= sizeof buffer - sizeof(inotify_event) - NAME_MAX - 1)
                return;
        }
    }

    void apply(const inotify_event &event) {
        if ((event.mask & IN_Q_OVERFLOW) != 0) {
            forgetAll();
            return;
        }
        const auto found = byWatch_.find(event.wd);
        if (found == byWatch_.end())
            return;
        DirectoryState &state = *found->second;
        if ((event.mask & kEndsWatch) != 0) {
            state.forget();
            if ((event.mask & IN_IGNORED) != 0) {
                state.watch = -1;
                byWatch_.erase(found);
            }
            return;
        }
        if (!state.current)
            return;
        if (event.len == 0) {
            // The directory itself changed (its permissions, say).
            state.texts.clear();
            return;
        }
        const std::string name(event.name);
        if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0)
            state.addName(name);
        if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0)
            state.removeName(name);
        const auto cached = state.texts.find(name);
        if (cached == state.texts.end() || (event.mask & kTouchesText) == 0)
            return;
        if ((event.mask & IN_MOVED_TO) != 0 && cached->second.ownReplacements > 0)
            --cached->second.ownReplacements;
        else
            state.texts.erase(cached);
    }

    pid_t owner_ = 0;
    int fd_ = -1;
    std::map<std::pair<dev_t, ino_t>, std::unique_ptr<DirectoryState>> states_;
    std::unordered_map<int, DirectoryState *> byWatch_;
};

#else

class Notifier {
  public:
    std::mutex mutex;
    DirectoryState *open(const char *) { return nullptr; }
};

#endif

Notifier &notifier() {
    static Notifier instance;
    return instance;
}

}  // namespace

namespace {

std::atomic<pid_t> cachedProcessId{0};

void ForgetProcessId() {
    cachedProcessId.store(0, std::memory_order_relaxed);
}

}  // namespace

pid_t ProcessId() {
    pid_t pid = cachedProcessId.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const int registered = ::pthread_atfork(nullptr, nullptr, ForgetProcessId);
        static_cast<void>(registered);
        pid = ::getpid();
        cachedProcessId.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

bool IsEntryFileName(std::string_view name) {
    return name.size() > 3 && name.substr(name.size() - 3) == "xml";
}

ReadFailure ReadWholeFile(const char *path, std::string *text, KesStatus *status) {
    KesFile file = nullptr;
    if (KesFileOpen(status, &file, path, KES_FILE_READ)->code != KES_OK) {
        if (file != nullptr) {
            KesStatus ignored;
            KesFileClose(&ignored, file);
        }
        return ReadFailure::kOpen;
    }
    struct Closer {
        KesFile file;
        ~Closer() {
            KesStatus ignored;
            KesFileClose(&ignored, file);
        }
    } closer{file};
    int64_t size = 0;
    if (KesFileGetSize(status, file, &size)->code != KES_OK)
        return ReadFailure::kSize;
    try {
        text->assign(static_cast<size_t>(size), '\0');
    } catch (const std::exception &) {
        *status = KesStatus{KES_NO_MEMORY, 0, 0};
        return ReadFailure::kMemory;
    }
    size_t total = 0;
    while (total < text->size()) {
        size_t done = 0;
        if (KesFileRead(status, file, text->data() + total, text->size() - total, &done)->code !=
            KES_OK)
            return ReadFailure::kRead;
        if (done == 0)
            break;
        total += done;
    }
    text->resize(total);
    *status = KesStatus{KES_OK, 0, 0};
    return ReadFailure::kNone;
}

namespace {

// The outermost session of the calling thread.
thread_local DirectorySession *outermost = nullptr;

}  // namespace

DirectorySession::DirectorySession(const char *dir) {
    try {
        if (dir == nullptr)
            return;
        dir_ = dir;
        // A session inside another one of the same operation and directory
        // shares its view: the operation pays once for bringing it up to
        // date.
        if (outermost != nullptr && outermost->dir_ == dir_) {
            state_ = outermost->state_;
            return;
        }
        {
            const std::lock_guard guard(notifier().mutex);
            state_ = notifier().open(dir);
        }
        if (outermost == nullptr) {
            outermost = this;
            outer_ = true;
        }
    } catch (const std::exception &) {
        dir_.clear();
        state_ = nullptr;
    }
}

DirectorySession::~DirectorySession() {
    if (outer_)
        outermost = nullptr;
}

bool DirectorySession::bucketNames(std::string_view bucket, std::vector<std::string> *names) const {
    if (state_ == nullptr)
        return false;
    const std::lock_guard guard(notifier().mutex);
    // Another thread's drain may have found the notifications overflowing
    // since the session began: then the names are incomplete.
    if (!state_->current)
        return false;
    try {
        const auto found = state_->buckets.find(std::string(bucket));
        names->clear();
        if (found != state_->buckets.end())
            *names = found->second;
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

std::string_view DirectorySession::nameOf(std::string_view path) const {
    if (dir_.empty() || path.size() <= dir_.size() + 1 || path.substr(0, dir_.size()) != dir_ ||
        path[dir_.size()] != '/')
        return {};
    const std::string_view name = path.substr(dir_.size() + 1);
    return name.find('/') == std::string_view::npos ? name : std::string_view{};
}

ReadFailure DirectorySession::read(const char *path, std::string *text, KesStatus *status) {
    const std::string_view name = state_ != nullptr ? nameOf(path) : std::string_view{};
    if (name.empty())
        return ReadWholeFile(path, text, status);
    // The file is read under the index's lock, so that no drain can apply a
    // later change of it before its text is noted.
    const std::lock_guard guard(notifier().mutex);
    if (!state_->current)
        return ReadWholeFile(path, text, status);
    try {
        const auto cached = state_->texts.find(std::string(name));
        if (cached != state_->texts.end()) {
            *text = cached->second.text;
            *status = KesStatus{KES_OK, 0, 0};
            return ReadFailure::kNone;
        }
        const ReadFailure failure = ReadWholeFile(path, text, status);
        if (failure == ReadFailure::kNone)
            state_->texts[std::string(name)].text = *text;
        return failure;
    } catch (const std::exception &) {
        state_->texts.clear();
        *status = KesStatus{KES_NO_MEMORY, 0, 0};
        return ReadFailure::kMemory;
    }
}

KesStatus *DirectorySession::replace(KesStatus *status, const char *temporary, const char *path,
                                     std::string_view text) {
    const std::string_view name = state_ != nullptr ? nameOf(path) : std::string_view{};
    if (name.empty())
        return KesFileRename(status, temporary, path);
    // The rename and the note of it happen under the index's lock, so that
    // no drain in between can take our own notification for a stranger's.
    const std::lock_guard guard(notifier().mutex);
    if (KesFileRename(status, temporary, path)->code != KES_OK || !state_->current)
        return status;
    try {
        CachedText &cached = state_->texts[std::string(name)];
        cached.text.assign(text);
        ++cached.ownReplacements;
        state_->addName(std::string(name));
    } catch (const std::exception &) {
        // Listed again at the next session rather than trusted half-noted.
        state_->forget();
    }
    return status;
}

}  // namespace korvo::depot
