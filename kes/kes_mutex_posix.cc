// Machine-wide mutexes in POSIX shared memory.
//
// Creation protocol: every process opens the object with O_CREAT and takes an
// exclusive flock on it before looking inside, and drops it once the object
// is mapped. Under that file lock it sizes a new object, maps it and, unless
// the segment is marked ready, initialises the mutex and marks it. A process
// that dies while initialising loses its flock with its descriptors and its
// mapping, and the next one finds the segment still unmarked and initialises
// it again; nobody can be using an unmarked mutex.
//
// Mappings are never removed: a robust mutex that a thread holds is linked
// into that thread's robust list by address, and the kernel walks the list
// when the thread dies to hand the mutex on as abandoned. Unmapping a held
// mutex would break that hand-over and corrupt the list, so the process keeps
// one mapping per object for its whole life and every handle shares it.
#include "kes/kes_mutex.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "kes/kes_fd.hpp"

namespace korvo::kes {
namespace {

// "KMTX" and a layout number: a segment of another layout is refused.
constexpr uint32_t kReady = 0x4b4d5401;

struct Segment {
    uint32_t ready;  // kReady once `mutex` is initialised; zero in a new object
    uint32_t reserved;
    pthread_mutex_t mutex;
};

static_assert(std::atomic_ref<uint32_t>::is_always_lock_free,
              "the ready mark is shared between processes");

// An exclusive flock on an open object, dropped explicitly: a mapping keeps
// the open file description alive, so closing the descriptor alone would not
// release the lock.
class FileLock {
  public:
    explicit FileLock(int fd) : fd_(fd) {
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                return;
            }
        }
    }
    ~FileLock() {
        if (error_ == 0)
            ::flock(fd_, LOCK_UN);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    int error() const { return error_; }

  private:
    int fd_;
    int error_ = 0;
};

// Lock objects are for the owner and the group: accounts of one group may
// share depots, other accounts may not reach the locks.
constexpr mode_t kObjectMode = 0660;

// 0 when the object may be used: it is a regular object owned by this
// account, or by an account of this account's group when it grants nothing
// to others. An object of ours that grants others access loses it. EACCES
// otherwise: another account could hold the lock for ever or fake its
// state.
int checkOwner(int fd, const struct stat &info) {
    if (!S_ISREG(info.st_mode))
        return EACCES;
    const bool ours = info.st_uid == ::geteuid();
    const bool others = (info.st_mode & S_IRWXO) != 0;
    if (ours) {
        if (others && ::fchmod(fd, info.st_mode & 0770) != 0)
            return errno;
        return 0;
    }
    return info.st_gid == ::getegid() && !others ? 0 : EACCES;
}

// Maps the object and makes sure its mutex is ready; the caller holds no lock.
int mapSegment(const std::string &objectName, Segment **out) {
    korvo::kes::UniqueFd fd(
        ::shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kObjectMode));
    if (fd.get() < 0)
        return errno;
    const FileLock initialising(fd.get());
    if (int rc = initialising.error())
        return rc;

    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        return errno;
    if (int rc = checkOwner(fd.get(), info))
        return rc;
    if (info.st_size == 0) {
        // A new object: its mode is exactly the lock's, whatever the umask.
        if (::fchmod(fd.get(), kObjectMode) != 0 || ::ftruncate(fd.get(), sizeof(Segment)) != 0)
            return errno;
    } else if (info.st_size != static_cast<off_t>(sizeof(Segment))) {
        return EPROTO;  // not a lock of this layout
    }
    void *address =
        ::mmap(nullptr, sizeof(Segment), PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (address == MAP_FAILED)
        return errno;
    auto *segment = static_cast<Segment *>(address);

    std::atomic_ref<uint32_t> ready(segment->ready);
    const uint32_t mark = ready.load(std::memory_order_acquire);
    if (mark != kReady) {
        int rc = mark == 0 ? initRecursiveMutex(&segment->mutex, MutexScope::Shared) : EPROTO;
        if (rc != 0) {
            ::munmap(address, sizeof(Segment));
            return rc;
        }
        ready.store(kReady, std::memory_order_release);
    }
    *out = segment;
    return 0;
}

class Registry {
  public:
    int open(const std::string &objectName, pthread_mutex_t **mutex) {
        std::lock_guard<std::mutex> hold(guard_);
        auto found = mapped_.find(objectName);
        if (found == mapped_.end()) {
            Segment *segment = nullptr;
            if (int rc = mapSegment(objectName, &segment))
                return rc;
            found = mapped_.emplace(objectName, &segment->mutex).first;
        }
        *mutex = found->second;
        return 0;
    }

  private:
    std::mutex guard_;
    std::unordered_map<std::string, pthread_mutex_t *> mapped_;
};

Registry &registry() {
    static Registry instance;
    return instance;
}

}  // namespace

int initRecursiveMutex(pthread_mutex_t *mutex, MutexScope scope) {
    pthread_mutexattr_t attributes;
    if (int rc = pthread_mutexattr_init(&attributes))
        return rc;
    // Robust in both scopes: a holder that ends without releasing (a thread
    // of this process, or a whole process) hands the lock to the next waiter
    // as abandoned instead of leaving it taken for good.
    int rc = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    if (rc == 0)
        rc = pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    if (rc == 0 && scope == MutexScope::Shared)
        rc = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    if (rc == 0)
        rc = pthread_mutex_init(mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    return rc;
}

int openNamedMutex(const std::string &objectName, pthread_mutex_t **mutex) {
    return registry().open(objectName, mutex);
}

std::string sharedObjectName(const char *lockName) {
    std::string objectName = "/korvo.";
    const char *space = std::getenv("KORVO_LOCK_NAMESPACE");
    if (space != nullptr && *space != '\0') {
        objectName += space;
        objectName += '.';
    }
    objectName += lockName;
    return objectName;
}

}  // namespace korvo::kes
