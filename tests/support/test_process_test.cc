// The child-process helper itself: what a child gets (arguments, environment,
// pipe ends, shared memory) and what its parent learns of its end.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

#include "tests/support/test_host.hpp"
#include "tests/support/test_process.hpp"

namespace {

using korvo::test::Child;
using korvo::test::Pipe;

struct Counter {
    std::atomic<int> value{0};
};

// Writes its arguments and the variable KORVO_CHILD_PROBE to end 0 and adds
// them up in the shared counter named by arg(0).
KORVO_CHILD_BODY(EchoInputs) {
    korvo::test::Shared<Counter> counter(child.arg(0));
    std::string text;
    for (const std::string &arg : child.args())
        text += arg + "|";
    const char *probe = std::getenv("KORVO_CHILD_PROBE");
    text += probe == nullptr ? "(unset)" : probe;
    counter->value.fetch_add(static_cast<int>(child.args().size()));
    return child.end(0).sendAll(text) && child.endCount() == 1 ? 3 : 1;
}

KORVO_CHILD_BODY(Throw) {
    throw std::runtime_error("out of the body");
}

// Waits for the end of end 0: it must come only when the parent closes its
// write end, since no other process got a copy.
KORVO_CHILD_BODY(WaitForTheEnd) {
    return child.end(0).receive() == -1 ? 0 : 1;
}

TEST(ChildProcess, GetsItsInputsAndReturnsItsStatus) {
    korvo::test::Shared<Counter> counter;
    Pipe output;
    Child child("EchoInputs", {.args = {counter.name(), "two words", ""},
                               .ends = {output.writeEnd()},
                               .environment = {{"KORVO_CHILD_PROBE", "set"}}});
    output.closeWrite();
    EXPECT_EQ(output.receiveAll(), counter.name() + "|two words||set");
    EXPECT_EQ(child.wait(), 3);
    EXPECT_EQ(counter->value.load(), 3);
}

TEST(ChildProcess, FailuresAndKillsAreToldApart) {
    Child thrower("Throw"), unknown("NoSuchBody");
    EXPECT_EQ(thrower.wait(), 125);
    EXPECT_EQ(unknown.wait(), 126);

    Pipe never;
    Child waiting("WaitForTheEnd", {.ends = {never.readEnd()}});
    waiting.kill();
    EXPECT_EQ(waiting.wait(), korvo::test::kKilled);
}

TEST(ChildProcess, PipeEndsReachOnlyTheChildrenTheyAreHandedTo) {
    Pipe first, second;
    Child a("WaitForTheEnd", {.ends = {first.readEnd()}});
    Child b("WaitForTheEnd", {.ends = {second.readEnd()}});
    first.closeWrite();
    EXPECT_EQ(a.wait(), 0);  // b holds no copy of first's write end
    second.closeWrite();
    EXPECT_EQ(b.wait(), 0);
}

// The bodies below run as other programs (childProgram): what a program
// started with ProgramArgs gets, on every host, without a shell.

// Exits with the value of KORVO_CHILD_PROBE, or 0 when it is unset.
KORVO_CHILD_BODY(ExitWithProbe) {
    const char *probe = std::getenv("KORVO_CHILD_PROBE");
    return probe == nullptr ? 0 : std::atoi(probe);
}

// Reads its standard input to the end, writes how many bytes came, and a
// line to its standard error.
KORVO_CHILD_BODY(CountInput) {
    std::size_t count = 0;
    while (std::fgetc(stdin) != EOF)
        ++count;
    std::printf("%zu\n", count);
    std::fprintf(stderr, "err\n");
    return 0;
}

// Writes arg(1) bytes into the file arg(0).
KORVO_CHILD_BODY(WriteBytes) {
    std::ofstream out(child.arg(0), std::ios::binary);
    const std::string bytes(std::stoul(child.arg(1)), '\0');
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return out ? 0 : 1;
}

// Writes a line to the pipe end whose number is arg(0).
KORVO_CHILD_BODY(WriteToHandedEnd) {
    korvo::test::PipeEnd end(korvo::test::PipeHandle{std::stoll(child.arg(0))});
    return end.sendAll("in\n") ? 0 : 1;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ChildProcess, ProgramsRunWithTheirEnvironmentAndOutputFiles) {
    EXPECT_EQ(korvo::test::runProgram(korvo::test::childProgram("ExitWithProbe").argv,
                                      {{"KORVO_CHILD_PROBE", "4"}}),
              4);
    korvo::test::setEnvironmentVariable("KORVO_CHILD_PROBE", "5");
    EXPECT_EQ(korvo::test::runProgram(korvo::test::childProgram("ExitWithProbe").argv,
                                      {{"KORVO_CHILD_PROBE", std::nullopt}}),
              0);
    EXPECT_EQ(korvo::test::runProgram(korvo::test::childProgram("ExitWithProbe").argv), 5);
    korvo::test::setEnvironmentVariable("KORVO_CHILD_PROBE", nullptr);
    EXPECT_EQ(korvo::test::runProgram({"/no/such/program"}), -1);

    const std::string dir =
        korvo::test::makeScratchDirectory(std::filesystem::temp_directory_path(), "child-");
    ASSERT_FALSE(dir.empty());
    {
        Child program(korvo::test::childProgram("CountInput"),
                      {.outputFile = dir + "/out", .errorFile = dir + "/err", .emptyInput = true});
        EXPECT_EQ(program.wait(), 0);
        Child missing(korvo::test::ProgramArgs{{"/no/such/program"}});
        EXPECT_EQ(missing.wait(), 127);
    }
    EXPECT_EQ(readFile(dir + "/out"), "0\n");
    EXPECT_EQ(readFile(dir + "/err"), "err\n");
    std::filesystem::remove_all(dir);
}

TEST(ChildProcess, ProgramsWriteToPipesAndReadNothing) {
    korvo::test::Pipe out, err;
    // The body ends at once on empty input; its byte count and the error
    // line come back apart, each on its own pipe.
    Child program(
        korvo::test::childProgram("CountInput"),
        {.standardOutput = out.writeEnd(), .standardError = err.writeEnd(), .emptyInput = true});
    out.closeWrite();
    err.closeWrite();
    std::string output, error;
    EXPECT_TRUE(korvo::test::receiveAllOf({{out.readEnd(), &output}, {err.readEnd(), &error}}));
    EXPECT_EQ(program.wait(), 0);
    EXPECT_EQ(output, "0\n");
    EXPECT_EQ(error, "err\n");

    // A handed-over end is open in the program at the number it has here.
    korvo::test::Pipe channel;
    Child writer(
        korvo::test::childProgram("WriteToHandedEnd", {std::to_string(channel.writeEnd().value)}),
        {.ends = {channel.writeEnd()}});
    channel.closeWrite();
    EXPECT_EQ(channel.receiveAll(), "in\n");
    EXPECT_EQ(writer.wait(), 0);

    // A writer that never closes its end runs the bounded read out.
    korvo::test::Pipe held;
    std::string none;
    EXPECT_FALSE(korvo::test::receiveAllOf({{held.readEnd(), &none}}, 10));
}

TEST(ChildProcess, FilesStopAtTheSizeLimit) {
    if (!korvo::test::fileSizeLimitHost())
        GTEST_SKIP() << "this host has no limit on the size of a process's files (a job object "
                        "limits memory and time, not files)";
    // The write past the limit ends the writer, from the first byte on.
    const std::string dir =
        korvo::test::makeScratchDirectory(std::filesystem::temp_directory_path(), "child-");
    ASSERT_FALSE(dir.empty());
    Child limited(korvo::test::childProgram("WriteBytes", {dir + "/limited", "5000"}),
                  {.fileSizeLimit = 1000});
    EXPECT_NE(limited.wait(), 0);
    EXPECT_EQ(std::filesystem::file_size(dir + "/limited"), 1000u);
    std::filesystem::remove_all(dir);
}

TEST(TestHost, CountsHandlesAndMemory) {
    // A pipe is two more open descriptors (handles), and closing gives them back.
    const int before = korvo::test::openDescriptorCount();
    ASSERT_GT(before, 0);
    {
        Pipe pipe;
        EXPECT_EQ(korvo::test::openDescriptorCount(), before + 2);
    }
    EXPECT_EQ(korvo::test::openDescriptorCount(), before);
    EXPECT_GT(korvo::test::residentBytes(), 0);
}

}  // namespace
