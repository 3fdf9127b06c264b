// The child bodies' registry and command line, the same on every host.
#include "tests/support/test_process_bodies.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>

namespace korvo::test {
namespace {

std::map<std::string, ChildBody> &registry() {
    static std::map<std::string, ChildBody> registered;
    return registered;
}

// The handles of the list "n,n,...", as numbers (descriptors, or handle
// values on Windows).
std::vector<PipeHandle> parseEnds(std::string_view list) {
    std::vector<PipeHandle> ends;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        ends.push_back(PipeHandle{static_cast<std::intptr_t>(
            std::strtoll(std::string(list.substr(0, comma)).c_str(), nullptr, 10))});
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    }
    return ends;
}

}  // namespace

bool registerChildBody(const char *name, ChildBody body) {
    if (!registry().emplace(name, body).second) {
        std::fprintf(stderr, "child body %s is registered twice\n", name);
        std::abort();
    }
    return true;
}

namespace bodies {

std::vector<std::string> commandLine(const std::string &program, const char *name,
                                     const std::vector<PipeHandle> &ends,
                                     const std::vector<std::string> &args) {
    std::string list;
    for (const PipeHandle end : ends)
        list += (list.empty() ? "" : ",") + std::to_string(end.value);
    std::vector<std::string> argv{program, std::string(kBodyOption) + name,
                                  std::string(kEndsOption) + list};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

bool namesBody(int argc, char **argv) {
    return argc >= 3 && std::string_view(argv[1]).starts_with(kBodyOption) &&
           std::string_view(argv[2]).starts_with(kEndsOption);
}

int runNamedBody(int argc, char **argv) {
    const std::string name(std::string_view(argv[1]).substr(kBodyOption.size()));
    ChildContext context(std::vector<std::string>(argv + 3, argv + argc),
                         parseEnds(std::string_view(argv[2]).substr(kEndsOption.size())));
    const auto found = registry().find(name);
    if (found == registry().end()) {
        std::fprintf(stderr, "no child body named %s\n", name.c_str());
        return 126;
    }
    try {
        return found->second(context);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "child process threw: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "child process threw\n");
    }
    return 125;
}

}  // namespace bodies
}  // namespace korvo::test
