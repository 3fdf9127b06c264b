/* A CDS client that lacks PublishFile, for the loader's tests: the loader
 * must refuse it although the library never calls that entry point. */
#include <stddef.h>
#include <stdint.h>

#define STUB_EXPORT __attribute__((visibility("default")))

typedef void (*StubCallback)(uint32_t handle, int32_t status);

STUB_EXPORT int32_t DownloadFile(const char *manager, const char *package_id,
                                 const char *destination, const char *user_name,
                                 const char *password, StubCallback callback, uint32_t *handle);
STUB_EXPORT const char *GetDownloadDirectory(uint32_t handle);
STUB_EXPORT int32_t GetSingleFileSize(const char *manager, const char *package_id,
                                      const char *user_name, const char *password, uint32_t *size);
STUB_EXPORT int32_t ReleaseFile(uint32_t handle);

int32_t DownloadFile(const char *manager, const char *package_id, const char *destination,
                     const char *user_name, const char *password, StubCallback callback,
                     uint32_t *handle) {
    (void)manager, (void)package_id, (void)destination, (void)user_name, (void)password;
    (void)callback;
    *handle = 0;
    return 1;
}

const char *GetDownloadDirectory(uint32_t handle) {
    (void)handle;
    return NULL;
}

int32_t GetSingleFileSize(const char *manager, const char *package_id, const char *user_name,
                          const char *password, uint32_t *size) {
    (void)manager, (void)package_id, (void)user_name, (void)password;
    *size = 0;
    return 1;
}

int32_t ReleaseFile(uint32_t handle) {
    (void)handle;
    return 0;
}
