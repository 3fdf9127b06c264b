// A turn at the CDS client's machine registry key
// (HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\CDSClient), which
// every test that writes it takes first: the key is one per machine, and
// test programs of both targets may run side by side under one Wine prefix.
// Windows only. One thread holds a turn; it waits at most kTurnWait.
#pragma once

#include <windows.h>

#include <chrono>

namespace cds_test {

inline constexpr const char *kClientSubkey = "System\\CurrentControlSet\\Services\\CDSClient";
inline constexpr std::chrono::seconds kTurnWait{120};

// A turn at the client's machine key: held from construction to
// destruction, waited for at most kTurnWait. A holder that died gives
// the turn on (an abandoned mutex is a turn all the same).
class MachineKeyTurn {
  public:
    MachineKeyTurn() : mutex_(CreateMutexA(nullptr, FALSE, "Global\\korvo-test-cds-client-key")) {
        if (mutex_ == nullptr)
            return;
        const DWORD waited = WaitForSingleObject(
            mutex_, static_cast<DWORD>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(kTurnWait).count()));
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~MachineKeyTurn() {
        if (held_)
            ReleaseMutex(mutex_);
        if (mutex_ != nullptr)
            CloseHandle(mutex_);
    }
    MachineKeyTurn(const MachineKeyTurn &) = delete;
    MachineKeyTurn &operator=(const MachineKeyTurn &) = delete;
    bool held() const { return held_; }

  private:
    HANDLE mutex_;
    bool held_ = false;
};

}  // namespace cds_test
