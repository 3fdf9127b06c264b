// The wait of a download step for the client's completion callback: steps of
// 10 seconds, a gateway command polled before each, and a limit of 10800
// seconds (3 hours) after which the step fails with message 204. The time is
// counted in steps, not read from a clock; the wait itself is a function the
// caller may replace, so that a test can run the whole limit at once. Runs on
// the step's thread with the session's mutex held (released while waiting).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "cds/cds_session.hpp"
#include "properties/catalog_raise.hpp"

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

// Waits until the download `handle` has ended (0) or a poll answers a stop
// code (returned). `lock` holds the session's mutex. Raises message 204 when
// the limit is reached first.
inline int32_t wait_for_download(Session &session, std::unique_lock<std::mutex> &lock,
                                 uint32_t handle, const StopPoll &stopped, const WaitStep &wait) {
    session.awaited = handle;
    session.waiting = true;
    struct NotWaiting {
        Session &session;
        ~NotWaiting() { session.waiting = false; }
    } not_waiting{session};
    int32_t waited = 0;
    while (!session.cds_finished && waited < kWaitLimitSeconds) {
        if (stopped) {
            if (const int32_t stop = stopped(); stop != 0)
                return stop;
        }
        wait(lock, session.cds_done, std::chrono::seconds(kWaitStepSeconds));
        waited += kWaitStepSeconds;
    }
    if (!session.cds_finished)
        helpers::raise_message(KORVO_MSG_CDS_COMMAND_TIMED_OUT, "DownloadFile", handle,
                               kWaitLimitSeconds);
    return 0;
}

}  // namespace korvo::cds
