// Loading the CDS client: the table of its entry points, the search for the
// library, and the one-time initialisation of the process's session.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "cds/cds.h"
#include "cds/cds_actual_path.hpp"
#include "cds/cds_internal.hpp"
#include "kes/host_env.hpp"
#include "kes/kes_rtl.h"
#include "runtime/log.h"
#include "runtime/raise.hpp"

extern "C" {

const CdsFuncItem cds_func_items[CDS_FUNC_COUNT + 1] = {
    {"DownloadFile", offsetof(CdsFuncs, DownloadFile)},
    {"GetDownloadDirectory", offsetof(CdsFuncs, GetDownloadDirectory)},
    {"GetSingleFileSize", offsetof(CdsFuncs, GetSingleFileSize)},
    {"PublishFile", offsetof(CdsFuncs, PublishFile)},
    {"ReleaseFile", offsetof(CdsFuncs, ReleaseFile)},
    {nullptr, 0},
};

}  // extern "C"

namespace korvo::cds {

namespace {

// The short name the client is loaded by: CDSClient.so or libCDSClient.so
// (CDSClient.dll or libCDSClient.dll on Windows).
constexpr const char *kClientName = "CDSClient";

// Fills `funcs` from `module` (NULL: the running program), in slot order;
// false at the first name that does not resolve.
bool resolve_entry_points(void *module, CdsFuncs &funcs) {
    for (const CdsFuncItem *item = cds_func_items; item->name != nullptr; ++item) {
        LogQ("korvo: cds_load: loading %s into cds_funcs + %p", item->name,
             reinterpret_cast<void *>(item->offset));
        void *address = KesRtlResolve(module, item->name);
        if (address == nullptr)
            return false;
        std::memcpy(reinterpret_cast<char *>(&funcs) + item->offset, &address, sizeof address);
    }
    return true;
}

}  // namespace

Session &process_session() {
    static Session session;
    return session;
}

bool client_ready() {
    cds_init();
    return process_session().cds_loaded;
}

}  // namespace korvo::cds

extern "C" {

int cds_load(void) {
    using namespace korvo::cds;
    Session &session = process_session();
    void *module = nullptr;
    if (KesRtlResolve(nullptr, cds_func_items[0].name) == nullptr) {
        module = KesRtlLoad(kClientName, nullptr);
        if (module == nullptr) {
            korvo::rt::MgPtr<char> directory(cds_get_lib_dir());
            if (!directory)
                return -1;
            // The client's own libraries may lie beside it, and a host
            // that finds a library's dependencies through PATH looks there.
            korvo::host::AppendToSearchPath(directory.get());
            module = KesRtlLoad(kClientName, directory.get());
            if (module == nullptr)
                return -1;
        }
    }
    if (!resolve_entry_points(module, session.cds_funcs))
        return -1;
    session.cds_loaded = true;
    return 0;
}

void cds_init(void) {
    static std::once_flag once;
    std::call_once(once, [] { LogQ("korvo: cds_init: cds_load() returned %d.", cds_load()); });
}

void cds_status_callback(uint32_t handle, int32_t status) {
    korvo::cds::process_session().complete(handle, status);
}

char *cds_get_actual_path(uint32_t handle, const char *package_id) {
    korvo::cds::Session &session = korvo::cds::process_session();
    if (!session.cds_loaded)
        return nullptr;
    return korvo::cds::actual_path(session.cds_funcs, handle, package_id).release();
}

}  // extern "C"
