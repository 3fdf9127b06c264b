// Kes locks across processes: taking turns, hand-over of a lock whose holder
// was killed, recursion, refused releases, and many processes creating one
// lock at once. Each test works in a lock namespace of its own and removes its
// shared memory objects.
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kes/kes_sem.h"
#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using korvo::test::Child;
using korvo::test::Pipe;
using korvo::test::Shared;

struct Status {
    int32_t code, osError, step;
    bool operator==(const Status &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Status &s) {
    return out << "{" << s.code << ", " << s.osError << ", " << s.step << "}";
}

Status run(KesStatus *(*operation)(KesStatus *, KesSem *), KesSem *sem) {
    KesStatus status{-9, -9, -9};
    operation(&status, sem);
    return {status.code, status.osError, status.step};
}
Status init(KesSem *sem, const char *name) {
    KesStatus status{-9, -9, -9};
    KesInitSem(&status, sem, name);
    return {status.code, status.osError, status.step};
}
Status take(KesSem *sem) {
    return run(KesWaitSem, sem);
}
Status release(KesSem *sem) {
    return run(KesPostSem, sem);
}
Status close(KesSem *sem) {
    return run(KesDestSem, sem);
}

constexpr Status kOk{0, 0, 0};
constexpr Status kAbandoned{KES_WAIT_FAILED, 0, 3};
#if defined(_WIN32)
// A release by a thread that does not hold the mutex: ERROR_NOT_OWNER, the
// Windows error itself.
constexpr Status kNotHeld{KES_SYSTEM_ERROR, 288, 0};
#else
constexpr Status kNotHeld{KES_SYSTEM_ERROR, EPERM, 0};
#endif
constexpr Status kInvalid{KES_INVALID, 0, 1};

// Shared by the processes of a test: holders inside the lock at the same
// time are counted as collisions.
struct Turns {
    std::atomic<int> inside{0}, collisions{0}, turns{0}, flag{0};
    void criticalSection() {
        if (inside.exchange(1) != 0)
            collisions.fetch_add(1);
        sched_yield();  // gives a second holder every chance to show up
        turns.store(turns.load() + 1);
        inside.store(0);
    }
};

class KesSemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        space_ = "test" + std::to_string(getpid()) + "x" + std::to_string(std::random_device()());
        korvo::test::setEnvironmentVariable("KORVO_LOCK_NAMESPACE", space_.c_str());
        watchdog_.emplace(120);
    }
    void TearDown() override {
        watchdog_.reset();
        for (const std::string &object : objects())
            korvo::test::removeSharedMemoryObject(object);
        korvo::test::setEnvironmentVariable("KORVO_LOCK_NAMESPACE", nullptr);
    }
    std::vector<std::string> objects() const {
        return korvo::test::sharedMemoryObjects("korvo." + space_ + ".");
    }
    std::string space_;
    std::optional<korvo::test::Watchdog> watchdog_;
};

// Creates DEPOT, says so on end 0, and lets it go when end 1 says so. Argument:
// the shared Turns.
KORVO_CHILD_BODY(CreateAndHoldDepot) {
    Shared<Turns> shared(child.arg(0));
    KesSem sem = nullptr;
    if (init(&sem, "DEPOT") != kOk)
        return 1;
    child.end(0).send();
    if (child.end(1).receive() != 'x')
        return 2;
    shared->flag.store(1);
    return release(&sem) == kOk && close(&sem) == kOk ? 0 : 3;
}

// Opens DEPOT between a byte on end 0 and one on end 1; it must find the flag
// its creator set before letting go.
KORVO_CHILD_BODY(OpenHeldDepot) {
    Shared<Turns> shared(child.arg(0));
    KesSem sem = nullptr;
    child.end(0).send();
    const Status status = init(&sem, "DEPOT");
    child.end(1).send();
    if (status != kOk || shared->flag.load() != 1)
        return 1;
    return release(&sem) == kOk && close(&sem) == kOk ? 0 : 2;
}

TEST_F(KesSemTest, ANewLockIsHeldByItsCreatorUntilReleased) {
    // Both sides are children, so that the second one opens the lock afresh
    // rather than through a mapping this process holds.
    Shared<Turns> shared;
    Pipe created, letGo, ready, got;
    Child creator("CreateAndHoldDepot",
                  {.args = {shared.name()}, .ends = {created.writeEnd(), letGo.readEnd()}});
    ASSERT_EQ(created.receive(), 'x');
    EXPECT_TRUE(korvo::test::sharedMemoryObjectExists("korvo." + space_ + ".DEPOT"));
    if (korvo::test::sharedMemoryObjectsListable()) {
        EXPECT_EQ(objects(), std::vector<std::string>{"korvo." + space_ + ".DEPOT"});
    }
    Child other("OpenHeldDepot",
                {.args = {shared.name()}, .ends = {ready.writeEnd(), got.writeEnd()}});
    ASSERT_EQ(ready.receive(), 'x');
    // Not a synchronisation: a lock that does not hold the other process off
    // shows up here as an early answer.
    EXPECT_EQ(got.receive(200), -1);
    letGo.send();
    EXPECT_EQ(creator.wait(), 0);
    EXPECT_EQ(other.wait(), 0);
}

// 100 turns of ENUM, once end 0 has ended, so that all start together; the
// lock opened (or created) is held until the first release.
KORVO_CHILD_BODY(CreatingContender) {
    Shared<Turns> shared(child.arg(0));
    if (child.end(0).receive() != -1)
        return 9;
    KesSem sem = nullptr;
    if (init(&sem, "ENUM") != kOk)
        return 1;
    for (int round = 0; round < 100; ++round) {
        if (round > 0 && take(&sem) != kOk)
            return 2;
        shared->criticalSection();
        if (release(&sem) != kOk)
            return 3;
    }
    return close(&sem) == kOk ? 0 : 5;
}

TEST_F(KesSemTest, ManyProcessesCreatingOneLockTakeTurns) {
    Shared<Turns> shared;
    Pipe start;  // all start together when it closes
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 8; ++i) {
        children.push_back(std::make_unique<Child>(
            "CreatingContender",
            korvo::test::ChildStart{.args = {shared.name()}, .ends = {start.readEnd()}}));
    }
    start.closeWrite();
    for (auto &child : children)
        EXPECT_EQ(child->wait(), 0);
    EXPECT_EQ(shared->collisions.load(), 0);
    EXPECT_EQ(shared->turns.load(), 8 * 100);
    // Where the lock is a file it outlives its users; a kernel object goes
    // with its last handle.
    if (korvo::test::sharedMemoryObjectsListable()) {
        EXPECT_EQ(objects().size(), 1u);
    }
}

// Creates DEPOT, says so on end 0 and waits on end 1 until it is killed.
KORVO_CHILD_BODY(HoldDepotUntilKilled) {
    KesSem sem = nullptr;
    if (init(&sem, "DEPOT") != kOk)
        return 1;
    child.end(0).send();
    child.end(1).receive();  // killed while holding the lock
    return 2;
}

// Says on end 0 that it is about to wait for DEPOT, which it must get as
// abandoned.
KORVO_CHILD_BODY(WaitForAbandonedDepot) {
    KesSem sem = nullptr;
    child.end(0).send();
    if (init(&sem, "DEPOT") != kAbandoned)
        return 1;
    // It holds the lock now: it takes it again and releases it twice.
    if (take(&sem) != kOk || release(&sem) != kOk || release(&sem) != kOk)
        return 2;
    return release(&sem) == kNotHeld && close(&sem) == kOk ? 0 : 3;
}

TEST_F(KesSemTest, AKilledHoldersLockGoesToTheNextWaiterAsAbandoned) {
#if defined(_WIN32)
    // A Windows mutex goes with its last handle: were the holder killed
    // before the waiter opened it, the waiter would make a new one. Another
    // process that has the lock open (this one) keeps it, and with it the
    // abandonment.
    KesSem kept = nullptr;
    ASSERT_EQ(init(&kept, "DEPOT"), kOk);
    ASSERT_EQ(release(&kept), kOk);
#endif
    Pipe holding, waiting, never;
    Child holder("HoldDepotUntilKilled", {.ends = {holding.writeEnd(), never.readEnd()}});
    ASSERT_EQ(holding.receive(), 'x');
    Child waiter("WaitForAbandonedDepot", {.ends = {waiting.writeEnd()}});
    ASSERT_EQ(waiting.receive(), 'x');
    holder.kill();
    EXPECT_EQ(holder.wait(), korvo::test::kKilled);
    EXPECT_EQ(waiter.wait(), 0);

    // Abandonment is reported once; the lock is sound again.
    KesSem sem = nullptr;
    EXPECT_EQ(init(&sem, "DEPOT"), kOk);
    EXPECT_EQ(release(&sem), kOk);
    EXPECT_EQ(close(&sem), kOk);
#if defined(_WIN32)
    EXPECT_EQ(close(&kept), kOk);
#endif
}

TEST_F(KesSemTest, RecursionAndReleasesByOthers) {
    for (const char *name : {"ENTRY", static_cast<const char *>(nullptr)}) {
        SCOPED_TRACE(name == nullptr ? "private" : name);
        KesSem sem = nullptr;
        ASSERT_EQ(init(&sem, name), kOk);
        EXPECT_EQ(take(&sem), kOk);  // the holder does not block
        Status other{};
        std::thread([&] { other = release(&sem); }).join();
        EXPECT_EQ(other, kNotHeld);
        EXPECT_EQ(release(&sem), kOk);
        EXPECT_EQ(release(&sem), kOk);
        EXPECT_EQ(release(&sem), kNotHeld);
        EXPECT_EQ(close(&sem), kOk);
    }
}

TEST_F(KesSemTest, PrivateLocks) {
    // Two private locks are two locks, and they leave nothing in shared memory.
    KesSem first = nullptr, second = nullptr;
    ASSERT_EQ(init(&first, nullptr), kOk);
    ASSERT_EQ(init(&second, ""), kOk);
    ASSERT_EQ(release(&second), kOk);
    Status taken{};
    std::thread([&] { taken = take(&second), release(&second); }).join();
    EXPECT_EQ(taken, kOk);  // would wait for `first` if both were one lock
    EXPECT_TRUE(objects().empty());
    EXPECT_EQ(close(&first), kOk);  // still held: let go by its closing
    EXPECT_EQ(close(&second), kOk);

#if !defined(_WIN32)
    // One that another thread holds is not destroyed under it. (A Windows
    // mutex handle closes whoever holds the mutex: nothing to refuse.)
    KesSem held = nullptr;
    ASSERT_EQ(init(&held, nullptr), kOk);
    ASSERT_EQ(release(&held), kOk);
    Pipe holding, closed;
    Status byHolder{};
    std::thread holder([&] {
        take(&held);
        holding.send();
        closed.receive();
        byHolder = release(&held) == kOk ? close(&held) : Status{};
    });
    ASSERT_EQ(holding.receive(), 'x');
    KesSem alias = held;
    EXPECT_EQ(close(&alias), (Status{KES_SYSTEM_ERROR, EBUSY, 0}));
    closed.send();
    holder.join();
    EXPECT_EQ(byHolder, kOk);
#endif
}

KORVO_CHILD_BODY(AbandonPrivateLock) {
    KesSem sem = nullptr;
    if (init(&sem, nullptr) != kOk || release(&sem) != kOk)
        return 1;
    std::thread([&] { take(&sem); }).join();
    if (take(&sem) != kAbandoned)
        return 2;
    if (release(&sem) != kOk || take(&sem) != kOk || release(&sem) != kOk)
        return 3;  // consistent again: taken and released as usual
    std::thread([&] { take(&sem); }).join();
    return close(&sem) == kOk ? 0 : 4;
}

// A thread that ends holding a private lock abandons it: the next waiter gets
// it with -2 (step 3) instead of waiting forever, and closing such a lock
// works. Run in a child, so that a wait that never ends fails the test.
TEST_F(KesSemTest, APrivateLockLeftByAnEndedThreadIsAbandoned) {
    Child child("AbandonPrivateLock");
    EXPECT_EQ(child.wait(), 0);
}

TEST_F(KesSemTest, NamesAndArguments) {
    // Without a namespace the object is named after the lock alone.
    korvo::test::setEnvironmentVariable("KORVO_LOCK_NAMESPACE", nullptr);
    const std::string name = space_ + "-plain";
    KesSem sem = nullptr;
    ASSERT_EQ(init(&sem, name.c_str()), kOk);
    EXPECT_TRUE(korvo::test::sharedMemoryObjectExists("korvo." + name));
    EXPECT_EQ(release(&sem), kOk);
    EXPECT_EQ(close(&sem), kOk);
    korvo::test::removeSharedMemoryObject("korvo." + name);

    // A lock whose creation failed leaves no handle, which closes as the
    // invalid argument, as any null handle does.
    sem = reinterpret_cast<KesSem>(&sem);
#if defined(_WIN32)
    // A backslash would name a namespace below "Global": ERROR_PATH_NOT_FOUND.
    EXPECT_EQ(init(&sem, "a\\b"), (Status{KES_SYSTEM_ERROR, 3, 0}));
#else
    EXPECT_EQ(init(&sem, "a/b"), (Status{KES_SYSTEM_ERROR, EINVAL, 0}));
#endif
    EXPECT_EQ(sem, nullptr);
    sem = reinterpret_cast<KesSem>(&sem);
    const Status tooLong = init(&sem, std::string(300, 'n').c_str());  // past a shared name's room
    EXPECT_EQ(tooLong.code, KES_SYSTEM_ERROR);
    EXPECT_NE(tooLong.osError, 0);
    EXPECT_EQ(tooLong.step, 0);
    EXPECT_EQ(sem, nullptr);
    EXPECT_EQ(init(nullptr, "X"), kInvalid);
    for (KesSem *address : {static_cast<KesSem *>(nullptr), &sem}) {
        EXPECT_EQ(take(address), kInvalid);
        EXPECT_EQ(release(address), kInvalid);
        EXPECT_EQ(close(address), kInvalid);
        EXPECT_EQ(run(KesCloseSem, address), kInvalid);
    }
}

}  // namespace
