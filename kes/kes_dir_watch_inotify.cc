// The directory watcher over inotify (see kes_dir_watch.hpp).
#include "kes/kes_dir_watch.hpp"

#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

#include "kes/kes_fd.hpp"
#include "kes/kes_status.hpp"

namespace korvo::kes {
namespace {

// Every write and truncation shows as IN_MODIFY (also through a descriptor
// kept open; the kernel folds a run of them on one file into one queued
// event), so the close after writing tells nothing more and is not asked
// for: each event costs the writer and the reader.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kEndsWatch = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

class InotifyWatcher final : public DirWatcher {
  public:
    explicit InotifyWatcher(int fd) : fd_(fd) {}

    int watch(const char *path) override {
        const int watch = ::inotify_add_watch(fd_.get(), path, kWatchMask);
        return watch < 0 ? -1 : watch;
    }

    void unwatch(int watch) override { ::inotify_rm_watch(fd_.get(), watch); }

    void drain(const Sink &sink) override {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t got =
                RetryInterrupted([&] { return ::read(fd_.get(), buffer, sizeof buffer); });
            if (got <= 0) {
                // EAGAIN: the queue is empty. Any other failure may have
                // dropped events.
                if (got < 0 && errno != EAGAIN)
                    sink(-1, DirChange::kLost, {});
                return;
            }
            for (ssize_t at = 0; at < got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                deliver(*event, sink);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            // A read hands out every queued event that fits: one that left
            // room for the longest event emptied the queue as it stood.
            if (static_cast<size_t>(got) <= sizeof buffer - sizeof(inotify_event) - NAME_MAX - 1)
                return;
        }
    }

  private:
    static void deliver(const inotify_event &event, const Sink &sink) {
        if ((event.mask & IN_Q_OVERFLOW) != 0)
            return sink(-1, DirChange::kLost, {});
        if ((event.mask & kEndsWatch) != 0)
            return sink(event.wd, DirChange::kDirectoryGone, {});
        if (event.len == 0) {
            if ((event.mask & IN_ATTRIB) != 0)
                sink(event.wd, DirChange::kDirectoryChanged, {});
            return;
        }
        const std::string_view name(event.name);
        if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0)
            sink(event.wd, DirChange::kRemoved, name);
        if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0)
            sink(event.wd, DirChange::kAdded, name);
        if ((event.mask & (IN_MODIFY | IN_ATTRIB)) != 0)
            sink(event.wd, DirChange::kModified, name);
    }

    UniqueFd fd_;
};

}  // namespace

std::unique_ptr<DirWatcher> NewDirWatcher() {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_unique<InotifyWatcher>(fd);
}

}  // namespace korvo::kes
