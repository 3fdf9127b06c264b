// A scratch directory in the temporary directory (KORVO_TMPDIR, so that a
// benchmark runs on tmpfs or on the disk as asked) that is the endpoint's
// work directory while it lives, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "runtime/cpl.h"

namespace korvo::bench {

class Scratch {
  public:
    Scratch() {
        std::string pattern = std::string(cpl_tmpdir()) + "/korvo-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        path_ = pattern;
        ::setenv("KORVO_WORK_DIR", path_.c_str(), 1);
    }
    ~Scratch() {
        ::unsetenv("KORVO_WORK_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

}  // namespace korvo::bench
