// The plain directory watcher: it watches nothing, so its callers list their
// directories every time. Built when the build chooses it
// (KORVO_DIR_WATCH=plain).
#include "kes/kes_dir_watch.hpp"

namespace korvo::kes {
namespace {

class PlainWatcher final : public DirWatcher {
  public:
    int watch(const char *) override { return -1; }
    void unwatch(int) override {}
    void drain(const Sink &) override {}
};

}  // namespace

std::unique_ptr<DirWatcher> NewDirWatcher() {
    return std::make_unique<PlainWatcher>();
}

}  // namespace korvo::kes
