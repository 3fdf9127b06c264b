// Fuzzes the building of progress-record paths: the input is a distribution
// id (up to its first NUL). A save either refuses the id (-1) or writes the
// file "<id>.mds" directly inside the progress directory, never elsewhere;
// a load of the same record reads back what was saved.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.hpp"
#include "properties/korvo_properties.h"
#include "runtime/log.h"
#include "runtime/raise.hpp"
#include "stream/mstat.h"

using korvo::fuzz::check;

namespace {

const std::string &work_directory() {
    static const std::string path = [] {
        std::string pattern = "/tmp/korvo_fuzz_mstat_XXXXXX";
        check(::mkdtemp(pattern.data()) != nullptr);
        ::setenv("KORVO_WORK_DIR", pattern.c_str(), 1);
        check(korvo_init() != 0);
        return pattern;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    log_set_level(-1);
    const std::string dir = work_directory() + "/mstat";
    std::string id(reinterpret_cast<const char *>(data), size);
    id.resize(std::strlen(id.c_str()));
    mstat *record = mstat_new(id.c_str(), 0);
    check(record != nullptr);
    int32_t saved = -1;
    try {
        korvo::rt::Frame frame;
        saved = mstat_save(record);
    } catch (const korvo::rt::Exception &) {
        saved = -2;  // refused by the file system (a name too long, say)
    }
    const bool escapes = id.find('/') != std::string::npos;
    if (escapes)
        check(saved == -1);
    if (saved == 0) {
        check(record->path == dir + "/" + id + ".mds");
        struct stat status;
        check(::lstat(record->path, &status) == 0 && S_ISREG(status.st_mode));
        mstat *again = mstat_new(id.c_str(), 0);
        try {
            korvo::rt::Frame frame;
            check(mstat_load(again) == 0);
            check(std::strcmp(properties_get_string(mstat_get_properties(again), "msid"),
                              id.c_str()) == 0);
        } catch (const korvo::rt::Exception &) {
            check(false);
        }
        mstat_free(again);
        ::unlink(record->path);
    }
    mstat_free(record);
    return 0;
}
