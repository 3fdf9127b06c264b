// File-system steps of the cache on Windows. Descriptors are the C
// runtime's over handles opened here with CreateFileA, so that the share
// modes say what others may do meanwhile: a body being received can be
// renamed into the cache, and a download's lock cannot be opened by anyone
// while it is held. "Owner alone" is a protected DACL that grants the
// account everything and nobody else anything.
#include <aclapi.h>
#include <bcrypt.h>
#include <io.h>
#include <sddl.h>
#include <windows.h>

#include <fcntl.h>

#include <climits>
#include <memory>
#include <mutex>

#include "cds/client/private_files.hpp"

namespace cdsclient {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr)
            CloseHandle(handle);
    }
};
// The one owner type of a kernel handle here.
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct LocalFreer {
    void operator()(void *memory) const { LocalFree(memory); }
};

struct FindCloser {
    void operator()(HANDLE find) const { FindClose(find); }
};

UniqueHandle owned(HANDLE handle) {
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// The account's SIDs a file made by this process may carry as its owner:
// the token's user and its default owner (the Administrators group for an
// elevated process).
struct AccountSids {
    std::unique_ptr<char[]> user;
    std::unique_ptr<char[]> owner;

    static const AccountSids &get() {
        static const AccountSids sids = load();
        return sids;
    }

    static std::unique_ptr<char[]> query(HANDLE token, TOKEN_INFORMATION_CLASS which) {
        DWORD size = 0;
        GetTokenInformation(token, which, nullptr, 0, &size);
        if (size == 0)
            return nullptr;
        auto buffer = std::make_unique<char[]>(size);
        if (!GetTokenInformation(token, which, buffer.get(), size, &size))
            return nullptr;
        return buffer;
    }

    static AccountSids load() {
        AccountSids sids;
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
            return sids;
        const UniqueHandle token(raw);
        sids.user = query(raw, TokenUser);
        sids.owner = query(raw, TokenOwner);
        return sids;
    }

    PSID user_sid() const {
        return user ? reinterpret_cast<TOKEN_USER *>(user.get())->User.Sid : nullptr;
    }
    PSID owner_sid() const {
        return owner ? reinterpret_cast<TOKEN_OWNER *>(owner.get())->Owner : nullptr;
    }
    bool is_ours(PSID sid) const {
        return sid != nullptr && ((user_sid() != nullptr && EqualSid(sid, user_sid())) ||
                                  (owner_sid() != nullptr && EqualSid(sid, owner_sid())));
    }
};

// A security descriptor whose protected DACL lets the account alone in.
class OwnerOnly {
  public:
    OwnerOnly() {
        PSID user = AccountSids::get().user_sid();
        char *text = nullptr;
        if (user == nullptr || !ConvertSidToStringSidA(user, &text))
            return;
        const std::unique_ptr<void, LocalFreer> sid_text(text);
        const std::string sddl = std::string("D:P(A;OICI;FA;;;") + text + ")";
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                 &descriptor, nullptr))
            descriptor_.reset(descriptor);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor_.get();
        attributes_.bInheritHandle = FALSE;
    }

    bool ok() const { return descriptor_ != nullptr; }
    SECURITY_ATTRIBUTES *attributes() { return ok() ? &attributes_ : nullptr; }

    // Puts the DACL on the directory open as `directory` (with WRITE_DAC).
    // A new directory gets it this way as well: not every host applies the
    // one given at its creation. Threads of one process that prepare the
    // same cache at once set the same directories' DACLs: they take turns,
    // as a change made while another is under way on the same directory
    // can fail (seen under Wine with four downloads starting together).
    bool apply(HANDLE directory) const {
        static std::mutex changes;
        const std::lock_guard turn(changes);
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        if (!ok() || !GetSecurityDescriptorDacl(descriptor_.get(), &present, &dacl, &defaulted))
            return false;
        return SetSecurityInfo(directory, SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    }

  private:
    std::unique_ptr<void, LocalFreer> descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

bool owned_by_us(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const std::unique_ptr<void, LocalFreer> held(descriptor);
    return AccountSids::get().is_ours(owner);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Hands `handle` to the C runtime as a descriptor; -1 (and the handle
// closed) when it cannot.
int descriptor_of(UniqueHandle handle, int flags) {
    if (!handle)
        return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), flags);
    if (fd >= 0)
        handle.release();
    return fd;
}

HANDLE handle_of(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// A regular disk file open as `handle` (not a directory, a link or a
// device); -1 otherwise.
int regular_only(UniqueHandle handle) {
    BY_HANDLE_FILE_INFORMATION record{};
    if (!handle || GetFileType(handle.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle.get(), &record) ||
        (record.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return -1;
    return descriptor_of(std::move(handle), _O_RDONLY);
}

DWORD attributes_of(const std::string &path) {
    return GetFileAttributesA(path.c_str());
}

bool missing_error(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The directory `path` opened to read and set its security, following no
// link; null when it cannot be.
UniqueHandle open_directory_security(const std::string &path) {
    return owned(CreateFileA(path.c_str(), READ_CONTROL | WRITE_DAC, kShareAll, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

}  // namespace

bool make_private_directory(const std::string &path) {
    OwnerOnly security;
    if (CreateDirectoryA(path.c_str(), security.attributes())) {
        const UniqueHandle created(open_directory_security(path));
        return created && security.apply(created.get());
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    const DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    const UniqueHandle directory(open_directory_security(path));
    return directory && owned_by_us(directory.get()) && security.apply(directory.get());
}

bool create_private_directory(const std::string &path) {
    OwnerOnly security;
    if (!CreateDirectoryA(path.c_str(), security.attributes()))
        return false;
    const UniqueHandle created(open_directory_security(path));
    return created && security.apply(created.get());
}

int open_regular(const std::string &path) {
    return regular_only(owned(CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
}

int open_upload_source(const char *path, uint64_t *size) {
    UniqueHandle file(
        owned(CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr)));
    LARGE_INTEGER length{};
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &length))
        return -1;
    const int fd = regular_only(std::move(file));
    if (fd >= 0)
        *size = static_cast<uint64_t>(length.QuadPart);
    return fd;
}

int64_t read_some(int fd, char *buffer, size_t size) {
    const unsigned int wanted = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
    return _read(fd, buffer, wanted);
}

int create_private_file(const std::string &path) {
    OwnerOnly security;
    return descriptor_of(
        owned(CreateFileA(path.c_str(), GENERIC_WRITE | READ_CONTROL, kShareAll,
                          security.attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)),
        _O_WRONLY);
}

void start_writeback(int, uint64_t, uint64_t) {
    // The system's lazy writer already writes dirty pages behind the writer.
}

bool sync_file(int fd) {
    return FlushFileBuffers(handle_of(fd)) != 0;
}

std::optional<FileIdentity> identify_file(int fd) {
    const HANDLE handle = handle_of(fd);
    BY_HANDLE_FILE_INFORMATION record{};
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &record))
        return std::nullopt;
    FileIdentity identity;
    identity.ours = owned_by_us(handle);
    identity.id = (static_cast<uint64_t>(record.nFileIndexHigh) << 32) | record.nFileIndexLow;
    identity.size = (static_cast<uint64_t>(record.nFileSizeHigh) << 32) | record.nFileSizeLow;
    return identity;
}

bool replace_file(const std::string &from, const std::string &to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool remove_file(const std::string &path) {
    return DeleteFileA(path.c_str()) != 0 || missing_error(GetLastError());
}

bool remove_empty_directory(const std::string &path) {
    return RemoveDirectoryA(path.c_str()) != 0;
}

void sync_directory(const std::string &) {
    // A rename on NTFS is in the file system's journal once MoveFileExA
    // returns with MOVEFILE_WRITE_THROUGH: there is no directory to flush.
}

std::optional<uint64_t> free_bytes(int fd) {
    char path[MAX_PATH * 4];
    const DWORD length = GetFinalPathNameByHandleA(handle_of(fd), path, sizeof path,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof path)
        return std::nullopt;
    std::string directory(path, length);
    const size_t slash = directory.find_last_of("\\/");
    if (slash == std::string::npos)
        return std::nullopt;
    directory.resize(slash + 1);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr))
        return std::nullopt;
    return static_cast<uint64_t>(available.QuadPart);
}

void remove_directory(const std::string &path) {
    const DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // Not a directory of ours (a link, a file): the name goes, whatever
        // it points to stays.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            RemoveDirectoryA(path.c_str());
        else
            DeleteFileA(path.c_str());
        return;
    }
    for (const std::string &name : directory_names(path, SIZE_MAX)) {
        if (name == "." || name == "..")
            continue;
        const std::string entry = path + "/" + name;
        if (!DeleteFileA(entry.c_str()))
            RemoveDirectoryA(entry.c_str());
    }
    RemoveDirectoryA(path.c_str());
}

bool is_regular_file(const std::string &path) {
    const DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool path_missing(const std::string &path) {
    return attributes_of(path) == INVALID_FILE_ATTRIBUTES && missing_error(GetLastError());
}

std::vector<std::string> directory_names(const std::string &path, size_t limit) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry{};
    const HANDLE first = FindFirstFileA((path + "/*").c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE)
        return names;
    const std::unique_ptr<void, FindCloser> find(first);
    do {
        if (names.size() == limit)
            break;
        names.emplace_back(entry.cFileName);
    } while (FindNextFileA(first, &entry));
    return names;
}

bool random_bytes(unsigned char *bytes, size_t size) {
    return size <= ULONG_MAX &&
           BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(size),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

// The lock is held by being open: its handle shares nothing but deletion,
// so no other open succeeds while it lives, and it goes with its last
// handle, even when the holder dies.
int create_held_lock(const std::string &base, bool &retry) {
    retry = false;
    OwnerOnly security;
    UniqueHandle lock(
        owned(CreateFileA((base + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                          security.attributes(), CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr)));
    if (!lock) {
        const DWORD error = GetLastError();
        retry = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
        return -1;
    }
    return descriptor_of(std::move(lock), _O_RDWR);
}

int hold_lock_if_free(const std::string &path) {
    return descriptor_of(owned(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)),
                         _O_RDONLY);
}

void remove_held_lock(Descriptor &lock, const std::string &path) {
    // Marked for deletion while still held; it is gone when the handle is.
    DeleteFileA(path.c_str());
    const Descriptor closing(std::move(lock));
}

}  // namespace cdsclient
