/* The CDS client: downloads packages from a content server over HTTP into a
 * cache under the client's home, one thread per download, and tells the
 * caller through a completion callback when a download has ended. This is the
 * interface of libCDSClient.so; docs/cds-client.md maps each entry point onto
 * HTTP and describes the home and the cache.
 *
 * Every entry point may be called from any thread. Strings handed in are
 * only read during the call. The directory that GetDownloadDirectory answers
 * belongs to the client and stays valid until ReleaseFile of its handle.
 * Results are the CDS_* codes below. */
#ifndef KORVO_CDS_CLIENT_CDS_CLIENT_H
#define KORVO_CDS_CLIENT_CDS_CLIENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The client is loaded by name at run time, never linked: on Windows its
 * entry points are only ever exported. */
#if defined(_WIN32)
#define CDS_CLIENT_EXPORT __declspec(dllexport)
#else
#define CDS_CLIENT_EXPORT __attribute__((visibility("default")))
#endif

#define CDS_OK 0
#define CDS_NOT_FOUND 2         /* the server does not have the package (404) */
#define CDS_BUSY 5              /* the server is too busy, retry later (503) */
#define CDS_NO_MEMORY 12        /* memory exhausted */
#define CDS_DENIED 13           /* the server refused the credentials (401, 403) */
#define CDS_ALREADY_THERE 16    /* the package is in the cache; no callback follows */
#define CDS_INVALID_ARGUMENT 22 /* bad package id, manager, handle or missing argument */
#define CDS_TOO_LARGE 27        /* the package is larger than 4 GiB - 1 (or the set limit) */
#define CDS_CACHE_FAILED 28     /* the home or the cache cannot be used, written or has no room */
#define CDS_BAD_ANSWER 71       /* the server's answer is not what HTTP allows here */
#define CDS_INCOMPLETE 74       /* the connection ended before the whole package came */
#define CDS_TIMED_OUT 110       /* no answer in time, or the transfer stalled */
#define CDS_UNREACHABLE 111     /* the server could not be reached */
#define CDS_DIGEST_MISMATCH 84  /* the body does not have the digest the server stated */
#define CDS_CANCELLED 125       /* the download was released before it ended */

/* Called once, on the download's own thread, when a download that
 * DownloadFile started (result CDS_OK) ends: status CDS_OK when the package
 * is in the cache, another CDS_* code when it is not. A download released
 * with ReleaseFile before it ended is not reported. */
typedef void (*CdsCompletionFn)(uint32_t handle, int32_t status);

/* Starts downloading `package_id` from the content server `manager`
 * ("host:port" or an http:// or https:// URL; NULL or empty: the
 * CDSCLIENT_MANAGER environment variable). `destination` is accepted and
 * unused: every package goes to the client's cache, kept apart per server
 * and user name. `user_name` and `password`, when given, go to the server
 * as HTTP basic authentication. A copy in the cache is answered only when
 * it is whole and its server confirms it for these credentials (a HEAD
 * request with its validators); otherwise the package is fetched again.
 * Waits until the server's answer begins, then returns:
 *   CDS_OK            the download runs; `completion` will report its end
 *   CDS_ALREADY_THERE the cache holds the package, confirmed; no callback
 *   CDS_BUSY          the server answered 503; retry later
 *   CDS_TOO_LARGE     the server declared more than the largest package
 *   another code      nothing was started
 * `*handle` is set to the download's handle for CDS_OK and
 * CDS_ALREADY_THERE, to 0 otherwise. A package id must be 1 to 200 bytes
 * without '/', '\', "..", or control characters. */
CDS_CLIENT_EXPORT int32_t DownloadFile(const char *manager, const char *package_id,
                                       const char *destination, const char *user_name,
                                       const char *password, CdsCompletionFn completion,
                                       uint32_t *handle);

/* Where the package of `handle` lies: its file in the cache once it is
 * there (CDS_ALREADY_THERE, or a download that ended with CDS_OK); while the
 * download runs, its working directory; after a failed download, the part
 * file it had, which is gone then, as is every place near it. NULL for an
 * unknown handle. */
CDS_CLIENT_EXPORT const char *GetDownloadDirectory(uint32_t handle);

/* Asks the server for the size of `package_id` (HTTP HEAD). CDS_OK and the
 * size in `*size`, or a CDS_* code (CDS_TOO_LARGE above 4 GiB - 1). */
CDS_CLIENT_EXPORT int32_t GetSingleFileSize(const char *manager, const char *package_id,
                                            const char *user_name, const char *password,
                                            uint32_t *size);

/* Ends the caller's use of `handle`: a download still running stops (its
 * partial data is removed, its callback does not come, although one already
 * under way may still arrive); a finished package stays in the cache. CDS_OK,
 * or CDS_INVALID_ARGUMENT for an unknown handle. */
CDS_CLIENT_EXPORT int32_t ReleaseFile(uint32_t handle);

/* Sends the regular file `source_path` to the server as `package_id` (HTTP
 * PUT), synchronously. CDS_OK, or a CDS_* code. */
CDS_CLIENT_EXPORT int32_t PublishFile(const char *manager, const char *package_id,
                                      const char *source_path, const char *user_name,
                                      const char *password);

#ifdef __cplusplus
}
#endif

#endif
