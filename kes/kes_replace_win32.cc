// Replacing a file's contents through a temporary file and a rename, on a
// Windows host: the temporary file is created with CREATE_NEW under a name
// drawn at random, and MoveFileEx replaces the target in one step (the C
// runtime's rename refuses an existing target). Windows has no permission
// bits to carry over: the new file takes the directory's inherited access
// list, as the old one did.
#include <windows.h>

#include <bcrypt.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "kes/host_file.hpp"
#include "kes/kes_replace.hpp"

namespace korvo::kes {
namespace {

constexpr char kTemporaryPrefix[] = ".korvo-";
constexpr size_t kRandomLetters = 6;
constexpr int kAttempts = 100;

// Why an existing target is refused, as an errno value; 0 when it may be
// replaced (absent, or a regular file the caller may write).
int refusal(const char *path, const host::FileInfo &info) {
    if (info.kind == host::FileKind::kDirectory)
        return EISDIR;
    if (info.kind == host::FileKind::kSymlink)
        return ELOOP;
    if (info.kind != host::FileKind::kRegular)
        return EINVAL;
    if (!host::CheckAccess(path, host::kAccessWrite))
        return errno;
    return 0;
}

void randomLetters(char *out) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    uint64_t bits = 0;
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&bits), sizeof bits,
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        LARGE_INTEGER now{};
        ::QueryPerformanceCounter(&now);
        bits = static_cast<uint64_t>(now.QuadPart) * 0x9e3779b97f4a7c15u;
    }
    for (size_t i = 0; i < kRandomLetters; ++i) {
        out[i] = kLetters[bits % 62];
        bits /= 62;
    }
}

}  // namespace

FileReplacement::FileReplacement(const char *path) : target_(path) {
    host::FileInfo info{};
    const bool exists = host::StatLink(path, &info);
    if (!exists && errno != ENOENT) {
        fail(Stage::kCreate, errno);
        return;
    }
    if (exists) {
        if (const int refused = refusal(path, info)) {
            fail(Stage::kCreate, refused);
            return;
        }
    }
    const char *slash = std::strrchr(path, '/');
    const char *backslash = std::strrchr(path, '\\');
    if (backslash != nullptr && (slash == nullptr || backslash > slash))
        slash = backslash;
    const std::string directory(path, slash != nullptr ? slash + 1 - path : 0);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char letters[kRandomLetters + 1] = {};
        randomLetters(letters);
        temporary_ = directory + kTemporaryPrefix + letters;
        fd_.reset(host::OpenFile(temporary_.c_str(),
                                 host::kOpenReadWrite | host::kOpenCreate | host::kOpenExclusive,
                                 0600));
        if (fd_ || errno != EEXIST)
            break;
    }
    if (!fd_) {
        fail(Stage::kCreate, errno);
        temporary_.clear();
    }
}

FileReplacement::~FileReplacement() {
    fd_.reset();
    if (!committed_ && !temporary_.empty()) {
        const int saved = errno;
        host::RemoveFile(temporary_.c_str());
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
        const int64_t put = host::WriteFile(fd_.get(), next, length);
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
    if (!host::RenameReplacing(temporary_.c_str(), target_.c_str()))
        return fail(Stage::kCommit, errno);
    committed_ = true;
    return true;
}

}  // namespace korvo::kes
