// Rewriting a progress file in place through the descriptor its record
// keeps.
#include "stream/progress_file.hpp"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <vector>

#include "kes/host_file.hpp"
#include "kes/host_system.hpp"
#include "kes/kes_fd.hpp"
#include "kes/kes_replace.hpp"

namespace korvo::stream {

namespace {

// Whether the held file still has one name (its own, `path`) and `length`
// bytes. Only the kind, the link count and the size are asked for: asking
// for the file's times as well (a full status does) marks them as seen, and
// a file system with fine-grained timestamps then updates them at the next
// write. Where a replaced file keeps a name of its own while it is held
// (Windows), the path is asked whether it still names the held file.
bool holds_only_name(const ProgressFile &file, const char *path, uint32_t length) {
    host::FileBrief brief;
    return host::BriefStatFile(file.fd, &brief) && brief.regular && brief.links == 1 &&
           brief.size == static_cast<int64_t>(length) &&
           (!host::ReplacedFilesKeepAName() || host::PathNamesFile(path, file.fd));
}

// Replacements of progress files by this process, so that a record whose
// file another record replaced looks at once rather than when due.
std::atomic<uint64_t> g_replacements{0};

int64_t steady_now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Whether the file must be looked at before this write: always for a
// caller's save, and for a checkpoint after a replacement by this process
// or once the last look is kRecheckInterval old.
bool look_due(const ProgressFile &file, FileLook look, uint64_t replacements, int64_t now) {
    return look == FileLook::kEverySave || replacements != file.replacements ||
           now - file.lookedAt >= std::chrono::nanoseconds(kRecheckInterval).count();
}

}  // namespace

void note_replacement() {
    g_replacements.fetch_add(1, std::memory_order_relaxed);
}

uint32_t in_place_limit() {
    return static_cast<uint32_t>(host::PageSize());
}

bool rewrite_in_place(ProgressFile &file, const char *path, const uint8_t *bytes, uint32_t length,
                      FileLook look) {
    if (!file.open || path == nullptr || length != file.size || length == 0 ||
        length > in_place_limit())
        return false;
    // The count is read before the look, so that a replacement during it
    // makes the next checkpoint look again.
    const uint64_t replacements = g_replacements.load(std::memory_order_relaxed);
    const int64_t now = steady_now();
    if (look_due(file, look, replacements, now)) {
        if (!holds_only_name(file, path, length))
            return false;
        file.lookedAt = now;
        file.replacements = replacements;
    }
    return host::WriteFileAt(file.fd, bytes, length, 0) == static_cast<int64_t>(length);
}

void hold_replaced(ProgressFile &file, const char *path, uint32_t length) {
    // Other records of the id may hold the file this save replaced.
    note_replacement();
    close_progress_file(file);
    // The record's own file, never a link planted in its place.
    kes::UniqueFd fd(
        host::OpenFile(path, host::kOpenWrite | host::kOpenNoFollow | host::kOpenNonBlock));
    host::FileBrief brief;
    if (!fd || !host::BriefStatFile(fd.get(), &brief) || !brief.regular)
        return;
    file.open = true;
    file.fd = fd.release();
    file.size = length;
    file.renamed = true;
    file.lookedAt = steady_now();
    file.replacements = g_replacements.load(std::memory_order_relaxed);
}

void close_progress_file(ProgressFile &file) {
    if (file.open)
        host::CloseFile(file.fd);
    file.open = false;
    file.fd = -1;
    file.size = 0;
    file.renamed = false;
    file.lookedAt = 0;
    file.replacements = 0;
}

void release_before_replace(ProgressFile &file) {
    // A replaced file that keeps a name while held is one that was moved
    // aside: the same hosts replace a held file in two steps.
    if (host::ReplacedFilesKeepAName())
        close_progress_file(file);
}

bool sync_progress_file(ProgressFile &file, const char *dir) {
    if (!file.open || !host::SyncFile(file.fd))
        return false;
    if (!file.renamed)
        return true;
    const bool synced = host::SyncDirectory(dir);
    file.renamed = !synced;
    return synced;
}

void give_finished_file(const char *path) {
    const kes::UniqueFd fd(
        host::OpenFile(path, host::kOpenRead | host::kOpenNoFollow | host::kOpenNonBlock));
    host::FileBrief brief;
    if (!fd || !host::BriefStatFile(fd.get(), &brief) || !brief.regular || brief.size <= 0 ||
        brief.size > static_cast<int64_t>(in_place_limit()))
        return;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(brief.size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int64_t n = host::ReadFileAt(fd.get(), bytes.data() + done, bytes.size() - done,
                                           static_cast<int64_t>(done));
        if (n <= 0)
            return;  // it changed under us: leave it as it is
        done += static_cast<std::size_t>(n);
    }
    kes::FileReplacement replacement(path);
    if (replacement.write(bytes.data(), bytes.size()))
        replacement.commit();
}

}  // namespace korvo::stream
