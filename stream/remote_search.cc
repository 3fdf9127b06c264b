// The remote-directory search: the directories that "remote.dir", in the
// endpoint's data directory (QEL_DATDIR), lists one per line.
#include "stream/remote_dir_lines.hpp"

#include <memory>

#include "kes/host_file.hpp"
#include "properties/errors/catalog_raise.hpp"
#include "properties/errors/korvo_catalog.h"
#include "runtime/cpl.h"
#include "runtime/log.h"
#include "stream/locating.hpp"

namespace korvo::stream {

namespace {

struct FileClose {
    void operator()(std::FILE *file) const noexcept { std::fclose(file); }
};

// The list's path: QEL_DATDIR, '/', "remote.dir"; empty when QEL_DATDIR is
// not set or empty.
std::string remote_dir_list_path() {
    const char *data = cpl_getenv("QEL_DATDIR");
    if (data == nullptr || *data == '\0')
        return {};
    return std::string(data) + '/' + "remote.dir";
}

}  // namespace

void search_remote_directories(Toc *toc, const SegmentIndex &index, FoundPaths &paths) {
    const std::string path = remote_dir_list_path();
    if (path.empty())
        korvo::helpers::raise_message(KORVO_MSG_NOT_IN_DEPOT, "remote.dir (QEL_DATDIR is not set)");
    korvo::kes::UniqueFd fd = open_regular_file(path);
    const std::unique_ptr<std::FILE, FileClose> file(fd ? korvo::host::StreamOfFile(fd.get(), "r")
                                                        : nullptr);
    if (file == nullptr)
        korvo::helpers::raise_message(KORVO_MSG_NOT_IN_DEPOT, path.c_str());
    fd.release();  // the stream closes it now

    DirectoryLines lines(file.get());
    std::string line;
    while (!all_marked(toc) && lines.next(line))
        search_directory(toc, line.c_str(), index, paths);
    if (lines.skipped() > 0)
        LogMsg(LOG_LEVEL_SURVIVED, 0, 0, -1,
               "korvo: Skipped %d line(s) longer than 1023 bytes in %s", lines.skipped(),
               path.c_str());
}

}  // namespace korvo::stream
