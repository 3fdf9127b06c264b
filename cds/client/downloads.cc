// The table of downloads and the thread that runs each of them.
#include "cds/client/downloads.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <system_error>

#include "cds/client/cache_confirmation.hpp"
#include "cds/client/cache_root.hpp"
#include "cds/client/cached_package.hpp"
#include "cds/client/descriptor.hpp"
#include "cds/client/limits.hpp"
#include "cds/client/private_files.hpp"
#include "cds/client/sha256.hpp"
#include "cds/client/transfer.hpp"
#include "cds/client/work_directory.hpp"

namespace cdsclient {

namespace {

// The answer of a download whose server has not answered yet.
constexpr int32_t kNoAnswerYet = -1;
// Bytes written between two looks at the free space.
constexpr uint64_t kSpaceCheckInterval = 16 << 20;
// The part file's bytes are handed to the disk every this many bytes while
// the body still arrives, so that the sync before the package enters the
// cache finds little left to write instead of the whole package.
constexpr uint64_t kWritebackInterval = 8 << 20;

}  // namespace

struct Download {
    uint32_t handle = 0;
    std::string package;
    std::string directory;  // the working directory: GetDownloadDirectory's answer while it runs
    std::string part;       // the body's file in it: the answer once the download failed
    std::string cached;     // where the package lies once whole: the answer then

    std::mutex mutex;
    std::condition_variable answered;
    int32_t answer = kNoAnswerYet;  // CDS_OK once the body follows; guarded by `mutex`
    bool abandoned = false;         // nobody waits for the end any more; guarded by `mutex`

    std::atomic<bool> stop{false};    // the transfer is to end now
    std::atomic<bool> whole{false};   // the package is in the cache
    std::atomic<bool> failed{false};  // the download ended without the package
    std::atomic<bool> ended{false};   // the thread has nothing left to do

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

    // GetDownloadDirectory's answer: the working directory while the
    // download runs, the package's own file once it is in the cache, and
    // after a failure the body's file, which is gone then, as is the place
    // near it (<root>/downloads/cache/files/1/...): a failed download never
    // points at an older copy, and a directory is never answered as the
    // package.
    const char *answer_path() const {
        return whole ? cached.c_str() : failed ? part.c_str() : directory.c_str();
    }
};

namespace {

struct Credentials {
    bool given = false;
    std::string user_name;
    std::string password;
};

// Everything the download's thread owns.
struct Job {
    std::shared_ptr<Download> download;
    CacheRoot root;
    std::string url;
    Credentials credentials;
    Limits limits;
    WorkDirectory work;
    std::string part;
    Descriptor file;
    CdsCompletionFn completion;
};

// Why the body was refused while it came.
enum class BodyFault { kNone, kWrite, kTooLarge, kPastLength, kNoSpace };

// The download's thread: receives the body into the part file, checks it
// and keeps it, cleans the working directory and reports the end.
void receive(Job job) {
    const std::shared_ptr<Download> &download = job.download;
    Transfer transfer(job.url, job.credentials.given ? job.credentials.user_name.c_str() : nullptr,
                      job.credentials.password.c_str());
    bool body_follows = false;
    std::optional<uint64_t> declared;
    CheckRecord record;
    std::optional<Sha256> hash;
    uint64_t received = 0;
    uint64_t next_space_check = kSpaceCheckInterval;
    uint64_t written_back = 0;
    BodyFault fault = BodyFault::kNone;

    transfer.on_head([&](const HttpAnswer &answer) {
        int32_t code = code_for_status(answer.status());
        // A package comes whole (200), with an end the client can check.
        if (code == CDS_OK &&
            (answer.status() != 200 || (!answer.content_length() && !answer.chunked())))
            code = CDS_BAD_ANSWER;
        declared = answer.chunked() ? std::nullopt : answer.content_length();
        if (code == CDS_OK && declared && *declared > job.limits.largest)
            code = CDS_TOO_LARGE;
        if (code == CDS_OK) {
            const std::optional<uint64_t> free = free_bytes(job.file.get());
            if (!free || !job.limits.fits(declared.value_or(0), *free))
                code = CDS_CACHE_FAILED;
        }
        if (code == CDS_OK) {
            record.etag = answer.etag();
            record.last_modified = answer.last_modified();
            record.sha256 = answer.sha256();
            if (record.sha256)
                hash.emplace();
        }
        body_follows = download->publish(code) && code == CDS_OK;
        return body_follows;
    });
    transfer.on_body([&](const char *data, size_t size) {
        received += size;
        if (received > job.limits.largest)
            fault = BodyFault::kTooLarge;
        else if (declared && received > *declared)
            fault = BodyFault::kPastLength;
        else if (!write_all(job.file.get(), data, size))
            fault = BodyFault::kWrite;
        else if (received >= next_space_check) {
            next_space_check = received + kSpaceCheckInterval;
            const std::optional<uint64_t> free = free_bytes(job.file.get());
            if (!free || !job.limits.fits(0, *free))
                fault = BodyFault::kNoSpace;
        }
        if (fault != BodyFault::kNone)
            return false;
        if (received - written_back >= kWritebackInterval) {
            // Starts the writing without waiting for it; a failure here
            // shows, if it matters, in the sync that keeps the package.
            start_writeback(job.file.get(), written_back, received - written_back);
            written_back = received;
        }
        if (hash)
            hash->update(data, size);
        return true;
    });
    transfer.on_stop([&] { return download->stop.load(); });
    const TransportResult result =
        transfer.ready() ? transfer.perform() : TransportResult::kNoMemory;

    int32_t status = CDS_OK;
    if (!transfer.head_seen()) {
        status = transfer.answer().malformed() || result == TransportResult::kOk
                     ? CDS_BAD_ANSWER
                     : code_for_transport(result);
        download->publish(status);
    } else if (!body_follows) {
        status = CDS_CANCELLED;
    } else if (download->stop) {
        status = CDS_CANCELLED;
    } else if (fault == BodyFault::kTooLarge) {
        status = CDS_TOO_LARGE;
    } else if (fault == BodyFault::kPastLength) {
        status = CDS_BAD_ANSWER;
    } else if (fault != BodyFault::kNone) {
        status = CDS_CACHE_FAILED;
    } else if (result != TransportResult::kOk) {
        status = code_for_transport(result);
    } else if (declared && received != *declared) {
        status = CDS_INCOMPLETE;
    } else if (hash && hash->finish() != *record.sha256) {
        status = CDS_DIGEST_MISMATCH;
    } else if (!keep_package(job.root, download->package, job.file.get(), job.part, record,
                             job.work.path() + "/check")) {
        status = CDS_CACHE_FAILED;
    }
    if (status == CDS_OK) {
        job.root.write_note();
        download->whole = true;
    } else {
        download->failed = true;
    }
    ::close(job.file.take());
    { const WorkDirectory finished = std::move(job.work); }
    if (body_follows && download->reported() && job.completion != nullptr)
        job.completion(download->handle, status);
    download->ended = true;
}

}  // namespace

Downloads &Downloads::instance() {
    static Downloads downloads;
    return downloads;
}

// The HTTP transport starts before the table exists, so that at exit the
// table's destructor, which joins the download threads, runs before the TLS
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

void Downloads::add(const std::shared_ptr<Download> &download) {
    std::lock_guard lock(mutex_);
    join_ended();
    do {
        ++last_handle_;
    } while (last_handle_ == 0 || handles_.count(last_handle_) != 0);
    download->handle = last_handle_;
    handles_.emplace(download->handle, download);
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
    const std::optional<std::string> server = server_url(request.manager);
    if (!server)
        return CDS_INVALID_ARGUMENT;
    const std::string url = package_url(*server, request.package_id);
    const std::optional<Home> home = Home::find();
    if (!home)
        return CDS_CACHE_FAILED;
    CacheRoot root(*home, *server, request.user_name);
    if (!root.prepare())
        return CDS_CACHE_FAILED;
    clean_stale_downloads(root.downloads_directory());
    const Limits limits = Limits::from_environment();

    auto download = std::make_shared<Download>();
    download->package = request.package_id;
    download->cached = root.package_file(request.package_id);

    const Confirmation held = confirm_cached(root, download->package, url, request.user_name,
                                             request.password, limits.answer_seconds);
    if (held.code != CDS_OK)
        return held.code;
    if (held.held) {
        download->whole = true;
        download->ended = true;
        add(download);
        *handle = download->handle;
        return CDS_ALREADY_THERE;
    }

    std::optional<WorkDirectory> work = WorkDirectory::create(root.downloads_directory());
    if (!work)
        return CDS_CACHE_FAILED;
    download->directory = work->path();
    download->part = work->path() + "/" + download->package + ".part";
    std::string part = download->part;
    Descriptor file(create_private_file(part));
    if (file.get() < 0)
        return CDS_CACHE_FAILED;
    Credentials credentials;
    if (request.user_name != nullptr) {
        credentials.given = true;
        credentials.user_name = request.user_name;
        credentials.password = request.password != nullptr ? request.password : "";
    }
    add(download);
    try {
        std::lock_guard lock(mutex_);
        workers_.push_back(Worker{
            std::thread(receive,
                        Job{download, root, url, std::move(credentials), limits, std::move(*work),
                            std::move(part), std::move(file), request.completion}),
            download});
    } catch (const std::system_error &) {
        forget(download->handle);
        return CDS_NO_MEMORY;
    }

    int32_t answer = CDS_TIMED_OUT;
    {
        std::unique_lock lock(download->mutex);
        if (download->answered.wait_for(lock, std::chrono::seconds(limits.answer_seconds),
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
    return found == handles_.end() ? nullptr : found->second->answer_path();
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
