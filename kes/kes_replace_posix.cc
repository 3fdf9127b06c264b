// Replacing a file's contents through a temporary file and a rename.
#include "kes/kes_replace.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace korvo::kes {
namespace {

constexpr const char *kTemporaryName = ".korvo-XXXXXX";

// Why an existing target is refused, as an errno value; 0 when it may be
// replaced (absent, or a regular file the caller may write).
int refusal(const char *path, const struct stat *status) {
    if (S_ISDIR(status->st_mode))
        return EISDIR;
    if (S_ISLNK(status->st_mode))
        return ELOOP;
    if (!S_ISREG(status->st_mode))
        return EINVAL;
    if (::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0)
        return errno;
    return 0;
}

}  // namespace

FileReplacement::FileReplacement(const char *path) : target_(path) {
    struct stat status;
    bool exists = ::lstat(path, &status) == 0;
    if (!exists && errno != ENOENT) {
        fail(Stage::kCreate, errno);
        return;
    }
    if (exists) {
        if (const int refused = refusal(path, &status)) {
            fail(Stage::kCreate, refused);
            return;
        }
    }
    const char *slash = std::strrchr(path, '/');
    temporary_.assign(path, slash != nullptr ? slash + 1 - path : 0);
    temporary_ += kTemporaryName;
    fd_.reset(RetryInterrupted([&] { return ::mkostemp(temporary_.data(), O_CLOEXEC); }));
    if (!fd_) {
        fail(Stage::kCreate, errno);
        temporary_.clear();
        return;
    }
    if (exists && ::fchmod(fd_.get(), status.st_mode & 07777) != 0)
        fail(Stage::kCreate, errno);
}

FileReplacement::~FileReplacement() {
    fd_.reset();
    if (!committed_ && !temporary_.empty()) {
        const int saved = errno;
        ::unlink(temporary_.c_str());
        errno = saved;
    }
}

bool FileReplacement::fail(Stage stage, int error) {
    if (stage_ == Stage::kNone) {
        stage_ = stage;
        error_ = error;
    }
    return false;
}

bool FileReplacement::write(const void *bytes, size_t length) {
    if (stage_ != Stage::kNone)
        return false;
    const auto *next = static_cast<const char *>(bytes);
    while (length > 0) {
        const ssize_t put = RetryInterrupted([&] { return ::write(fd_.get(), next, length); });
        if (put <= 0)
            return fail(Stage::kWrite, put < 0 ? errno : ENOSPC);
        next += put;
        length -= static_cast<size_t>(put);
    }
    return true;
}

bool FileReplacement::commit() {
    if (stage_ != Stage::kNone)
        return false;
    if (!fd_.close())
        return fail(Stage::kCommit, errno);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        return fail(Stage::kCommit, errno);
    committed_ = true;
    return true;
}

}  // namespace korvo::kes
