// One whole download through the CDS client, for the client's tests: the
// download started, its completion awaited within the bounded wait, and its
// handle released. One test thread calls it at a time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cds/client/cds_client.h"
#include "tests/cds_client/cds_test_support.hpp"
#include "tests/http/http_test_server.hpp"

namespace cds_test {

// Downloads `id` from `from` to its end; the DownloadFile result, with the
// completion's status in place of CDS_OK (-1 when none came). What
// GetDownloadDirectory answered goes to *answered before the release.
inline int32_t fetch(const korvo::test::HttpTestServer &from, const std::string &id,
                     const char *user = nullptr, const char *password = nullptr,
                     std::string *answered = nullptr) {
    uint32_t handle = 0;
    int32_t rc = DownloadFile(from.address().c_str(), id.c_str(), nullptr, user, password,
                              &Completions::record, &handle);
    if (rc == CDS_OK) {
        const auto completion = Completions::instance().wait_for(handle);
        if (!completion)
            return -1;
        rc = completion->status;
    }
    if (handle != 0 && answered != nullptr)
        *answered = GetDownloadDirectory(handle);
    if (handle != 0) {
        EXPECT_EQ(ReleaseFile(handle), CDS_OK);
    }
    return rc;
}

}  // namespace cds_test
