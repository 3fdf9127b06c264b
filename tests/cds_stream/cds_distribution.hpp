// Test support for distributions the CDS client downloads: a package (its id
// and bytes), the distribution's TOC, one segment per package naming the
// server and the package, and the download results a method's trace shows. Shared by the CDS stream
// tests and the korvo command's tests. The TOC owns its segments; one thread uses it at a time.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "runtime/seq.h"

namespace cds_stream_test {

struct Package {
    std::string id;
    std::string bytes;
};

// A distribution's TOC: one segment per package, each with its size, offset
// 0, the server as "cds_manager" and the package's id as "cds_packageid".
struct Distribution : PropertiesList {
    Distribution(const std::vector<Package> &packages, const std::string &manager)
        : PropertiesList{} {
        for (const Package &package : packages) {
            Properties segment{};
            properties_put_string_dup(&segment, SEGMENT_ID_KEY, package.id.c_str());
            properties_put_string_dup(&segment, SEGMENT_VERSION_KEY, "1");
            properties_put_long_dup(&segment, SEGMENT_SIZE_KEY,
                                    static_cast<int32_t>(package.bytes.size()));
            properties_put_long_dup(&segment, SEGMENT_OFFSET_KEY, 0);
            properties_put_string_dup(&segment, SEGMENT_CDS_MANAGER, manager.c_str());
            properties_put_string_dup(&segment, SEGMENT_CDS_PACKAGEID, package.id.c_str());
            seq_add(this, &segment, sizeof segment);
        }
    }
    ~Distribution() { properties_list_delete(this); }
    Distribution(const Distribution &) = delete;
    Distribution &operator=(const Distribution &) = delete;
    Properties *segment(uint32_t i) { return &buffer[i]; }
};

// The return codes of DownloadFile that a method's trace (its standard
// error) logged, in order.
inline std::vector<int> download_results(const std::string &trace) {
    std::vector<int> results;
    std::istringstream lines(trace);
    const std::string rc = ").  rc=";
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("korvo: Started a new CDS download: DownloadFile(") &&
            line.find(rc) != std::string::npos)
            results.push_back(std::stoi(line.substr(line.find(rc) + rc.size())));
    return results;
}

}  // namespace cds_stream_test
