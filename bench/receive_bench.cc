// What verifying digests and flushing to disk cost a receive: `korvo
// receive --dir DIR --toc TOC` of 64 MiB in 4 segments of 16 MiB (the files
// in the page cache of the temporary directory, KORVO_TMPDIR), with a TOC
// whose segments carry their SHA-256 ("checksum", as korvo_gateway
// --make-toc writes it), with the same TOC without it, and without digests
// but with --sync (outputs and record flushed to disk at the end). Each
// iteration runs the program afresh (empty output folder, no record).
// Reported: wall time per receive (manual time), the program's CPU time
// (counter cpu_s, from the children's resource usage), bytes per second;
// beside it, in the same iteration, the limit: a bare loop of 16384-byte
// read() and write() calls that copies the same files (x_limit: the
// receive's time over the copy's); and SHA-256 alone over the same bytes in
// memory (BM_Sha256).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_programs.hpp"
#include "bench/bench_scratch.hpp"
#include "properties/korvo_keys.h"
#include "properties/korvo_properties.h"
#include "properties/property_files.h"
#include "runtime/generic.h"
#include "runtime/mg_memory.h"

namespace {

constexpr int kFiles = 4;
constexpr std::size_t kFileSize = 16u << 20;
constexpr std::size_t kTotal = kFiles * kFileSize;

int run(const char *program, const std::vector<std::string> &args) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::vector<char *> argv{const_cast<char *>(program)};
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(program, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// The distribution: the data files and their descriptions in one
// directory, and two TOC files, with and without the digests.
class Distribution {
  public:
    Distribution() {
        korvo_init();
        std::filesystem::create_directory(source_);
        std::vector<char> bytes(kFileSize);
        std::vector<std::string> args{"--make-toc", with_};
        for (int i = 0; i < kFiles; ++i) {
            for (std::size_t b = 0; b < bytes.size(); ++b)
                bytes[b] = static_cast<char>(b * 131 + i);
            const std::string name = "segment" + std::to_string(i);
            const std::string path = source_ + "/" + name;
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
                std::abort();
            ::close(fd);
            files_.push_back(path);
            args.push_back(path);
            Properties segment{}, description{};
            properties_put_string_dup(&segment, "id", name.c_str());
            properties_put_string_dup(&segment, "version", "1");
            properties_put_string_dup(&segment, "location", name.c_str());
            properties_put_properties_dup(&description, "segment", &segment);
            properties_save_without_len(&description, (source_ + "/" + name + ".toc").c_str());
            properties_delete(&description);
            properties_delete(&segment);
        }
        if (run(KORVO_GATEWAY_PROGRAM, args) != 0)
            std::abort();
        // The same TOC without "checksum".
        Properties file{};
        properties_load(&file, with_.c_str());
        PropertiesList *toc = properties_get_properties_list(&file, JOB_TOC_KEY);
        for (uint32_t i = 0; i < toc->length; ++i) {
            Property *removed = properties_remove(&toc->buffer[i], SEGMENT_CHECKSUM_KEY);
            vem_free_generic(removed, TC_Vem_Korvo2_Property);
            mg_free(removed);
        }
        properties_save(&file, without_.c_str());
        properties_delete(&file);
    }
    const std::string &toc(bool digests) const { return digests ? with_ : without_; }
    const std::string &source() const { return source_; }
    const std::string out() const { return scratch_ / "out"; }
    const std::vector<std::string> &files() const { return files_; }

  private:
    korvo::bench::Scratch scratch_;
    std::string source_ = scratch_ / "source";
    std::string with_ = scratch_ / "with.toc", without_ = scratch_ / "without.toc";
    std::vector<std::string> files_;
};

Distribution &distribution() {
    static Distribution instance;
    return instance;
}

double children_cpu_seconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void bare_copy(const Distribution &d) {
    static std::vector<char> buffer(16384);
    for (std::size_t i = 0; i < d.files().size(); ++i) {
        const int in = ::open(d.files()[i].c_str(), O_RDONLY);
        const std::string target = d.out() + "/copy" + std::to_string(i);
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ssize_t n;
        while ((n = ::read(in, buffer.data(), buffer.size())) > 0)
            if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n)
                std::abort();
        ::close(in);
        ::close(out);
    }
}

void BM_Receive(benchmark::State &state) {
    const Distribution &d = distribution();
    const bool digests = state.range(0) != 0;
    const bool sync = state.range(1) != 0;
    double receive_seconds = 0, copy_seconds = 0, cpu = 0;
    int round = 0;
    for (auto _ : state) {
        std::filesystem::remove_all(d.out());
        std::filesystem::create_directory(d.out());
        const std::string id = "bench-" + std::to_string(++round);
        const double cpu_before = children_cpu_seconds();
        const auto start = std::chrono::steady_clock::now();
        if (run(KORVO_PROGRAM, {"-q", "receive", id, "--dir", d.source(), "--toc", d.toc(digests),
                                "-o", d.out()}) != 0)
            state.SkipWithError("korvo receive failed");
        const auto middle = std::chrono::steady_clock::now();
        cpu += children_cpu_seconds() - cpu_before;
        bare_copy(d);
        const auto end = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(middle - start).count();
        receive_seconds += seconds;
        copy_seconds += std::chrono::duration<double>(end - middle).count();
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kTotal));
    state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
    if (copy_seconds > 0)
        state.counters["x_limit"] = receive_seconds / copy_seconds;
    state.SetLabel(std::string(digests ? "SHA-256 verified" : "no digests") +
                   (sync ? ", --sync" : ""));
}
BENCHMARK(BM_Receive)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// korvo receive --files of 4 files of 64 MiB (in the page cache) into an
// empty output folder, against cp (the program) copying the same files into
// another empty folder of the same file system in the same iteration (the
// two take turns at going first). Arg 0
// is the receive as it runs (in-kernel copies where the file system offers
// them, progress kept); arg 1 the same receive with --limit-rate 1T, which
// reads and writes in 16 KiB pieces. x_cp: the receive's time over cp's;
// cpu_s and cp_cpu_s: each program's CPU time.
class LargeFiles {
  public:
    LargeFiles() {
        std::vector<char> bytes(kLargeFileSize);
        for (int i = 0; i < kFiles; ++i) {
            for (std::size_t b = 0; b < bytes.size(); ++b)
                bytes[b] = static_cast<char>(b * 131 + i);
            const std::string path = scratch_ / ("large" + std::to_string(i));
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
                std::abort();
            ::close(fd);
            files_.push_back(path);
        }
    }
    static constexpr std::size_t kLargeFileSize = 64u << 20;
    const std::vector<std::string> &files() const { return files_; }
    std::string out() const { return scratch_ / "out"; }
    std::string copies() const { return scratch_ / "cp"; }
    void clear() const {
        for (const std::string &dir : {out(), copies()}) {
            std::filesystem::remove_all(dir);
            std::filesystem::create_directory(dir);
        }
        std::filesystem::remove_all(scratch_ / "mstat");
    }

  private:
    korvo::bench::Scratch scratch_;
    std::vector<std::string> files_;
};

void BM_ReceiveFilesAgainstCp(benchmark::State &state) {
    static const LargeFiles large;
    const bool reads = state.range(0) != 0;
    double receive = 0, cp = 0, receive_cpu = 0, cp_cpu = 0;
    int round = 0;
    for (auto _ : state) {
        large.clear();
        std::vector<std::string> args{"-q", "receive", "large", "--files"};
        args.insert(args.end(), large.files().begin(), large.files().end());
        args.insert(args.end(), {"-o", large.out()});
        if (reads)
            args.insert(args.end(), {"--limit-rate", "1T"});
        std::vector<std::string> cp_args = large.files();
        cp_args.push_back(large.copies() + "/");
        // The two take turns at going first, so that neither always meets
        // the file system still busy with what the other left (outputs of
        // the last iteration being freed, dirty pages being written back).
        double seconds = 0;
        const auto time_receive = [&] {
            const double cpu_before = korvo::bench::childrenCpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            if (korvo::bench::runProgram(KORVO_PROGRAM, args) != 0)
                state.SkipWithError("korvo receive failed");
            seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            receive += seconds;
            receive_cpu += korvo::bench::childrenCpuSeconds() - cpu_before;
        };
        const auto time_cp = [&] {
            const double cpu_before = korvo::bench::childrenCpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            if (korvo::bench::runProgram("cp", cp_args) != 0)
                state.SkipWithError("cp failed");
            cp += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            cp_cpu += korvo::bench::childrenCpuSeconds() - cpu_before;
        };
        if (++round % 2 == 0) {
            time_receive();
            time_cp();
        } else {
            time_cp();
            time_receive();
        }
        state.SetIterationTime(seconds);
    }
    large.clear();
    state.SetBytesProcessed(state.iterations() * kFiles *
                            static_cast<int64_t>(LargeFiles::kLargeFileSize));
    state.counters["cpu_s"] = benchmark::Counter(receive_cpu, benchmark::Counter::kAvgIterations);
    state.counters["cp_cpu_s"] = benchmark::Counter(cp_cpu, benchmark::Counter::kAvgIterations);
    if (cp > 0)
        state.counters["x_cp"] = receive / cp;
    state.SetLabel(reads ? "read and written in 16 KiB pieces" : "copied in the kernel");
}
BENCHMARK(BM_ReceiveFilesAgainstCp)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Sha256(benchmark::State &state) {
    std::vector<char> bytes(kFileSize, 'x');
    unsigned char digest[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
        EVP_MD_CTX *context = EVP_MD_CTX_new();
        EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
        for (std::size_t at = 0; at < bytes.size(); at += 16384)
            EVP_DigestUpdate(context, bytes.data() + at, 16384);
        unsigned int length = 0;
        EVP_DigestFinal_ex(context, digest, &length);
        EVP_MD_CTX_free(context);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_Sha256)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
