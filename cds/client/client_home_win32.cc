// Finding the client's home on Windows: CDSCLIENT_HOME, else korvo-cds in
// the user's local application data (LOCALAPPDATA, else
// USERPROFILE\AppData\Local).
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <memory>

#include "cds/client/client_home.hpp"
#include "cds/client/private_files.hpp"

namespace cdsclient {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

bool is_absolute(const char *path) {
    return path != nullptr && ((std::isalpha(static_cast<unsigned char>(path[0])) &&
                                path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
                               (path[0] == '\\' && path[1] == '\\'));
}

bool is_directory(const std::string &path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// `path` as the absolute path of the directory it names, links resolved;
// empty when there is no such directory.
std::string resolved_directory(const std::string &path) {
    if (path.empty())
        return {};
    const HANDLE opened =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return {};
    const std::unique_ptr<void, HandleCloser> directory(opened);
    char buffer[MAX_PATH * 4];
    const DWORD length = GetFinalPathNameByHandleA(opened, buffer, sizeof buffer,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof buffer)
        return {};
    std::string result(buffer, length);
    // "\\?\C:\x" -> "C:\x"; "\\?\UNC\server\share" -> "\\server\share".
    if (result.rfind("\\\\?\\UNC\\", 0) == 0)
        result = "\\" + result.substr(7);
    else if (result.rfind("\\\\?\\", 0) == 0)
        result = result.substr(4);
    return is_directory(result) ? result : std::string();
}

// The user's local application data directory; empty when there is none.
std::string local_application_data() {
    if (const char *local = std::getenv("LOCALAPPDATA"); is_absolute(local) && is_directory(local))
        return local;
    if (const char *profile = std::getenv("USERPROFILE"); is_absolute(profile)) {
        const std::string local = std::string(profile) + "\\AppData\\Local";
        if (is_directory(local))
            return local;
    }
    return {};
}

}  // namespace

std::optional<Home> Home::find() {
    const char *configured = std::getenv("CDSCLIENT_HOME");
    std::string chosen;
    if (configured != nullptr && *configured != '\0') {
        chosen = configured;
    } else {
        const std::string local = local_application_data();
        if (local.empty())
            return std::nullopt;
        chosen = local + "\\korvo-cds";
        if (!make_private_directory(chosen))
            return std::nullopt;
    }
    std::string path = resolved_directory(chosen);
    if (path.empty())
        return std::nullopt;
    return Home(std::move(path));
}

}  // namespace cdsclient
