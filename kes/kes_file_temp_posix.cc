// Temporary names and temporary files. Names are drawn at random, as mkstemp
// draws them, and checked against the directory without making it current. A
// temporary file is nameless (O_TMPFILE) where the file system allows it;
// elsewhere it is created under a fresh name and unlinked at once, so it
// disappears with its last descriptor either way.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "kes/kes_fd.hpp"
#include "kes/kes_file.h"
#include "kes/kes_file_cell.hpp"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"
#include "kes/kes_temp_name.hpp"

using korvo::kes::FillStatus;
using korvo::kes::HostPath;
using korvo::kes::RetryInterrupted;
using korvo::kes::UniqueFd;

namespace {

using korvo::kes::kTempNameAttempts;
using korvo::kes::kTempNameSize;
using korvo::kes::MixTempBits;
using korvo::kes::TempName;

// Random bits from the kernel; when it has none to give, from the clock, the
// process id and a counter, which still differ from call to call.
uint64_t RandomBits() {
    uint64_t bits;
    if (::getrandom(&bits, sizeof(bits), GRND_NONBLOCK) == static_cast<ssize_t>(sizeof(bits)))
        return bits;
    static std::atomic<uint64_t> counter{0};
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return MixTempBits(static_cast<uint64_t>(now.tv_nsec) ^
                       (static_cast<uint64_t>(now.tv_sec) << 30) ^
                       (static_cast<uint64_t>(::getpid()) << 20) ^ counter.fetch_add(1));
}

TempName NewName() {
    return korvo::kes::TempNameFrom(RandomBits());
}

// The directory to make names in: an O_PATH descriptor, or the current
// directory when `directory` is NULL. Failure is reported as a failure to
// make the directory current.
bool OpenDirectory(KesStatus *status, const char *directory, UniqueFd *fd) {
    if (directory == nullptr)
        return true;
    const HostPath host(directory, HostPath::Foreign::kPassUnchanged);
    fd->reset(
        RetryInterrupted([&] { return ::open(host.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
    if (*fd)
        return true;
    korvo::kes::StandInError(status, 1);
    return false;
}

int DirFd(const UniqueFd &fd) {
    return fd ? fd.get() : AT_FDCWD;
}

bool NameIsFree(int dir, const TempName &name) {
    struct stat info;
    return ::fstatat(dir, name.text, &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// A new temporary file in `dir` under a fresh name that is removed at once:
// the descriptor, or -1 with errno set (EEXIST when every name was taken).
int CreateAndUnlink(int dir) {
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        const TempName name = NewName();
        UniqueFd fd(RetryInterrupted([&] {
            return ::openat(dir, name.text, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                            S_IRUSR | S_IWUSR);
        }));
        if (!fd) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        if (::unlinkat(dir, name.text, 0) != 0)
            return -1;
        return fd.release();
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

extern "C" {

KesStatus *KesFileTempFilename(KesStatus *status, const char *directory, char *buffer,
                               size_t size) {
    if (buffer == nullptr || size < kTempNameSize)
        return FillStatus(status, KES_INVALID, 0, 0);
    UniqueFd dir;
    if (!OpenDirectory(status, directory, &dir))
        return status;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        const TempName name = NewName();
        if (NameIsFree(DirFd(dir), name)) {
            std::memcpy(buffer, name.text, kTempNameSize);
            return FillStatus(status, KES_OK, 0, 0);
        }
    }
    return FillStatus(status, KES_END, 0, 1);
}

KesStatus *KesFileOpenTemporary(KesStatus *status, const char *directory, KesFile *file) {
    if (file != nullptr)
        *file = nullptr;
    if (directory == nullptr || file == nullptr)
        return FillStatus(status, KES_INVALID, 0, 1);
    if (!HostPath(directory, HostPath::Foreign::kRefuse).usable())
        return FillStatus(status, KES_INVALID, 0, 2);
    UniqueFd dir;
    if (!OpenDirectory(status, directory, &dir))
        return status;
    UniqueFd fd(RetryInterrupted([&] {
        return ::openat(dir.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    }));
    // File systems without nameless files refuse O_TMPFILE with one of these.
    if (!fd && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        fd.reset(CreateAndUnlink(dir.get()));
        if (!fd && errno == EEXIST)
            return FillStatus(status, KES_END, 0, 1);
    }
    if (!fd)
        return korvo::kes::SystemError(status, 3);
    *file = korvo::kes::NewFileCell(fd.get());
    if (*file == nullptr)
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    fd.release();
    return FillStatus(status, KES_OK, 0, 0);
}
}
