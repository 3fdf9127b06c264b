#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "depot_access.hpp"

namespace korvo::cli {
namespace {

// The account name of `uid`, or its number.
std::string account_name(uid_t uid) {
    struct passwd entry {};
    struct passwd *found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

}  // namespace

// When the depot's machine-wide lock objects belong to another account
// (the lock layer refuses them: that account could hold them for ever),
// what the user can do about it; empty otherwise. The objects live in
// /dev/shm as "korvo.<name>", or "korvo.<namespace>.<name>" under
// KORVO_LOCK_NAMESPACE.
std::string foreign_lock_advice() {
    const char *space = std::getenv("KORVO_LOCK_NAMESPACE");
    std::string prefix = "/dev/shm/korvo.";
    if (space != nullptr && *space != '\0')
        prefix += std::string(space) + ".";
    std::vector<std::string> objects;
    std::set<std::string> owners;
    for (const char *name : {"DEPOT", "ENUM", "ENTRY"}) {
        std::string path = prefix + name;
        struct stat status {};
        if (lstat(path.c_str(), &status) == 0 && status.st_uid != geteuid()) {
            objects.push_back(path);
            owners.insert(account_name(status.st_uid));
        }
    }
    if (objects.empty())
        return "";
    std::string listed, named;
    for (const std::string &object : objects)
        listed += (listed.empty() ? "" : ", ") + object;
    for (const std::string &owner : owners)
        named += (named.empty() ? "" : " and ") + owner;
    return "its lock objects " + listed + " belong to " + named +
           ", and this account may not share them. Run korvo as " + named +
           " (or an account of its group), or set KORVO_LOCK_NAMESPACE to a name of your own "
           "to use locks of this account alone (they do not keep out the methods that use "
           "the other locks, so only while none of them uses this depot)";
}

namespace {

std::string file_identity(dev_t device, ino_t inode) {
    char text[64];
    std::snprintf(text, sizeof text, "%02x:%02x:%llu", major(device), minor(device),
                  static_cast<unsigned long long>(inode));
    return text;
}

}  // namespace

WriterLocks::WriterLocks() {
    // "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234567 0 EOF"
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream words(line);
        std::string number, kind, advisory, access, pid, identity;
        if (words >> number >> kind >> advisory >> access >> pid >> identity && kind == "FLOCK") {
            // The device is shown in hexadecimal and may be wider than two
            // digits; normalise it the way file_identity writes it.
            unsigned major_number = 0, minor_number = 0;
            unsigned long long inode = 0;
            if (std::sscanf(identity.c_str(), "%x:%x:%llu", &major_number, &minor_number, &inode) ==
                3)
                files_.insert(file_identity(makedev(major_number, minor_number), inode));
        }
    }
}

bool WriterLocks::held(const std::string &data_file) const {
    struct stat status {};
    return stat(data_file.c_str(), &status) == 0 &&
           files_.count(file_identity(status.st_dev, status.st_ino)) != 0;
}

}  // namespace korvo::cli
