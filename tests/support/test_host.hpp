// What tests look at on the host, in one place per concern: the process's
// open descriptors, the shared memory objects behind named locks, scratch
// directories, file systems of particular kinds, the watchdog of a test process. Plain functions,
// safe from any thread except the watchdog, which one thread of a process arms at a time. The host
// calls live in test_host_posix.cc (and its Windows twin).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
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

// Sets (or, with nullptr, removes) the variable `name` in this process's
// environment, where the C runtime and the programs it starts read it.
void setEnvironmentVariable(const std::string &name, const char *value);

// The environment variable that lists the directories a started program
// searches for shared libraries.
const char *librarySearchPathVariable();

// Ends the process when a test has not finished within `seconds`, so that a
// lock that never comes fails the suite instead of hanging it.
class Watchdog {
  public:
    explicit Watchdog(unsigned seconds);
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;
};

}  // namespace korvo::test
