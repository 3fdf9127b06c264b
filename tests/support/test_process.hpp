// Child processes, pipes and shared memory for tests that run several
// processes, without fork: a child is the test program started again with
// the name of a registered body (KORVO_CHILD_BODY) and its inputs as
// arguments, environment, pipe ends or named shared memory, since it shares
// no memory with its parent. Every wait is bounded, so a test that goes wrong
// fails instead of hanging, and every child arms its own watchdog.
//
// Objects here belong to the thread that made them; a Child's pipe ends are
// handed over when it starts and stay open in the parent until closed there.
// The host calls live in test_process_posix.cc (and its Windows twin).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvo::test {

inline constexpr int kWaitMilliseconds = 30000;

// One end of a pipe as the host knows it (a descriptor here, a handle on
// Windows); what a Child hands over and what a body gets back.
struct PipeHandle {
    std::intptr_t value = -1;
};

// One end of a pipe, owned: closed when the object goes.
class PipeEnd {
  public:
    PipeEnd() = default;
    explicit PipeEnd(PipeHandle handle) : handle_(handle) {}
    ~PipeEnd() { close(); }
    PipeEnd(PipeEnd &&other) noexcept : handle_(std::exchange(other.handle_, PipeHandle{})) {}
    PipeEnd &operator=(PipeEnd &&other) noexcept {
        if (this != &other)
            close(), handle_ = std::exchange(other.handle_, PipeHandle{});
        return *this;
    }

    // Writes one byte; a closed or broken pipe is ignored.
    void send(char byte = 'x');
    // Writes `bytes` whole; false when the pipe is gone.
    bool sendAll(const std::string &bytes);
    // The next byte; -1 at the end of the pipe or when the wait times out.
    int receive(int milliseconds = kWaitMilliseconds);
    // Everything up to the end of the pipe (within the bounded wait).
    std::string receiveAll(int milliseconds = kWaitMilliseconds);
    // Makes this end the process's standard output (a write end) and closes it.
    bool becomeStandardOutput();
    void close();
    bool isOpen() const { return handle_.value >= 0; }
    PipeHandle handle() const { return handle_; }

  private:
    PipeHandle handle_;
};

// A pipe for ordering processes. Neither end reaches a child unless handed
// over, so a read end sees the end of the pipe once every handed copy of the
// write end is closed.
class Pipe {
  public:
    Pipe();
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;

    void send(char byte = 'x') { write_.send(byte); }
    int receive(int milliseconds = kWaitMilliseconds) { return read_.receive(milliseconds); }
    std::string receiveAll(int milliseconds = kWaitMilliseconds) {
        return read_.receiveAll(milliseconds);
    }
    PipeHandle readEnd() const { return read_.handle(); }
    PipeHandle writeEnd() const { return write_.handle(); }
    void closeRead() { read_.close(); }
    void closeWrite() { write_.close(); }

  private:
    PipeEnd read_, write_;
};

// What a child body gets: its arguments and the pipe ends handed to it, in
// the order the parent gave them.
class ChildContext {
  public:
    ChildContext(std::vector<std::string> args, std::vector<PipeHandle> ends);
    const std::string &arg(std::size_t index) const { return args_.at(index); }
    const std::vector<std::string> &args() const { return args_; }
    PipeEnd &end(std::size_t index) { return ends_.at(index); }
    std::size_t endCount() const { return ends_.size(); }

  private:
    std::vector<std::string> args_;
    std::vector<PipeEnd> ends_;
};

using ChildBody = int (*)(ChildContext &);

// Registers `body` under `name` for children started with it; names are
// unique within a test program. Used through KORVO_CHILD_BODY.
bool registerChildBody(const char *name, ChildBody body);

// Runs the body named on the command line, if the program was started as a
// child: fills `status` with its exit status (125 for an exception that left
// it, 126 for a name no body has) and returns true. The test program's main
// calls it first.
bool runChildIfAsked(int argc, char **argv, int &status);

// Defines a child body `name`: `int body(korvo::test::ChildContext &child)`.
// In a test file, define it inside an anonymous namespace; in a header, inside
// a named one: the inline registration then runs once per program.
#define KORVO_CHILD_BODY(name)                                     \
    inline int name##ChildBody(::korvo::test::ChildContext &);     \
    [[maybe_unused]] inline const bool name##ChildRegistered =     \
        ::korvo::test::registerChildBody(#name, &name##ChildBody); \
    inline int name##ChildBody([[maybe_unused]] ::korvo::test::ChildContext &child)

// Changes to the parent's environment for a child: a value sets the
// variable, nullopt removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// How a child starts: its arguments, the pipe ends it gets, the changes to
// its environment, and where its standard output goes: the write end
// `standardOutput`, or else the file `outputFile` (made or emptied), when
// given; `standardError` and `errorFile` likewise for its standard error.
// With `emptyInput` its standard input reads nothing (the host's null
// device), as for a program run with no one at the keyboard. With
// `fileSizeLimit` no file it writes grows past that many bytes: the write
// that would pass it ends the child there (SIGXFSZ on POSIX hosts), and it
// leaves no core file; the limit holds from its first instruction on. Only
// where fileSizeLimitHost() is true.
struct ChildStart {
    std::vector<std::string> args{};
    std::vector<PipeHandle> ends{};
    EnvironmentChanges environment{};
    std::optional<PipeHandle> standardOutput{};
    std::string outputFile{};
    std::optional<PipeHandle> standardError{};
    std::string errorFile{};
    bool emptyInput = false;
    std::optional<std::uint64_t> fileSizeLimit{};
};

// Another program to start as a child: its path first, then its arguments.
struct ProgramArgs {
    std::vector<std::string> argv;
};

// This test program run as another program that runs the body `name` with
// `args`: for tests of what a program started with ProgramArgs meets, on any
// host, without a shell. Pipe ends reach it only as numbers in `args`.
ProgramArgs childProgram(const char *name, std::vector<std::string> args = {});

// A child process running the body `name` of this test program; killed if
// still running when the object goes.
class Child {
  public:
    explicit Child(const char *name, ChildStart start = {});
    // Runs the program `program` instead of a body of this one; `start.args`
    // is not used, and the handles of `start.ends` stay open in the program
    // as they are numbered here.
    explicit Child(const ProgramArgs &program, const ChildStart &start = {});
    // Runs `body` in a copy of this process (fork), for what only a copy
    // can show: state the library keeps per process after a fork, or a body
    // that uses what the test holds in memory. The copy leaves at once with
    // the result (125 for an exception), without the test program's exit
    // handlers. Only where forkingHost() is true; every such test says why.
    explicit Child(const std::function<int()> &body);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // The exit status; kKilled for a child ended by kill(), 128 + another
    // signal that ended it; -1 when it did not end within `milliseconds`.
    int wait(int milliseconds = kWaitMilliseconds);
    void kill();
    // The host's number of the process, kept after it ended.
    std::int64_t processId() const { return id_; }

  private:
    std::intptr_t process_ = -1;
    std::int64_t id_ = -1;
};

// Whether this host can start a child as a copy of itself (fork).
bool forkingHost();

// Whether this host can limit the size of the files a child writes
// (ChildStart::fileSizeLimit); a test that needs the limit skips elsewhere.
bool fileSizeLimitHost();

// The status wait() gives for a child ended by Child::kill().
extern const int kKilled;

// Runs the program `argv` (its path first) with `environment` set on top of
// this process's, and waits within the bounded wait: its exit status, or -1
// when it could not start or did not end in time.
int runProgram(const std::vector<std::string> &argv, const EnvironmentChanges &environment = {});

// Reads each handle into its string until every one is at its end, within
// `milliseconds` in all; false when the time ran out first. The handles stay
// open (their owners close them).
bool receiveAllOf(const std::vector<std::pair<PipeHandle, std::string *>> &sources,
                  int milliseconds = kWaitMilliseconds);

// Named shared memory of `size` bytes, zeroed when created. The creator
// removes the name when its object goes; a child attaches by name().
class SharedMemory {
  public:
    explicit SharedMemory(std::size_t size);                  // creates
    SharedMemory(const std::string &name, std::size_t size);  // attaches
    ~SharedMemory();
    SharedMemory(const SharedMemory &) = delete;
    SharedMemory &operator=(const SharedMemory &) = delete;
    void *data() const { return data_; }
    const std::string &name() const { return name_; }

  private:
    std::string name_;
    std::size_t size_;
    void *data_ = nullptr;
    bool creator_;
    // The host's object behind the name, where it lives only while open.
    std::intptr_t object_ = 0;
};

// A value in memory shared between a test and its children: the test makes
// it (constructed in place), a child opens it by name().
template <typename T>
class Shared {
  public:
    Shared() : memory_(sizeof(T)) { new (memory_.data()) T(); }
    explicit Shared(const std::string &name) : memory_(name, sizeof(T)) {}
    T *operator->() { return get(); }
    T *get() { return static_cast<T *>(memory_.data()); }
    const std::string &name() const { return memory_.name(); }

  private:
    SharedMemory memory_;
};

}  // namespace korvo::test
