// The table of downloads and the thread that runs each of them.
#include "cds/client/downloads.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "cds/client/descriptor.hpp"
#include "cds/client/transfer.hpp"

namespace cdsclient {

namespace {

// The answer of a download whose server has not answered yet.
constexpr int32_t kNoAnswerYet = -1;
// Seconds DownloadFile waits for the server's answer to begin.
constexpr long kAnswerSeconds = 60;

bool write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

struct Download {
    uint32_t handle = 0;
    std::string package;
    std::string directory;  // the working directory: GetDownloadDirectory's answer
    std::string cached;     // where the package lies once whole

    std::mutex mutex;
    std::condition_variable answered;
    int32_t answer = kNoAnswerYet;  // CDS_OK once the body follows; guarded by `mutex`
    bool abandoned = false;         // nobody waits for the end any more; guarded by `mutex`

    std::atomic<bool> stop{false};   // the transfer is to end now
    std::atomic<bool> ended{false};  // the thread has nothing left to do

    // Records the server's answer for the waiting DownloadFile; false when
    // the download is no longer wanted.
    bool publish(int32_t code) {
        std::lock_guard lock(mutex);
        if (answer == kNoAnswerYet) {
            answer = code;
            answered.notify_all();
        }
        return !abandoned;
    }

    // Whether the caller still waits for the callback.
    bool reported() {
        std::lock_guard lock(mutex);
        return answer == CDS_OK && !abandoned;
    }

    // Gives the download up: no callback, and a running transfer stops.
    void abandon() {
        std::lock_guard lock(mutex);
        abandoned = true;
        stop = true;
    }
};

namespace {

// Moves the whole package from its working file into the cache.
int32_t keep_package(Descriptor &file, const std::string &part, const std::string &cached) {
    if (::close(file.take()) != 0)
        return CDS_CACHE_FAILED;
    return ::rename(part.c_str(), cached.c_str()) == 0 ? CDS_OK : CDS_CACHE_FAILED;
}

struct Credentials {
    bool given = false;
    std::string user_name;
    std::string password;
};

// The download's thread: receives the body into `part`, keeps it when whole,
// cleans the working directory and reports the end.
void receive(std::shared_ptr<Download> download, std::string url, Credentials credentials,
             std::string part, Descriptor file, CdsCompletionFn completion) {
    Transfer transfer(url, credentials.given ? credentials.user_name.c_str() : nullptr,
                      credentials.password.c_str());
    bool body_follows = false;
    bool write_failed = false;
    transfer.on_head([&](const HttpAnswer &answer) {
        int32_t code = code_for_status(answer.status());
        // A package comes whole (200), with an end the client can check.
        if (code == CDS_OK &&
            (answer.status() != 200 || (!answer.content_length() && !answer.chunked())))
            code = CDS_BAD_ANSWER;
        body_follows = download->publish(code) && code == CDS_OK;
        return body_follows;
    });
    transfer.on_body([&](const char *data, size_t size) {
        write_failed = !write_all(file.get(), data, size);
        return !write_failed;
    });
    transfer.on_stop([&] { return download->stop.load(); });
    const CURLcode result = transfer.ready() ? transfer.perform() : CURLE_OUT_OF_MEMORY;

    int32_t status = CDS_OK;
    if (!transfer.head_seen()) {
        status = transfer.answer().malformed() || result == CURLE_OK ? CDS_BAD_ANSWER
                                                                     : code_for_curl(result);
        download->publish(status);
    } else if (!body_follows) {
        status = CDS_CANCELLED;
    } else if (result != CURLE_OK) {
        status = download->stop ? CDS_CANCELLED
                 : write_failed ? CDS_CACHE_FAILED
                                : code_for_curl(result);
    } else {
        status = keep_package(file, part, download->cached);
    }
    ::unlink(part.c_str());
    ::rmdir(download->directory.c_str());
    if (body_follows && download->reported() && completion != nullptr)
        completion(download->handle, status);
    download->ended = true;
}

}  // namespace

Downloads &Downloads::instance() {
    static Downloads downloads;
    return downloads;
}

// libcurl starts before the table exists, so that at exit the table's
// destructor, which joins the download threads, runs before the TLS
// library's clean-up: a thread that was still ending when the process
// exited then frees its TLS state as it ends instead of leaving it behind
// a clean-up that has already run.
Downloads::Downloads() {
    initialise_http_once();
}

Downloads::~Downloads() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (Worker &worker : workers)
        worker.download->abandon();
    for (Worker &worker : workers)
        worker.thread.join();
}

std::shared_ptr<Download> Downloads::add(const std::string &package, const Home &home) {
    auto download = std::make_shared<Download>();
    download->package = package;
    download->cached = home.cached_file(package);
    std::lock_guard lock(mutex_);
    join_ended();
    do {
        ++last_handle_;
    } while (last_handle_ == 0 || handles_.count(last_handle_) != 0);
    download->handle = last_handle_;
    download->directory = home.work_directory(download->handle);
    handles_.emplace(download->handle, download);
    return download;
}

void Downloads::forget(uint32_t handle) {
    std::lock_guard lock(mutex_);
    handles_.erase(handle);
}

void Downloads::join(const std::shared_ptr<Download> &download) {
    std::lock_guard lock(mutex_);
    for (auto worker = workers_.begin(); worker != workers_.end(); ++worker) {
        if (worker->download == download) {
            worker->thread.join();
            workers_.erase(worker);
            return;
        }
    }
}

void Downloads::join_ended() {
    for (auto worker = workers_.begin(); worker != workers_.end();) {
        if (worker->download->ended) {
            worker->thread.join();
            worker = workers_.erase(worker);
        } else {
            ++worker;
        }
    }
}

int32_t Downloads::start(const DownloadRequest &request, uint32_t *handle) {
    if (handle == nullptr)
        return CDS_INVALID_ARGUMENT;
    *handle = 0;
    if (!valid_package_id(request.package_id) || request.completion == nullptr)
        return CDS_INVALID_ARGUMENT;
    const std::optional<std::string> url = package_url(request.manager, request.package_id);
    if (!url)
        return CDS_INVALID_ARGUMENT;
    const std::optional<Home> home = Home::find();
    if (!home || !home->prepare())
        return CDS_CACHE_FAILED;

    std::shared_ptr<Download> download = add(request.package_id, *home);
    if (is_regular_file(download->cached)) {
        *handle = download->handle;
        return CDS_ALREADY_THERE;
    }

    const std::string part = download->directory + "/" + download->package + ".part";
    if (::mkdir(download->directory.c_str(), 0700) != 0) {
        forget(download->handle);
        return CDS_CACHE_FAILED;
    }
    Descriptor file(
        ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (file.get() < 0) {
        ::rmdir(download->directory.c_str());
        forget(download->handle);
        return CDS_CACHE_FAILED;
    }
    Credentials credentials;
    if (request.user_name != nullptr) {
        credentials.given = true;
        credentials.user_name = request.user_name;
        credentials.password = request.password != nullptr ? request.password : "";
    }
    try {
        std::lock_guard lock(mutex_);
        workers_.push_back(Worker{std::thread(receive, download, *url, std::move(credentials), part,
                                              std::move(file), request.completion),
                                  download});
    } catch (const std::system_error &) {
        ::unlink(part.c_str());
        ::rmdir(download->directory.c_str());
        forget(download->handle);
        return CDS_NO_MEMORY;
    }

    const long seconds = seconds_from_environment("CDSCLIENT_ANSWER_TIMEOUT", kAnswerSeconds);
    int32_t answer = CDS_TIMED_OUT;
    {
        std::unique_lock lock(download->mutex);
        if (download->answered.wait_for(lock, std::chrono::seconds(seconds),
                                        [&] { return download->answer != kNoAnswerYet; }))
            answer = download->answer;
        if (answer != CDS_OK) {
            download->abandoned = true;
            download->stop = true;
        }
    }
    if (answer != CDS_OK) {
        forget(download->handle);
        // A refused download ends at once: wait for it, so that nothing of it
        // is left when the caller hears the answer. One without an answer
        // may still be connecting; it ends by itself.
        if (answer != CDS_TIMED_OUT)
            join(download);
        return answer;
    }
    *handle = download->handle;
    return CDS_OK;
}

const char *Downloads::directory(uint32_t handle) {
    std::lock_guard lock(mutex_);
    const auto found = handles_.find(handle);
    return found == handles_.end() ? nullptr : found->second->directory.c_str();
}

int32_t Downloads::release(uint32_t handle) {
    std::shared_ptr<Download> download;
    {
        std::lock_guard lock(mutex_);
        const auto found = handles_.find(handle);
        if (found == handles_.end())
            return CDS_INVALID_ARGUMENT;
        download = found->second;
        handles_.erase(found);
    }
    download->abandon();
    std::lock_guard lock(mutex_);
    join_ended();
    return CDS_OK;
}

}  // namespace cdsclient
