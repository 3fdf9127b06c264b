// The TOC a receive works on, from one of three places:
//   - a TOC file: a property file (plain layout) whose key "j_toc" holds the
//     TOC, as korvo_gateway --make-toc writes it;
//   - data files named on the command line: one segment per file, named by
//     the file, version "1", its "data_path" the path as given (a file-list
//     stream matches its list against it);
//   - a distribution directory: one segment per description file ("*.toc",
//     bare layout, then "*.itc", marked layout), with the size of the data
//     file that its "location" names in the same directory.
// Each segment carries "id", "version", "size" and "offset" 0.
//
// Ownership: a Toc owns its list (properties_list_delete at the end).
// Threads: main thread. Failures are Failures: not found (3) for a missing
// file or directory, failed (1) for what cannot be read or used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "properties/korvo_types.h"

namespace korvo::cli {

class DistributionToc {
  public:
    DistributionToc() = default;
    ~DistributionToc();
    DistributionToc(const DistributionToc &) = delete;
    DistributionToc &operator=(const DistributionToc &) = delete;
    DistributionToc(DistributionToc &&other) noexcept;
    DistributionToc &operator=(DistributionToc &&other) noexcept;

    PropertiesList *get() { return &list_; }
    uint32_t size() const { return list_.length; }
    Properties &segment(uint32_t i) { return list_.buffer[i]; }
    const Properties &segment(uint32_t i) const { return list_.buffer[i]; }
    // The sum of the segments' sizes.
    uint64_t total_bytes() const;

    // Takes `segment` over (its contents now belong to the TOC).
    void add(Properties &segment);

  private:
    PropertiesList list_{};
};

DistributionToc toc_from_file(const std::string &path);
DistributionToc toc_from_data_files(const std::vector<std::string> &files);
DistributionToc toc_from_directory(const std::string &dir);

// A segment's id and version as text ("" when missing).
std::string segment_text(const Properties &segment, const char *key);

}  // namespace korvo::cli
