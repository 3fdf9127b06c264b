// Temporary names and temporary files on a Windows host. Names are drawn at
// random (BCryptGenRandom) as on POSIX hosts and checked against the
// directory. A temporary file is created under a fresh name with
// FILE_FLAG_DELETE_ON_CLOSE: it disappears with its last handle, and no
// name of it outlives the process, whatever ends it. Where the volume
// deletes with POSIX semantics the name goes at once, while the file stays
// open; elsewhere (FAT, Wine) it stays until the close.
#include <windows.h>

#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "kes/host_file.hpp"
#include "kes/host_handle_win32.hpp"
#include "kes/kes_fd.hpp"
#include "kes/kes_file.h"
#include "kes/kes_file_cell.hpp"
#include "kes/kes_host_path.hpp"
#include "kes/kes_status.hpp"
#include "kes/kes_temp_name.hpp"

using korvo::kes::FillStatus;
using korvo::kes::HostPath;
using korvo::kes::UniqueFd;

namespace {

// Removes the name of the open temporary file `fd` at once where the volume
// can; the file itself goes with its last handle either way.
void DropName(int fd) {
    // FileDispositionInfoEx, which this SDK's enumeration does not name yet.
    constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    FILE_DISPOSITION_INFO_EX disposition{};
    disposition.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (handle != INVALID_HANDLE_VALUE)
        ::SetFileInformationByHandle(handle, kDispositionInfoEx, &disposition, sizeof disposition);
}

using korvo::kes::kTempNameAttempts;
using korvo::kes::kTempNameSize;
using korvo::kes::MixTempBits;
using korvo::kes::TempName;

// Random bits from the system; when it has none to give, from the
// performance counter, the process id and a counter.
uint64_t RandomBits() {
    uint64_t bits = 0;
    if (BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&bits), sizeof bits,
                                         BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return bits;
    static std::atomic<uint64_t> counter{0};
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return MixTempBits(static_cast<uint64_t>(now.QuadPart) ^
                       (static_cast<uint64_t>(::GetCurrentProcessId()) << 20) ^
                       counter.fetch_add(1));
}

TempName NewName() {
    return korvo::kes::TempNameFrom(RandomBits());
}

// The directory names are made in, with a separator to append a name to
// ("" for the current directory). Failure is reported as a failure to make
// the directory current.
bool DirectoryPrefix(KesStatus *status, const char *directory, std::string *prefix) {
    if (directory == nullptr)
        return true;
    const HostPath host(directory, HostPath::Foreign::kPassUnchanged);
    korvo::host::FileInfo info{};
    if (!korvo::host::StatPath(host.c_str(), &info)) {
        korvo::kes::StandInError(status, 1);
        return false;
    }
    if (info.kind != korvo::host::FileKind::kDirectory) {
        errno = ENOTDIR;
        korvo::kes::StandInError(status, 1);
        return false;
    }
    *prefix = host.c_str();
    if (!prefix->empty() && prefix->back() != '\\' && prefix->back() != '/')
        prefix->push_back('\\');
    return true;
}

bool NameIsFree(const std::string &prefix, const TempName &name) {
    korvo::host::FileInfo info{};
    return !korvo::host::StatLink((prefix + name.text).c_str(), &info) && errno == ENOENT;
}

}  // namespace

extern "C" {

KesStatus *KesFileTempFilename(KesStatus *status, const char *directory, char *buffer,
                               size_t size) {
    if (buffer == nullptr || size < kTempNameSize)
        return FillStatus(status, KES_INVALID, 0, 0);
    try {
        std::string prefix;
        if (!DirectoryPrefix(status, directory, &prefix))
            return status;
        for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
            const TempName name = NewName();
            if (NameIsFree(prefix, name)) {
                std::memcpy(buffer, name.text, kTempNameSize);
                return FillStatus(status, KES_OK, 0, 0);
            }
        }
    } catch (const std::bad_alloc &) {
        return FillStatus(status, KES_NO_MEMORY, 0, 0);
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
    UniqueFd fd;
    try {
        std::string prefix;
        if (!DirectoryPrefix(status, directory, &prefix))
            return status;
        int attempt = 0;
        for (; attempt < kTempNameAttempts; ++attempt) {
            const std::string path = prefix + NewName().text;
            fd.reset(korvo::host::OpenFileHostFlags(
                path.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_TEMPORARY, 0600));
            if (fd || errno != EEXIST)
                break;
        }
        if (attempt == kTempNameAttempts)
            return FillStatus(status, KES_END, 0, 1);
    } catch (const std::bad_alloc &) {
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    }
    if (!fd)
        return korvo::kes::SystemError(status, 3);
    DropName(fd.get());
    *file = korvo::kes::NewFileCell(fd.get());
    if (*file == nullptr)
        return FillStatus(status, KES_NO_MEMORY, 0, 3);
    fd.release();
    return FillStatus(status, KES_OK, 0, 0);
}
}
