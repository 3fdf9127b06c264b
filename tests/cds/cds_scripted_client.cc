// A CDS client whose every answer the test scripts: a library of its own
// (libcds_scripted_client.so) exporting the client's five entry points and a
// control interface. Tests load it with dlopen and run download steps on a
// session of their own around it, from several threads at once.
//
// Each DownloadFile starts a download with the next handle (1, 2, ...) and
// answers 0; the test then ends it with scripted_finish, which writes the
// package's file and calls the completion callback, on a thread of the
// client's own or on the caller's; or it never ends it. In the mode "inside",
// DownloadFile itself writes the file and calls back on the caller's thread
// before it returns. GetDownloadDirectory answers the package's file,
// <folder>/<package>.<handle>, which exists once the download has ended.
// Every function may be called from any thread.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define SCRIPTED_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Callback = void (*)(uint32_t handle, int32_t status);

struct Download {
    std::string package;
    std::string file;
    Callback callback = nullptr;
    bool released = false;
};

struct Client {
    std::mutex mutex;
    std::string folder = "/nonexistent";
    bool call_back_inside = false;
    uint32_t last_handle = 0;
    std::map<uint32_t, Download> downloads;
    int running = 0;       // started and not released
    int most_at_once = 0;  // the most downloads running at one time
    std::vector<std::thread> callers;
};

Client client;

bool write_file(const std::string &path, const char *bytes, size_t length) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes, 1, length, file) == length;
    return std::fclose(file) == 0 && written;
}

}  // namespace

SCRIPTED_EXPORT int32_t DownloadFile(const char *, const char *package_id, const char *,
                                     const char *, const char *, Callback callback,
                                     uint32_t *handle) {
    Download started;
    bool inside = false;
    {
        std::lock_guard lock(client.mutex);
        *handle = ++client.last_handle;
        started.package = package_id != nullptr ? package_id : "";
        started.file = client.folder + "/" + started.package + "." + std::to_string(*handle);
        started.callback = callback;
        client.downloads[*handle] = started;
        client.most_at_once = std::max(client.most_at_once, ++client.running);
        inside = client.call_back_inside;
    }
    if (inside) {
        const std::string bytes = "inside:" + started.package;
        if (!write_file(started.file, bytes.data(), bytes.size()))
            return 28;
        callback(*handle, 0);
    }
    return 0;
}

SCRIPTED_EXPORT const char *GetDownloadDirectory(uint32_t handle) {
    std::lock_guard lock(client.mutex);
    const auto found = client.downloads.find(handle);
    return found == client.downloads.end() ? nullptr : found->second.file.c_str();
}

SCRIPTED_EXPORT int32_t GetSingleFileSize(const char *, const char *, const char *, const char *,
                                          uint32_t *size) {
    *size = 0;
    return 1;
}

SCRIPTED_EXPORT int32_t PublishFile(const char *, const char *, const char *, const char *,
                                    const char *) {
    return 1;
}

SCRIPTED_EXPORT int32_t ReleaseFile(uint32_t handle) {
    std::lock_guard lock(client.mutex);
    const auto found = client.downloads.find(handle);
    if (found == client.downloads.end() || found->second.released)
        return 22;
    found->second.released = true;
    --client.running;
    return 0;
}

// Forgets every download (joining the client's callback threads) and
// writes the packages' files into `folder` from now on; `call_back_inside`
// chooses the mode "inside".
SCRIPTED_EXPORT void scripted_reset(const char *folder, int call_back_inside) {
    std::vector<std::thread> callers;
    {
        std::lock_guard lock(client.mutex);
        callers.swap(client.callers);
    }
    for (std::thread &caller : callers)
        caller.join();
    std::lock_guard lock(client.mutex);
    client.folder = folder;
    client.call_back_inside = call_back_inside != 0;
    client.last_handle = 0;
    client.downloads.clear();
    client.running = 0;
    client.most_at_once = 0;
}

// The handle of the download of `package` started last, or 0.
SCRIPTED_EXPORT uint32_t scripted_started(const char *package) {
    std::lock_guard lock(client.mutex);
    uint32_t handle = 0;
    for (const auto &[number, download] : client.downloads)
        if (download.package == package)
            handle = number;
    return handle;
}

// Ends the download `handle`: writes its file with `length` bytes (none for a
// failed download: `bytes` NULL), then calls back with `status`, on a thread
// of the client's own or, with `on_this_thread`, before returning. 0, or -1
// for an unknown handle or a file that cannot be written.
SCRIPTED_EXPORT int scripted_finish(uint32_t handle, int32_t status, const char *bytes,
                                    size_t length, int on_this_thread) {
    Callback callback = nullptr;
    std::string file;
    {
        std::lock_guard lock(client.mutex);
        const auto found = client.downloads.find(handle);
        if (found == client.downloads.end())
            return -1;
        callback = found->second.callback;
        file = found->second.file;
    }
    if (bytes != nullptr && !write_file(file, bytes, length))
        return -1;
    if (on_this_thread) {
        callback(handle, status);
        return 0;
    }
    std::lock_guard lock(client.mutex);
    client.callers.emplace_back([callback, handle, status] { callback(handle, status); });
    return 0;
}

// Ends every download not released yet with `status` and no file, calling
// back on the caller's thread: what a test does to free the steps it leaves
// waiting when it fails.
SCRIPTED_EXPORT void scripted_finish_all(int32_t status) {
    std::vector<std::pair<uint32_t, Callback>> running;
    {
        std::lock_guard lock(client.mutex);
        for (const auto &[handle, download] : client.downloads)
            if (!download.released)
                running.emplace_back(handle, download.callback);
    }
    for (const auto &[handle, callback] : running)
        callback(handle, status);
}

// Whether the download `handle` was released.
SCRIPTED_EXPORT int scripted_released(uint32_t handle) {
    std::lock_guard lock(client.mutex);
    const auto found = client.downloads.find(handle);
    return found != client.downloads.end() && found->second.released ? 1 : 0;
}

// The most downloads that ran at one time since the last reset.
SCRIPTED_EXPORT int scripted_most_at_once(void) {
    std::lock_guard lock(client.mutex);
    return client.most_at_once;
}
