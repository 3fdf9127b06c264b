// Writing through net streams: chunks of the granted size going up the
// channel one at a time (pinned byte by byte against a raw gateway), uploads
// answered, refused and kept by the gateway peer, files sent from an offset,
// and the read-only output file of a file-list stream.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "runtime/gateway.h"
#include "runtime/log_capture.hpp"
#include "stream/net_stream_write.h"
#include "tests/properties/props_test_util.hpp"
#include "tests/runtime/raw_gateway.hpp"
#include "tests/stream/program.hpp"
#include "tests/stream/stream_test_support.hpp"
#include "tests/support/test_host.hpp"

namespace {

using namespace korvo::test;
using props_test::raised_by;
using namespace stream_test;

constexpr const char *kGateway = KORVO_GATEWAY_PROGRAM;

Bytes reply(int32_t kind, int32_t value) {
    return packet(GATEWAY_KIND_REPLY, u32(uint32_t(kind)) + u32(uint32_t(value)));
}

class NetworkWrites : public stream_test::StreamTest {};

TEST_F(NetworkWrites, ChunksFollowTheGrantAndWaitForTheirAnswer) {
    const std::string source = pattern(40000, 3);
    MethodProcess method([&] {
        RawKey key(NET_STREAM_NETWORK, 0, "up");
        Stream stream(net_stream_open(&key.key));
        CHILD_CHECK(net_stream_write_begin(stream.get()) == 0);
        CHILD_CHECK(stream->chunkSize == 16384);
        CHILD_CHECK(net_stream_write(stream.get(), source.data(), 0) == 0);
        CHILD_CHECK(net_stream_write(stream.get(), source.data(), 40000) == 40000);
        CHILD_CHECK(stream->fill == 7232);
        CHILD_CHECK(net_stream_write_end(stream.get()) == 0);
        CHILD_CHECK(stream->buffer == nullptr && stream->fill == 0);
        // A grant beyond the channel's largest message is cut to it; a begin
        // drops what an unfinished transfer left; an end with nothing
        // waiting sends only the end of the transfer.
        CHILD_CHECK(net_stream_write_begin(stream.get()) == 0);
        CHILD_CHECK(stream->chunkSize == GATEWAY_MESSAGE_MAX);
        CHILD_CHECK(net_stream_write(stream.get(), source.data(), 10) == 10);
        CHILD_CHECK(net_stream_write_begin(stream.get()) == 0);
        CHILD_CHECK(stream->chunkSize == 32768 && stream->fill == 0);
        CHILD_CHECK(net_stream_write_end(stream.get()) == 0);
        return 0;
    });
    auto &gateway = method.gateway;
    EXPECT_EQ(gateway.receive(), packet(GATEWAY_KIND_STATUS, Bytes(28, 0)));
    gateway.send(reply(GATEWAY_KIND_STATUS, 16384));
    std::string arrived;
    for (std::size_t size : {16384u, 16384u, 7232u}) {
        const Bytes chunk = gateway.receive();
        ASSERT_EQ(chunk.size(), 12 + size);
        EXPECT_EQ(chunk, packet(GATEWAY_KIND_DATA, Bytes(chunk.begin() + 12, chunk.end())));
        arrived.append(chunk.begin() + 12, chunk.end());
        EXPECT_TRUE(gateway.receive(100).empty()) << "a chunk went up before the last was answered";
        gateway.send(reply(GATEWAY_KIND_DATA, 16384));
    }
    EXPECT_EQ(arrived, source);
    EXPECT_EQ(gateway.receive(), packet(GATEWAY_KIND_END, {}));

    EXPECT_EQ(gateway.receive(), packet(GATEWAY_KIND_STATUS, Bytes(28, 0)));
    gateway.send(reply(GATEWAY_KIND_STATUS, INT32_MAX));
    EXPECT_EQ(gateway.receive(), packet(GATEWAY_KIND_STATUS, Bytes(28, 0)));
    gateway.send(reply(GATEWAY_KIND_STATUS, 32768));
    EXPECT_EQ(gateway.receive(), packet(GATEWAY_KIND_END, {}));
    EXPECT_EQ(method.wait(), 0);
}

// Uploads through the gateway peer, which a method reaches on a socket path;
// each test's uploads are kept in a directory of their own.
class PeerUploads : public stream_test::StreamTest {
  protected:
    // Runs `body` as a method against a peer started with `options`; returns
    // the peer's upload lines, with the upload directory shown as "DIR".
    std::vector<std::string> upload(const std::vector<std::string> &options,
                                    const std::function<int()> &body) {
        ++runs;
        uploads = scratch / ("uploads" + std::to_string(runs));
        std::filesystem::create_directory(uploads);
        const std::string socket = scratch / ("gateway" + std::to_string(runs) + ".sock");
        std::vector<std::string> argv{kGateway, "--listen",  socket, "--timeout",
                                      "30",     "--uploads", uploads};
        argv.insert(argv.end(), options.begin(), options.end());
        Program gateway(argv);
        EXPECT_EQ(gateway.line(), "gateway: listening on " + socket);
        korvo::test::Child method([&] {
            korvo::test::setEnvironmentVariable("KORVO_GATEWAY", socket.c_str());
            return body();
        });
        EXPECT_EQ(method.wait(), 0);
        std::vector<std::string> lines;
        for (std::string line : gateway.lines_starting("gateway: upload")) {
            const std::size_t at = line.find(uploads);
            if (at != std::string::npos)
                line.replace(at, uploads.size(), "DIR");
            lines.push_back(line);
        }
        EXPECT_EQ(gateway.wait(), 0);
        return lines;
    }

    int runs = 0;
    std::string uploads;
};

using Lines = std::vector<std::string>;

TEST_F(PeerUploads, EveryRefusalReturnsThePeersCodeAfterEndingTheTransfer) {
    const std::string source = pattern(40000, 5);
    const auto method = [&](const std::function<int(NetStream *)> &steps) {
        return [&, steps] {
            RawKey key(NET_STREAM_NETWORK, 0, "up");
            Stream stream(net_stream_open(&key.key));
            return steps(stream.get());
        };
    };

    EXPECT_EQ(
        upload({"--refuse", "-5@0"}, method([&](NetStream *stream) {
                   CHILD_CHECK(net_stream_write_begin(stream) == -5);
                   CHILD_CHECK(net_stream_write(stream, source.data(), 10) == -1);  // not begun
                   return 0;
               })),
        (Lines{"gateway: upload 1: status refused with -5",
               "gateway: upload 1: 0 bytes in 0 chunks, kept in DIR/upload-1"}));

    EXPECT_EQ(upload({"--refuse", "-9@2"}, method([&](NetStream *stream) {
                         CHILD_CHECK(net_stream_write_begin(stream) == 0);
                         CHILD_CHECK(net_stream_write(stream, source.data(), 40000) == -9);
                         return 0;
                     })),
              (Lines{"gateway: upload 1: status, granted 16384",
                     "gateway: upload 1: chunk 2 of 16384 bytes refused with -9",
                     "gateway: upload 1: 32768 bytes in 2 chunks (16384 x 2), kept in "
                     "DIR/upload-1"}));
    EXPECT_EQ(contents(uploads + "/upload-1"), source.substr(0, 32768));

    // The last chunk goes up from the end.
    EXPECT_EQ(upload({"--refuse", "-4@3"}, method([&](NetStream *stream) {
                         CHILD_CHECK(net_stream_write_begin(stream) == 0);
                         CHILD_CHECK(net_stream_write(stream, source.data(), 40000) == 40000);
                         CHILD_CHECK(net_stream_write_end(stream) == -4);
                         return 0;
                     })),
              (Lines{"gateway: upload 1: status, granted 16384",
                     "gateway: upload 1: chunk 3 of 7232 bytes refused with -4",
                     "gateway: upload 1: 40000 bytes in 3 chunks (16384 x 2, 7232), kept in "
                     "DIR/upload-1"}));
    EXPECT_EQ(contents(uploads + "/upload-1"), source);

    // A window of no bytes takes no data: the write ends the transfer, and
    // so does a file sent into it; an empty file needs no room.
    const std::string empty = scratch / "empty";
    write_file(scratch / "one", "x");
    write_file(empty, "");
    EXPECT_EQ(
        upload({"--grant", "0"}, method([&](NetStream *stream) {
                   CHILD_CHECK(net_stream_write_begin(stream) == 0);
                   CHILD_CHECK(net_stream_write(stream, "x", 1) == -1);
                   CHILD_CHECK(net_stream_send_file(stream, (scratch / "one").c_str(), 0) == -1);
                   CHILD_CHECK(net_stream_send_file(stream, empty.c_str(), 0) == 0);
                   return 0;
               })),
        (Lines{"gateway: upload 1: status, granted 0",
               "gateway: upload 1: 0 bytes in 0 chunks, kept in DIR/upload-1",
               "gateway: upload 2: status, granted 0",
               "gateway: upload 2: 0 bytes in 0 chunks, kept in DIR/upload-2",
               "gateway: upload 3: status, granted 0",
               "gateway: upload 3: 0 bytes in 0 chunks, kept in DIR/upload-3"}));
}

// A method that opens upload after upload and never reads a reply is held
// by its own full socket: the peer stops reading from it once its replies
// wait unread, so the uploads it keeps stay few.
TEST_F(PeerUploads, AMethodThatNeverReadsItsRepliesIsHeldBack) {
    constexpr int kFlood = 20000;
    uploads = scratch / "flood";
    std::filesystem::create_directory(uploads);
    const std::string socket = scratch / "flood.sock";
    Program gateway({kGateway, "--listen", socket, "--timeout", "30", "--uploads", uploads});
    ASSERT_EQ(gateway.line(), "gateway: listening on " + socket);
    std::vector<std::string> lines;
    std::thread transcript([&] { lines = gateway.lines(); });  // only the method holds it back
    korvo::test::Child method([&] {
        korvo::test::setEnvironmentVariable("KORVO_GATEWAY", socket.c_str());
        korvo::test::setEnvironmentVariable("KORVO_GATEWAY_TIMEOUT",
                                            "1");  // a held send fails within a second
        IomHandle *channel = ecp_get_ipc_handle();
        CHILD_CHECK(channel != nullptr);
        const GatewayStatus status{};
        int sent = 0;
        while (sent < kFlood && send_methstat(channel, GATEWAY_KIND_STATUS, &status) == 0)
            ++sent;
        CHILD_CHECK(sent < kFlood);
        return 0;
    });
    EXPECT_EQ(method.wait(), 0);
    transcript.join();
    EXPECT_EQ(gateway.wait(), 0);
    const auto kept = std::distance(std::filesystem::directory_iterator(uploads),
                                    std::filesystem::directory_iterator());
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 2000);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &line) {
                                return line.starts_with(
                                    "gateway: the method does not read what "
                                    "it is sent (64 packets wait)");
                            }),
              1);
}

TEST_F(PeerUploads, AFileSentFromAnOffsetBeyondFourGiBArrivesAsExactlyItsTail) {
    const std::string big = scratch / "sparse.img";
    const uint64_t size = (4ull << 30) + 50000;
    const std::string data = pattern(60000, 9);  // the last 60000 bytes; holes before
    {
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const bool sparse = ::ftruncate(fd, off_t(size)) == 0;
        const bool written = sparse && ::pwrite(fd, data.data(), data.size(),
                                                off_t(size - data.size())) == ssize_t(data.size());
        ::close(fd);
        if (!written)
            GTEST_SKIP() << "this file system holds no sparse file of 4 GiB";
    }
    const uint64_t offset = (4ull << 30) + 1000;
    const std::string fifo = scratch / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(
        upload({},
               [&] {
                   RawKey key(NET_STREAM_NETWORK, 0, "up");
                   Stream stream(net_stream_open(&key.key));
                   // What cannot be sent is refused before anything goes up,
                   // without waiting for a FIFO's writer.
                   for (const std::string &path :
                        {std::string(scratch / "missing"), fifo, std::string(scratch.path())}) {
                       const auto raised =
                           raised_by([&] { net_stream_send_file(stream.get(), path.c_str(), 0); });
                       CHILD_CHECK(raised.number == 11 && raised.arguments.at(0) == path);
                   }
                   CHILD_CHECK(net_stream_send_file(stream.get(), big.c_str(), int64_t(offset)) ==
                               0);
                   return 0;
               }),
        (Lines{"gateway: upload 1: status, granted 16384",
               "gateway: upload 1: 49000 bytes in 3 chunks (16384 x 2, 16232), kept in "
               "DIR/upload-1"}));
    EXPECT_TRUE(contents(uploads + "/upload-1") == data.substr(data.size() - 49000));
}

// A file-list stream writes into "<work dir>/korvo/<distribution id>".
class FileListWrites : public stream_test::StreamTest {
  protected:
    std::string output(const std::string &id) const { return work + "/korvo/" + id; }
};

TEST_F(FileListWrites, TheOutputFileIsReadOnlyForItsOwner) {
    const std::string source = pattern(40000, 7);
    RawKey key(NET_STREAM_FILES, 0, "42");
    Stream stream(net_stream_open(&key.key));
    ASSERT_EQ(net_stream_write_begin(stream.get()), 0);
    EXPECT_EQ(stream->chunkSize, 16384);
    for (std::size_t at = 0; at < source.size(); at += 1000)
        ASSERT_EQ(net_stream_write(stream.get(), source.data() + at, 1000), 1000);
    EXPECT_EQ(net_stream_write_end(stream.get()), 0);
    EXPECT_EQ(stream->writeFile, nullptr);
    EXPECT_TRUE(contents(output("42")) == source);
    struct stat status;
    ASSERT_EQ(::stat(output("42").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0400u);
    ASSERT_EQ(::stat((work + "/korvo").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);

    // The file stays as written: a second transfer cannot open it again.
    if (::geteuid() != 0) {
        korvo::rt::LogCapture capture;
        EXPECT_EQ(net_stream_write_begin(stream.get()), -1);
        EXPECT_EQ(
            capture.texts(LOG_LEVEL_SURVIVED),
            std::vector<std::string>{"korvo: Cannot create the file " + output("42") +
                                     ". The error code is " + std::to_string(EACCES) + ".\n"});
        EXPECT_TRUE(contents(output("42")) == source);
    }

    // A file sent from offset 100 of 300 bytes leaves its last 200.
    const std::string small = scratch / "small";
    write_file(small, pattern(300, 8));
    RawKey other(NET_STREAM_FILES, 0, "43,unused");
    Stream sending(net_stream_open(&other.key));
    EXPECT_EQ(net_stream_send_file(sending.get(), small.c_str(), 100), 0);
    EXPECT_EQ(contents(output("43")), pattern(300, 8).substr(100));
}

TEST_F(FileListWrites, OnlyAPlainFileOfTheOutputDirectoryIsWritten) {
    const std::string dir = work + "/korvo";
    ASSERT_TRUE(std::filesystem::create_directory(dir));
    ::chmod(dir.c_str(), 0700);
    const std::string outside = scratch / "outside";
    write_file(outside, "keep");
    ASSERT_EQ(::symlink(outside.c_str(), (dir + "/linked").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir + "/piped").c_str(), 0600), 0);
    ASSERT_TRUE(std::filesystem::create_directory(dir + "/sub"));
    for (const std::string id : {"linked", "piped", "sub", "sub/x", "..", ""}) {
        SCOPED_TRACE(id);
        RawKey key(NET_STREAM_FILES, 0, id);
        Stream stream(net_stream_open(&key.key));
        korvo::rt::LogCapture capture;
        EXPECT_EQ(net_stream_write_begin(stream.get()), -1);
        EXPECT_EQ(capture.texts(LOG_LEVEL_SURVIVED).size(), 1u);
        EXPECT_EQ(stream->writeFile, nullptr);
    }
    EXPECT_EQ(contents(outside), "keep");
    EXPECT_FALSE(std::filesystem::exists(dir + "/sub/x"));

    // A directory that another account holds could be changed under the file.
    if (::geteuid() != 0)
        GTEST_SKIP() << "handing a directory to another account needs root";
    ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
    RawKey key(NET_STREAM_FILES, 0, "fresh");
    Stream stream(net_stream_open(&key.key));
    korvo::rt::LogCapture capture;
    EXPECT_EQ(net_stream_write_begin(stream.get()), -1);
    EXPECT_EQ(
        capture.texts(LOG_LEVEL_SURVIVED),
        std::vector<std::string>{"korvo: Cannot create the file " + dir +
                                 "/fresh. The error code is " + std::to_string(EPERM) + ".\n"});
    EXPECT_FALSE(std::filesystem::exists(dir + "/fresh"));
}

}  // namespace
