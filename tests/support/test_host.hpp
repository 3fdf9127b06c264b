// What tests look at on the host, in one place per concern: the process's
// open descriptors, the shared memory objects behind named locks, scratch
// directories, file systems of particular kinds, the watchdog of a test process. Plain functions,
// safe from any thread except the watchdog, which one thread of a process arms at a time. The host
// calls live in test_host_posix.cc (and its Windows twin).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvo::test {

// The number of descriptors (handles) the process has open now.
int openDescriptorCount();

// A new directory in `base` whose name starts with `prefix`, made for this
// caller alone; empty when none could be made.
std::string makeScratchDirectory(const std::filesystem::path &base, const std::string &prefix);

// The names of the shared memory objects whose names start with `prefix`,
// without the host's leading separator. Where the host gives such objects
// no names that can be listed (Windows), sharedMemoryObjectsListable() is
// false and the list is empty.
bool sharedMemoryObjectsListable();
std::vector<std::string> sharedMemoryObjects(const std::string &prefix);
bool sharedMemoryObjectExists(const std::string &name);
void removeSharedMemoryObject(const std::string &name);
// Makes the shared memory object `name` of `size` bytes, for the owner only;
// false when it exists already or cannot be made.
bool makeSharedMemoryObject(const std::string &name, std::size_t size);
// Puts an object that is no lock under the name of the machine-wide lock
// `name` ("korvo.<namespace>.<lock>"), so that the lock cannot be made: a
// shared memory object too small for one on POSIX hosts, a file mapping in
// the machine-wide namespace on Windows (a mutex cannot take the name of
// an object of another kind). removeSharedMemoryObject(name) removes it;
// false when it exists already or cannot be made.
bool makeBrokenLock(const std::string &name);
// The file that holds the shared memory object `name`, for a look at its
// owner and mode; empty where such objects are no files.
std::string sharedMemoryObjectFile(const std::string &name);

// The bytes of the process's memory that are resident now (the working set
// on Windows).
std::int64_t residentBytes();

// The number of directories the process's change notifications watch now;
// -1 where the host keeps no count of them (callers skip).
int watchedDirectoryCount();

// A directory on a file system kept in memory (tmpfs here); empty when the
// host has none.
std::filesystem::path memoryFileSystemDirectory();

// A file on a file system that keeps no extended attributes, so no access
// lists; empty when the host has none.
std::string fileWithoutExtendedAttributes();

// The name of the account the process runs as.
std::string currentAccountName();

// Makes `link` a symbolic link to `target`; false where the host (or the
// account) cannot make one, so that callers check the rest and skip the
// link's part. On Windows the link is made without the privilege
// (developer mode) and only counts once the file system shows it.
bool makeSymbolicLink(const std::string &target, const std::string &link);

// True when the test runs under Wine rather than on Windows itself, for the
// checks of what Wine answers differently (and says so when skipping).
bool runningUnderWine();

// What the host's kernel says it is: its name, machine and release (uname);
// nullopt where there is no such call (Windows).
struct HostNames {
    std::string system, machine, release;
};
std::optional<HostNames> hostNames();

// Sets (or, with nullptr, removes) the variable `name` in this process's
// environment, where the C runtime and the programs it starts read it.
void setEnvironmentVariable(const std::string &name, const char *value);

// The environment variable that lists the directories a started program
// searches for shared libraries.
const char *librarySearchPathVariable();

// Limits the size of the files this process writes to `bytes`: the write
// that would pass it ends the process, with the status
// fileSizeExceededStatus() and no core file. False where the host has no
// such limit (Windows: fileSizeLimitHost() in test_process.hpp is false).
bool limitOwnFileSize(std::uint64_t bytes);
int fileSizeExceededStatus();

// Pages of memory whose last page cannot be touched: a text placed to end
// on the page before it shows a read past its end as a crash.
class GuardedPages {
  public:
    // `pages` readable pages and one unreadable page after them.
    explicit GuardedPages(std::size_t pages = 1);
    ~GuardedPages();
    GuardedPages(const GuardedPages &) = delete;
    GuardedPages &operator=(const GuardedPages &) = delete;
    bool ok() const { return base_ != nullptr; }
    // The first unreadable byte.
    char *guard() const { return base_ + readable_; }

  private:
    char *base_ = nullptr;
    std::size_t readable_ = 0;
};

// Ends the process when a test has not finished within `seconds`, so that a
// lock that never comes fails the suite instead of hanging it.
class Watchdog {
  public:
    explicit Watchdog(unsigned seconds);
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;
};

// Renames `from` over the file `to`, as a writer that replaces a file does:
// rename(2) here, MoveFileEx replacing on Windows (where the C runtime's
// rename, and so std::filesystem::rename, refuses an existing target).
// False when it failed.
bool replaceFile(const std::string &from, const std::string &to);

// Sets the modification time of the file or directory `path` to `seconds`
// since 1970 UTC and `nanoseconds` more (as finely as the host keeps it:
// 100 ns on Windows), leaving its access time; false when it failed.
bool setModificationTime(const std::string &path, std::int64_t seconds, std::int32_t nanoseconds);

// What tells the file at `path` apart from every other file of the machine
// (its device and inode; its volume and file index on Windows), as text;
// empty when it cannot be examined. A file replaced under the same name
// gets another identity.
std::string fileIdentity(const std::string &path);

}  // namespace korvo::test
