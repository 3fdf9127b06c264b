// Confirming a cached package with its server.
#include "cds/client/cache_confirmation.hpp"

#include "cds/client/cached_package.hpp"
#include "cds/client/cds_client.h"
#include "cds/client/transfer.hpp"

namespace cdsclient {

namespace {

enum class Verdict { kSame, kChanged, kGone, kRefused };

struct ServerView {
    Verdict verdict = Verdict::kChanged;
    int32_t code = CDS_OK;  // with kRefused
};

ServerView ask_server(const CheckRecord &record, const std::string &url, const char *user_name,
                      const char *password, long seconds) {
    Transfer transfer(url, user_name, password);
    if (!transfer.ready())
        return {Verdict::kRefused, CDS_NO_MEMORY};
    transfer.head_only();
    transfer.limit_time(seconds);
    if (!record.etag.empty())
        transfer.add_header("If-None-Match: " + record.etag);
    if (!record.last_modified.empty())
        transfer.add_header("If-Modified-Since: " + record.last_modified);
    ServerView view;
    transfer.on_head([&](const HttpAnswer &answer) {
        const int status = answer.status();
        if (status == 304) {
            view.verdict = Verdict::kSame;
        } else if (status == 200) {
            // A server that ignores the conditions: the validators decide.
            const bool same_tag = !record.etag.empty()
                                      ? answer.etag() == record.etag
                                      : answer.last_modified() == record.last_modified;
            const bool same_size =
                !answer.content_length() || *answer.content_length() == record.size;
            view.verdict = same_tag && same_size ? Verdict::kSame : Verdict::kChanged;
        } else if (status == 404 || status == 410) {
            view.verdict = Verdict::kGone;
        } else if (const int32_t code = code_for_status(status);
                   code == CDS_DENIED || code == CDS_BUSY) {
            view = {Verdict::kRefused, code};
        } else {
            // Anything else (no HEAD, say): the download asks again.
            view.verdict = Verdict::kChanged;
        }
        return true;
    });
    const TransportResult result = transfer.perform();
    if (!transfer.head_seen()) {
        const int32_t code = transfer.answer().malformed() || result == TransportResult::kOk
                                 ? CDS_BAD_ANSWER
                                 : code_for_transport(result);
        return {Verdict::kRefused, code};
    }
    return view;
}

}  // namespace

Confirmation confirm_cached(const CacheRoot &root, std::string_view id, const std::string &url,
                            const char *user_name, const char *password, long seconds) {
    const std::optional<CheckRecord> record = read_check_record(root, id);
    // Without a record, a whole file or a validator there is nothing to
    // confirm: the package is fetched again.
    if (!record || !record->can_be_confirmed() || !package_matches(root, id, *record, false))
        return {forget_package(root, id) ? CDS_OK : CDS_CACHE_FAILED, false};
    const ServerView view = ask_server(*record, url, user_name, password, seconds);
    switch (view.verdict) {
        case Verdict::kRefused:
            return {view.code, false};
        case Verdict::kGone:
            forget_package(root, id);
            return {CDS_NOT_FOUND, false};
        case Verdict::kChanged:
            return {forget_package(root, id) ? CDS_OK : CDS_CACHE_FAILED, false};
        case Verdict::kSame:
            break;
    }
    if (!package_matches(root, id, *record, true))
        return {forget_package(root, id) ? CDS_OK : CDS_CACHE_FAILED, false};
    return {CDS_OK, true};
}

}  // namespace cdsclient
