// How a download step waits: for its turn (at most one step runs at a time
// in a process), and for the client's completion callback of its download in
// steps of 10 seconds with a gateway command polled before each, up to a
// limit of 10800 seconds (3 hours) after which the step fails with message
// 204. The time is counted in steps, not read from a clock; the wait itself
// is a function the caller may replace, so that a test can run the whole
// limit at once. Runs on the step's thread; the session's mutex is held
// only inside these functions, and released while waiting and polling.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "cds/cds_session.hpp"
#include "properties/errors/catalog_raise.hpp"

namespace korvo::cds {

inline constexpr int32_t kWaitStepSeconds = 10;
inline constexpr int32_t kWaitLimitSeconds = 10800;

// Polled before each wait step; a nonzero answer (the stop code of a gateway
// command) ends the wait at once with that code.
using StopPoll = std::function<int32_t()>;

// Waits on `done` for at most `step`, with `lock` held on entry and on return.
using WaitStep = std::function<void(std::unique_lock<std::mutex> &lock,
                                    std::condition_variable &done, std::chrono::seconds step)>;

inline void wait_on_condition(std::unique_lock<std::mutex> &lock, std::condition_variable &done,
                              std::chrono::seconds step) {
    done.wait_for(lock, step);
}

// The poll with the session's mutex released: a poll may block on the
// gateway channel, and a callback must not wait for it.
inline int32_t poll_unlocked(std::unique_lock<std::mutex> &lock, const StopPoll &stopped) {
    if (!stopped)
        return 0;
    lock.unlock();
    const int32_t stop = stopped();
    lock.lock();
    return stop;
}

// The turn of one download step (for the package `package_id`), held from
// its construction (once `stop()` is 0) until it ends. A step that finds the
// turn taken logs "korvo: The CDS download of %s waits for the download
// step of another stream." once and waits in steps of 10 seconds, polling
// before each; a stop code ends that wait (nothing was started) without the
// turn.
class Turn {
  public:
    Turn(Session &session, const char *package_id, const StopPoll &stopped, const WaitStep &wait)
        : session_(session) {
        std::unique_lock lock(session.cds_mutex);
        bool logged = false;
        while (session.step_running) {
            if (!logged) {
                lock.unlock();
                cds_log(CDS_LOG_TRACE,
                        "korvo: The CDS download of %s waits for the download step of another "
                        "stream.\n",
                        package_id != nullptr ? package_id : "<null>");
                logged = true;
                lock.lock();
            }
            if ((stop_ = poll_unlocked(lock, stopped)) != 0)
                return;
            if (!session.step_running)
                break;
            wait(lock, session.cds_done, std::chrono::seconds(kWaitStepSeconds));
        }
        session.step_running = true;
        session.awaited = 0;
        session.ended.clear();
        held_ = true;
    }
    ~Turn() {
        if (!held_)
            return;
        std::lock_guard lock(session_.cds_mutex);
        session_.step_running = false;
        session_.awaited = 0;
        session_.ended.clear();
        session_.cds_done.notify_all();
    }
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;

    // The stop code that ended the wait for the turn, or 0 (the turn is held).
    int32_t stop() const { return stop_; }

  private:
    Session &session_;
    bool held_ = false;
    int32_t stop_ = 0;
};

// Waits, holding the turn, until the callback of download `handle` has come
// (0) or a poll answers a stop code (returned). Raises message 204 when the
// limit is reached first.
inline int32_t wait_for_download(Session &session, uint32_t handle, const StopPoll &stopped,
                                 const WaitStep &wait) {
    std::unique_lock lock(session.cds_mutex);
    session.awaited = handle;
    int32_t waited = 0;
    while (!session.has_ended(handle) && waited < kWaitLimitSeconds) {
        if (const int32_t stop = poll_unlocked(lock, stopped); stop != 0)
            return stop;
        if (session.has_ended(handle))
            break;
        wait(lock, session.cds_done, std::chrono::seconds(kWaitStepSeconds));
        waited += kWaitStepSeconds;
    }
    if (!session.has_ended(handle))
        helpers::raise_message(KORVO_MSG_CDS_COMMAND_TIMED_OUT, "DownloadFile", handle,
                               kWaitLimitSeconds);
    return 0;
}

}  // namespace korvo::cds
