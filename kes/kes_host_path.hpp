// The text that a Kes file or directory operation hands to the system for a
// caller's path: its localised private copy in the host's style. Localising
// in the POSIX style changes nothing, so there the text is the caller's own
// and nothing is copied.
#pragma once

#include <string>

#include "kes/kes_path_rules.hpp"

namespace korvo::kes {

class HostPath {
  public:
    enum class Foreign { kRefuse, kPassUnchanged };

    // A path that is not native is refused (the file operations) or passed to
    // the system as it stands (the directory operations).
    HostPath(const char *path, Foreign foreign) noexcept {
        if (path == nullptr)
            return;
        if (!IsNativePath(kHostPathStyle, path)) {
            if (foreign == Foreign::kPassUnchanged)
                text_ = path;
            return;
        }
        if constexpr (kHostPathStyle == PathStyle::kPosix) {
            text_ = path;
        } else {
            try {
                copy_ = path;
            } catch (...) {
                return;  // no memory for the copy: refused like a foreign path
            }
            LocalizePath(kHostPathStyle, copy_.data());
            text_ = copy_.c_str();
        }
    }

    // False when the path is NULL or was refused.
    bool usable() const { return text_ != nullptr; }
    const char *c_str() const { return text_; }

  private:
    const char *text_ = nullptr;
    std::string copy_;
};

}  // namespace korvo::kes
