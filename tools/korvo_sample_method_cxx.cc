// korvo_sample_method_cxx: the sample receiving method, in C++.
//
//   korvo_sample_method_cxx DIST_ID TOC_FILE OUT_DIR [REPORT]
//
// The twin of korvo_sample_method.c, written with <korvo/korvo.hpp>: reads
// the distribution DIST_ID from the gateway and writes each segment to
// OUT_DIR/<segment id>; on a restart it cuts the output files back to the
// progress record's checkpoint, sets the segments' offsets and hands the
// modified TOC over again; with REPORT it sends that file up once the
// distribution is complete.
// Exit status: 0 complete, 3 stopped by a gateway command, 1 a failure.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include <korvo/korvo.hpp>

namespace {

struct Job {
    std::string id, toc_path, out_dir, report;
};

// One name of this host's paths: no separator ('/', on Windows '\\' too)
// and no drive ("C:").
bool is_file_name(std::string_view id) {
    const std::filesystem::path path{std::string(id)};
    return !id.empty() && id != "." && id != ".." && !path.has_root_name() &&
           path.filename() == path;
}

int run(const Job &job) {
    korvo::Toc toc = korvo::Toc::load(job.toc_path);

    // Resume: what the checkpoint covers, in TOC order, and what the output
    // files still hold; after the first incomplete segment nothing counts.
    int64_t left = korvo::Progress::checkpoint(job.id).value_or(0);
    for (korvo::PropertiesView segment : toc) {
        const int64_t size = segment.get_long(SEGMENT_SIZE_KEY);
        const std::string id(segment.get_string(SEGMENT_ID_KEY));
        if (!is_file_name(id)) {
            std::cerr << "korvo_sample_method_cxx: segment id " << id << " is no file name\n";
            return 1;
        }
        const std::filesystem::path path = std::filesystem::path(job.out_dir) / id;
        std::error_code error;
        const auto held = std::filesystem::file_size(path, error);
        int64_t done = error ? 0 : static_cast<int64_t>(held);
        done = std::min({done, size, left});
        left = done < size ? 0 : left - done;
        std::ofstream(path, std::ios::app).close();  // exists, whatever it held
        std::filesystem::resize_file(path, static_cast<uintmax_t>(done), error);
        if (error) {
            std::cerr << path.string() << ": " << error.message() << '\n';
            return 1;
        }
        segment.put_long(SEGMENT_OFFSET_KEY, static_cast<int32_t>(done));
    }

    korvo::Stream stream = korvo::Stream::open(korvo::StreamKey::network(job.id));
    stream.save_modified_toc(toc);
    for (korvo::PropertiesView segment : toc) {
        if (segment.get_long(SEGMENT_OFFSET_KEY) >= segment.get_long(SEGMENT_SIZE_KEY))
            continue;  // complete: the gateway sends nothing for it
        const std::filesystem::path path =
            std::filesystem::path(job.out_dir) / std::string(segment.get_string(SEGMENT_ID_KEY));
        std::ofstream out(path, std::ios::binary | std::ios::app);
        for (;;) {
            const korvo::Chunk chunk = stream.read();
            if (chunk.result() == 0)
                break;  // the end of this segment
            if (chunk.result() < 0) {
                std::cout << "stopped: "
                          << (chunk.result() == -1 ? std::string_view("channel failure")
                                                   : chunk.command())
                          << std::endl;
                return chunk.result() == -1 ? 1 : 3;
            }
            if (!out.write(chunk.bytes().data(), chunk.bytes().size())) {
                std::cerr << path.string() << ": the write failed\n";
                return 1;
            }
        }
    }
    if (!job.report.empty()) {
        // Up the same stream; a refusal is the gateway's negative code.
        const int32_t sent = stream.send_file(job.report);
        if (sent < 0) {
            std::cout << "report refused: " << sent << std::endl;
            return 1;
        }
        std::cout << "sent " << job.report << " up" << std::endl;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4 && argc != 5) {
        std::cerr << "usage: korvo_sample_method_cxx DIST_ID TOC_FILE OUT_DIR [REPORT]\n";
        return 2;
    }
    const Job job{argv[1], argv[2], argv[3], argc == 5 ? argv[4] : ""};
    try {
        korvo::init();
        const int status = run(job);
        if (status == 0)
            std::cout << "distribution " << job.id << " complete in " << job.out_dir << std::endl;
        return status;
    } catch (const korvo::Error &e) {
        std::cerr << "korvo_sample_method_cxx: message " << e.number() << ": " << e.what();
    } catch (const std::exception &e) {
        std::cerr << "korvo_sample_method_cxx: " << e.what() << '\n';
    }
    return 1;
}
