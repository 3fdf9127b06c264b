// Renaming over a file on a Windows host, and opening a file whose
// replacement may be between its steps (see host_replace.hpp).
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "kes/host_file.hpp"
#include "kes/host_handle_win32.hpp"
#include "kes/host_replace.hpp"

namespace korvo::host {

namespace {

// FileRenameInfoEx and its flags, which this SDK names only for newer
// targets.
constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;

constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// How often a reader that finds the path empty looks again: each look
// that fails has lost a race with a replacement that completed meanwhile.
constexpr int kLooks = 8;

// Cleared once the host answers that it has no POSIX renames at all, so
// that later renames go the plain way at once.
std::atomic<bool> posix_renames{true};

// FILE_RENAME_INFO as FileRenameInfoEx reads it: a flags word first.
struct RenameInfoEx {
    DWORD flags;
    HANDLE root;
    DWORD length;  // of the name in bytes, without its terminator
    WCHAR name[1];
};

// A replacement of "<name>" that goes in two steps moves the new file to
// ".korvo-new-<name>~<tag>" and the old one to ".korvo-removed-<name>~<tag>"
// (AsideTag, one tag for both) in the target's directory: a reader that
// finds "<name>" missing can tell which files a replacement between its
// steps holds for it. Neither is ever taken for a progress or property file.
constexpr wchar_t kFreshPrefix[] = L".korvo-new-";
constexpr wchar_t kOldPrefix[] = L".korvo-removed-";
// The longest name a volume takes (NTFS, FAT's long names).
constexpr size_t kLongestName = 255;

struct ReplacementNames {
    std::wstring fresh;  // the new file, until it takes the target's name
    std::wstring old;    // the target, moved out of the way
};

std::wstring DirectoryOf(const std::wstring &path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
}

// The names for replacing the file `path`; none when the target's name
// leaves no room for them.
std::optional<ReplacementNames> ReplacementNamesFor(const std::wstring &path) {
    const std::wstring directory = DirectoryOf(path);
    const std::wstring name = path.substr(directory.size());
    if (name.empty() || std::wcslen(kOldPrefix) + name.size() + 1 + kAsideTagLength > kLongestName)
        return std::nullopt;
    const std::wstring tail = name + L"~" + AsideTag();
    return ReplacementNames{directory + kFreshPrefix + tail, directory + kOldPrefix + tail};
}

bool IsTag(const std::wstring &text) {
    if (text.size() != kAsideTagLength)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool fits =
            i == 8 || i == 17 ? c == L'-' : (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
        if (!fits)
            return false;
    }
    return true;
}

// The tag of `entry` when it is `prefix`, `name`, '~' and a tag.
std::optional<std::wstring> TagOf(const std::wstring &entry, const wchar_t *prefix,
                                  const std::wstring &name) {
    const size_t head = std::wcslen(prefix);
    if (entry.size() != head + name.size() + 1 + kAsideTagLength ||
        entry.compare(0, head, prefix) != 0 || entry[head + name.size()] != L'~')
        return std::nullopt;
    // Windows compares names without regard to case.
    if (::CompareStringOrdinal(entry.c_str() + head, static_cast<int>(name.size()), name.c_str(),
                               static_cast<int>(name.size()), TRUE) != CSTR_EQUAL)
        return std::nullopt;
    std::wstring tag = entry.substr(head + name.size() + 1);
    return IsTag(tag) ? std::optional<std::wstring>(std::move(tag)) : std::nullopt;
}

// Whether the process `id` may still be running: this one, another
// account's (which cannot be asked) and one whose id is reused count as
// running; one that ended, or no such process, does not.
bool ProcessMayRun(uint32_t id) noexcept {
    if (id == ::GetCurrentProcessId())
        return true;
    const UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

enum class Outcome { kDone, kFailed, kUnavailable };

// Renames `from` over `to` in one step with POSIX semantics: the target's
// name passes to the new file at once, even while others hold the target
// open (sharing deletion, as every handle of the library's does), and its
// holders keep reading the old file.
Outcome RenameInOneStep(const std::wstring &from, const std::wstring &to) {
    if (!posix_renames.load(std::memory_order_relaxed))
        return Outcome::kUnavailable;
    // A source that does not open is left to the plain route, which reports
    // it as it always has.
    const UniqueHandle source(::CreateFileW(
        from.c_str(), DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
        nullptr));
    if (!source)
        return Outcome::kUnavailable;
    const size_t name_bytes = (to.size() + 1) * sizeof(WCHAR);
    std::vector<unsigned char> buffer(offsetof(RenameInfoEx, name) + name_bytes);
    RenameInfoEx header{};
    header.flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    header.length = static_cast<DWORD>(to.size() * sizeof(WCHAR));
    std::memcpy(buffer.data(), &header, offsetof(RenameInfoEx, name));
    std::memcpy(buffer.data() + offsetof(RenameInfoEx, name), to.c_str(), name_bytes);
    if (::SetFileInformationByHandle(source.get(), kRenameInfoEx, buffer.data(),
                                     static_cast<DWORD>(buffer.size())))
        return Outcome::kDone;
    switch (const DWORD error = ::GetLastError()) {
        case ERROR_INVALID_PARAMETER:
        case ERROR_INVALID_FUNCTION:
        case ERROR_CALL_NOT_IMPLEMENTED:
            // No such rename on this host (before Windows 10 1709; Wine 8).
            posix_renames.store(false, std::memory_order_relaxed);
            return Outcome::kUnavailable;
        case ERROR_NOT_SUPPORTED:  // none on this volume (FAT, some shares)
        case ERROR_ACCESS_DENIED:  // a read-only target, say: the plain route decides
            return Outcome::kUnavailable;
        default:
            errno = ErrnoOfError(error);
            return Outcome::kFailed;
    }
}

// Replaces the held target `to` in two steps: it is moved aside and the
// new file takes its name. The new file first moves to its own name beside
// the target, so that at every moment the target's name or the pair of
// names beside it hold a whole file (OpenFileOrReplacement looks there).
// A target whose name leaves no room for those names is moved aside as a
// removal would move it.
bool RenameInTwoSteps(const std::wstring &from, const std::wstring &to) {
    const std::optional<ReplacementNames> names = ReplacementNamesFor(to);
    const std::wstring fresh = names ? names->fresh : from;
    const std::wstring old = names ? names->old : AsideName(to);
    if (fresh != from && !::MoveFileExW(from.c_str(), fresh.c_str(), 0))
        return FailWithLastError();
    const auto undo = [&](DWORD failed, bool moved_old) {
        if (moved_old)
            ::MoveFileExW(old.c_str(), to.c_str(), 0);
        if (fresh != from)
            ::MoveFileExW(fresh.c_str(), from.c_str(), 0);
        errno = ErrnoOfError(failed);
        return false;
    };
    if (!::MoveFileExW(to.c_str(), old.c_str(), 0))
        return undo(::GetLastError(), false);
    if (!::MoveFileExW(fresh.c_str(), to.c_str(), kReplace))
        return undo(::GetLastError(), true);
    DeleteWhenClosed(old);
    return true;
}

// What one replacement of the target left beside it.
struct Pending {
    std::wstring fresh, old;  // full paths; empty when not there
    FILETIME written{};       // of the new file
    uint32_t process_id = 0;
};

// The replacements of the file `path` whose files lie beside it, by tag.
std::map<std::wstring, Pending> PendingReplacements(const std::wstring &path) {
    std::map<std::wstring, Pending> found;
    const std::wstring directory = DirectoryOf(path);
    const std::wstring name = path.substr(directory.size());
    WIN32_FIND_DATAW entry;
    struct FindClose {
        void operator()(HANDLE search) const noexcept { ::FindClose(search); }
    };
    const HANDLE first = ::FindFirstFileExW((directory + L".korvo-*").c_str(), FindExInfoBasic,
                                            &entry, FindExSearchNameMatch, nullptr, 0);
    if (first == INVALID_HANDLE_VALUE)
        return found;
    // Closed on every way out, a failed allocation of `found` included.
    const std::unique_ptr<void, FindClose> search(first);
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        const std::optional<std::wstring> fresh = TagOf(entry.cFileName, kFreshPrefix, name);
        const std::optional<std::wstring> old =
            fresh ? std::nullopt : TagOf(entry.cFileName, kOldPrefix, name);
        if (!fresh && !old)
            continue;
        const std::wstring &tag = fresh ? *fresh : *old;
        Pending &pending = found[tag];
        pending.process_id =
            static_cast<uint32_t>(std::wcstoul(tag.substr(0, 8).c_str(), nullptr, 16));
        if (fresh) {
            pending.fresh = directory + entry.cFileName;
            pending.written = entry.ftLastWriteTime;
        } else {
            pending.old = directory + entry.cFileName;
        }
    } while (::FindNextFileW(search.get(), &entry));
    return found;
}

void DeletePending(const Pending &pending) {
    if (!pending.fresh.empty())
        DeleteWhenClosed(pending.fresh);
    if (!pending.old.empty())
        DeleteWhenClosed(pending.old);
}

// For a reader that found `path` naming nothing: the new file of the
// newest replacement under way, to be opened in the target's stead. A
// replacement whose process died between its steps is finished here (its
// new file takes the name, which the caller then opens), and what dead
// replacements left besides is removed. Empty when the caller should look
// at the path again; nullopt when no replacement of it is under way.
std::optional<std::wstring> SettleReplacements(const std::wstring &path) {
    std::map<std::wstring, Pending> found = PendingReplacements(path);
    // Only a replacement between its two steps has both files: one with
    // the new file alone died before it moved the target, one with the old
    // file alone has put the new file in place.
    const Pending *newest = nullptr;
    for (const auto &[tag, pending] : found)
        if (!pending.fresh.empty() && !pending.old.empty() &&
            (newest == nullptr || ::CompareFileTime(&pending.written, &newest->written) > 0))
            newest = &pending;
    const bool running = newest != nullptr && ProcessMayRun(newest->process_id);
    // Half of a running replacement has just put its new file in place (or
    // is about to move the target): the path is worth another look.
    bool under_way = false;
    for (const auto &[tag, pending] : found) {
        if (&pending == newest)
            continue;
        if (ProcessMayRun(pending.process_id))
            under_way = true;
        else
            DeletePending(pending);
    }
    if (newest == nullptr)
        return under_way ? std::optional<std::wstring>(std::wstring()) : std::nullopt;
    if (running)
        return newest->fresh;
    // Without replacing: a target that appeared meanwhile is newer still.
    if (::MoveFileExW(newest->fresh.c_str(), path.c_str(), 0) ||
        ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        DeleteWhenClosed(newest->old);
    return std::wstring();
}

}  // namespace

bool RenameReplacing(const char *from, const char *to) noexcept {
    try {
        const std::wstring wide_from = WidePath(from);
        const std::wstring wide_to = WidePath(to);
        if (wide_from.empty() || wide_to.empty())
            return false;
        switch (RenameInOneStep(wide_from, wide_to)) {
            case Outcome::kDone:
                return true;
            case Outcome::kFailed:
                return false;
            case Outcome::kUnavailable:
                break;
        }
        if (::MoveFileExW(wide_from.c_str(), wide_to.c_str(), kReplace))
            return true;
        // Without POSIX renames a target that another process holds open
        // cannot be replaced at once: it is moved aside first.
        const DWORD error = ::GetLastError();
        if (error != ERROR_ACCESS_DENIED || IsDirectory(wide_to) ||
            ::GetFileAttributesW(wide_to.c_str()) == INVALID_FILE_ATTRIBUTES ||
            ::GetFileAttributesW(wide_from.c_str()) == INVALID_FILE_ATTRIBUTES) {
            errno = ErrnoOfError(error);
            return false;
        }
        return RenameInTwoSteps(wide_from, wide_to);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return false;
    }
}

int OpenFileOrReplacement(const char *path, unsigned flags) noexcept {
    try {
        // The path names nothing only when a look finds nothing beside it
        // twice in a row: a replacement may have finished between the open
        // and the listing of one look, which then sees nothing of it.
        bool quiet = false;
        std::wstring wide;
        for (int look = 0; look < kLooks; ++look) {
            const int fd = OpenFile(path, flags);
            if (fd >= 0 || errno != ENOENT)
                return fd;
            if (wide.empty())
                wide = WidePath(path);
            const std::optional<std::wstring> fresh =
                wide.empty() ? std::nullopt : SettleReplacements(wide);
            if (!fresh) {
                if (quiet)
                    break;
                quiet = true;
                continue;
            }
            quiet = false;
            std::string fresh_path;
            if (!fresh->empty() && Utf8OfWide(fresh->c_str(), &fresh_path)) {
                const int replacement = OpenFile(fresh_path.c_str(), flags);
                if (replacement >= 0)
                    return replacement;
            }
        }
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    errno = ENOENT;
    return -1;
}

}  // namespace korvo::host
