// The client's five entry points. None lets an exception out: a failure that
// C++ reports by throwing (memory exhausted) becomes CDS_NO_MEMORY.
#include <new>

#include "cds/client/cds_client.h"
#include "cds/client/client_home.hpp"
#include "cds/client/descriptor.hpp"
#include "cds/client/downloads.hpp"
#include "cds/client/private_files.hpp"
#include "cds/client/transfer.hpp"

namespace cdsclient {

namespace {

template <typename Fn>
int32_t guarded(Fn &&fn) {
    try {
        return fn();
    } catch (const std::bad_alloc &) {
        return CDS_NO_MEMORY;
    } catch (...) {
        return CDS_BAD_ANSWER;
    }
}

// The code of a request whose answer was judged by `code_of_head`, or of
// one whose answer never arrived whole.
int32_t result_of(const Transfer &transfer, TransportResult result, int32_t code_of_head) {
    if (!transfer.head_seen())
        return transfer.answer().malformed() || result == TransportResult::kOk
                   ? CDS_BAD_ANSWER
                   : code_for_transport(result);
    if (code_of_head != CDS_OK)
        return code_of_head;
    return code_for_transport(result);
}

int32_t single_file_size(const char *manager, const char *package_id, const char *user_name,
                         const char *password, uint32_t *size) {
    if (size == nullptr || !valid_package_id(package_id))
        return CDS_INVALID_ARGUMENT;
    *size = 0;
    const std::optional<std::string> url = package_url(manager, package_id);
    if (!url)
        return CDS_INVALID_ARGUMENT;
    Transfer transfer(*url, user_name, password);
    if (!transfer.ready())
        return CDS_NO_MEMORY;
    transfer.head_only();
    int32_t code = CDS_BAD_ANSWER;
    std::optional<uint64_t> length;
    transfer.on_head([&](const HttpAnswer &answer) {
        code = code_for_status(answer.status());
        if (code == CDS_OK && answer.status() != 200)
            code = CDS_BAD_ANSWER;
        length = answer.content_length();
        return true;
    });
    const TransportResult performed = transfer.perform();
    const int32_t result = result_of(transfer, performed, code);
    if (result != CDS_OK)
        return result;
    if (!length)
        return CDS_BAD_ANSWER;
    if (*length > UINT32_MAX)
        return CDS_TOO_LARGE;
    *size = static_cast<uint32_t>(*length);
    return CDS_OK;
}

int32_t publish_file(const char *manager, const char *package_id, const char *source_path,
                     const char *user_name, const char *password) {
    if (source_path == nullptr || !valid_package_id(package_id))
        return CDS_INVALID_ARGUMENT;
    const std::optional<std::string> url = package_url(manager, package_id);
    if (!url)
        return CDS_INVALID_ARGUMENT;
    uint64_t size = 0;
    const Descriptor file(open_upload_source(source_path, &size));
    const int fd = file.get();
    if (fd < 0)
        return CDS_INVALID_ARGUMENT;

    Transfer transfer(*url, user_name, password);
    if (!transfer.ready())
        return CDS_NO_MEMORY;
    transfer.upload(size,
                    [fd](char *buffer, size_t wanted) { return read_some(fd, buffer, wanted); });
    int32_t code = CDS_BAD_ANSWER;
    transfer.on_head([&](const HttpAnswer &answer) {
        code = code_for_status(answer.status());
        return true;
    });
    const TransportResult performed = transfer.perform();
    return result_of(transfer, performed, code);
}

}  // namespace

}  // namespace cdsclient

extern "C" {

int32_t DownloadFile(const char *manager, const char *package_id, const char *,
                     const char *user_name, const char *password, CdsCompletionFn completion,
                     uint32_t *handle) {
    if (handle != nullptr)
        *handle = 0;
    return cdsclient::guarded([&] {
        return cdsclient::Downloads::instance().start(
            {manager, package_id, user_name, password, completion}, handle);
    });
}

const char *GetDownloadDirectory(uint32_t handle) {
    try {
        return cdsclient::Downloads::instance().directory(handle);
    } catch (...) {
        return nullptr;
    }
}

int32_t GetSingleFileSize(const char *manager, const char *package_id, const char *user_name,
                          const char *password, uint32_t *size) {
    return cdsclient::guarded([&] {
        return cdsclient::single_file_size(manager, package_id, user_name, password, size);
    });
}

int32_t ReleaseFile(uint32_t handle) {
    return cdsclient::guarded([&] { return cdsclient::Downloads::instance().release(handle); });
}

int32_t PublishFile(const char *manager, const char *package_id, const char *source_path,
                    const char *user_name, const char *password) {
    return cdsclient::guarded([&] {
        return cdsclient::publish_file(manager, package_id, source_path, user_name, password);
    });
}
}
