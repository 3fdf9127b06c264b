// What tests look at on the host, in one place per concern: the process's
// open descriptors, the shared memory objects behind named locks, scratch
// directories, file systems of particular kinds, the watchdog of a test process. Plain functions,
// safe from any thread except the watchdog, which one thread of a process arms at a time. The host
// calls live in test_host_posix.cc (and its Windows twin).
#pragma once

#include <cstddef>
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
// without the host's leading separator.
std::vector<std::string> sharedMemoryObjects(const std::string &prefix);
bool sharedMemoryObjectExists(const std::string &name);
void removeSharedMemoryObject(const std::string &name);
// Makes the shared memory object `name` of `size` bytes, for the owner only;
// false when it exists already or cannot be made.
bool makeSharedMemoryObject(const std::string &name, std::size_t size);
// The file that holds the shared memory object `name`, for a look at its
// owner and mode; empty where such objects are no files.
std::string sharedMemoryObjectFile(const std::string &name);

// The bytes of the process's memory that are resident now.
long residentBytes();

// The number of directories the process's change notifications watch now.
int watchedDirectoryCount();

// A directory on a file system kept in memory (tmpfs here); empty when the
// host has none.
std::filesystem::path memoryFileSystemDirectory();

// A file on a file system that keeps no extended attributes, so no access
// lists; empty when the host has none.
std::string fileWithoutExtendedAttributes();

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
