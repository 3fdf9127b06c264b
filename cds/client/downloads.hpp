// The client's downloads: the table of handles, the check of a cached
// package before it is answered "already there", and one thread per running
// download that receives the package into the download's working directory,
// moves it into the cache when it is whole and checked, and reports the end
// through the caller's completion callback. The table lives as long as the
// process; when the process ends, downloads still running are stopped and
// their threads joined. All members may be called from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cds/client/cds_client.h"

namespace cdsclient {

struct Download;

// What DownloadFile was asked for.
struct DownloadRequest {
    const char *manager;
    const char *package_id;
    const char *user_name;
    const char *password;
    CdsCompletionFn completion;
};

class Downloads {
  public:
    static Downloads &instance();
    ~Downloads();

    // DownloadFile: see cds_client.h.
    int32_t start(const DownloadRequest &request, uint32_t *handle);
    // GetDownloadDirectory.
    const char *directory(uint32_t handle);
    // ReleaseFile.
    int32_t release(uint32_t handle);

  private:
    Downloads();
    // Enters `download` into the table under a new nonzero handle.
    void add(const std::shared_ptr<Download> &download);
    void forget(uint32_t handle);
    // Waits for the thread of `download` to end.
    void join(const std::shared_ptr<Download> &download);
    // Joins the threads of downloads that have ended. Needs `mutex_`.
    void join_ended();

    struct Worker {
        std::thread thread;
        std::shared_ptr<Download> download;
    };

    std::mutex mutex_;
    std::map<uint32_t, std::shared_ptr<Download>> handles_;
    std::vector<Worker> workers_;
    uint32_t last_handle_ = 0;
};

}  // namespace cdsclient
