// The CD search: the roots of the machine's CD drives, in the host's order.
#include "runtime/raise.hpp"
#include "stream/cd_drives.hpp"
#include "stream/locating.hpp"
#include "stream/segment_search.h"

namespace korvo::stream {

void search_cd_drives(Toc *toc, const SegmentIndex &index, FoundPaths &paths) {
    for (const std::string &root : cd_drives()) {
        if (all_marked(toc))
            break;
        search_directory(toc, root.c_str(), index, paths);
    }
}

}  // namespace korvo::stream

using namespace korvo::stream;

extern "C" {

void net_stream_search_cd_drives(Toc *toc, StringList *paths) {
    if (toc == nullptr)
        return;
    korvo::rt::Frame frame;
    FoundPaths found = paths != nullptr ? FoundPaths(paths) : FoundPaths();
    search_cd_drives(toc, SegmentIndex(toc), found);
}
}
