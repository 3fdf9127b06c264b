// Property lists at work: a TOC of 1 000 segments (id, version, size,
// offset, location, checksum) encoded and decoded, each timed next to a
// memcpy of the encoded bytes in the same iteration (counter x_limit), the
// same TOC with msgpack-c and protobuf (toc_peers.hpp) beside them, and
// properties_get_long on a 50-key list next to a bare strcmp scan of its
// keys.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_toc.hpp"
#include "bench/kes_bench_timing.hpp"
#include "bench/toc_peers.hpp"
#include "properties/korvo_properties.h"
#include "runtime/marshal.h"
#include "runtime/mg_memory.h"

namespace {

constexpr int kSegments = 1000;
constexpr TypeCode kToc = TC_Vem_Korvo2__sequence_Properties_PropertiesList;

std::vector<uint8_t> encoded_toc() {
    PropertiesList toc = korvo::bench::makeToc(kSegments);
    AdrBuffer *buffer = adr_init_encode_buffer(nullptr, 0);
    marshal_item(buffer, kToc, &toc);
    std::vector<uint8_t> bytes(buffer->data, buffer->data + buffer->length);
    adr_free_buf(buffer);
    properties_list_delete(&toc);
    return bytes;
}

void BM_MemcpyOfTheEncodedToc(benchmark::State &state) {
    korvo::bench::timeCopies(state, encoded_toc());
}

void BM_EncodeToc(benchmark::State &state) {
    PropertiesList toc = korvo::bench::makeToc(kSegments);
    const std::vector<uint8_t> bytes = encoded_toc();
    std::vector<uint8_t> target(bytes.size());
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state,
        [&] {
            AdrBuffer *buffer = adr_init_encode_buffer(nullptr, 0);
            marshal_item(buffer, kToc, &toc);
            benchmark::DoNotOptimize(buffer->data);
            adr_free_buf(buffer);
        },
        [&] { korvo::bench::copyBytes(target.data(), bytes.data(), bytes.size()); });
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    state.counters["ns_per_property"] =
        benchmark::Counter(6.0 * kSegments * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    properties_list_delete(&toc);
}

// Decoding alone (the decoded TOC freed outside the timed parts), and
// decoding with freeing, which is what a reader of a TOC pays in all. The
// memcpy of the same bytes is timed in the same iterations.
void decode_toc(benchmark::State &state, bool time_the_free) {
    const std::vector<uint8_t> bytes = encoded_toc();
    std::vector<uint8_t> target(bytes.size());
    PropertiesList toc;
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state,
        [&] {
            AdrBuffer *buffer =
                adr_init_decode_buffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
            marshal_item(buffer, kToc, &toc);
            benchmark::DoNotOptimize(toc.buffer);
            adr_free_buf(buffer);
            if (time_the_free)
                properties_list_delete(&toc);
        },
        [&] { korvo::bench::copyBytes(target.data(), bytes.data(), bytes.size()); },
        [&] { properties_list_delete(&toc); });
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    state.counters["ns_per_property"] =
        benchmark::Counter(6.0 * kSegments * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DecodeToc(benchmark::State &state) {
    decode_toc(state, false);
}

void BM_DecodeAndFreeToc(benchmark::State &state) {
    decode_toc(state, true);
}

// The peers: encoding from their own form, and decoding with freeing, each
// next to a memcpy of their own bytes.
template <typename Peer>
void BM_EncodeTocPeer(benchmark::State &state) {
    PropertiesList toc = korvo::bench::makeToc(kSegments);
    {
        Peer peer(toc);
        peer.encode();
        const std::vector<uint8_t> bytes = peer.bytes();
        std::vector<uint8_t> target(bytes.size());
        korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
            state, [&] { benchmark::DoNotOptimize(peer.encode()); },
            [&] { korvo::bench::copyBytes(target.data(), bytes.data(), bytes.size()); });
        state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
    }
    properties_list_delete(&toc);
}

template <typename Peer>
void BM_DecodeAndFreeTocPeer(benchmark::State &state) {
    PropertiesList toc = korvo::bench::makeToc(kSegments);
    std::vector<uint8_t> bytes;
    {
        Peer peer(toc);
        peer.encode();
        bytes = peer.bytes();
    }
    properties_list_delete(&toc);
    std::vector<uint8_t> target(bytes.size());
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state, [&] { benchmark::DoNotOptimize(Peer::decodeAndFree(bytes)); },
        [&] { korvo::bench::copyBytes(target.data(), bytes.data(), bytes.size()); });
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

// The blocks a decoded TOC is made of, in the order decoding allocates them
// and deleting frees them (the decode buffer included): each key, value cell,
// string and sequence buffer is a block of its own, as the data model needs
// so that any of them can be replaced or freed alone. Replaying just these
// allocations is the floor of any decoder that builds the lists.
struct Blocks {
    std::vector<std::pair<size_t, bool>> allocations;  // size, zeroed
    std::vector<size_t> frees;                         // indices, in order
};

Blocks blocks_of(const PropertiesList &toc) {
    Blocks blocks;
    const auto allocate = [&](size_t size, bool zeroed) {
        blocks.allocations.emplace_back(size, zeroed);
        return blocks.allocations.size() - 1;
    };
    const size_t buffer = allocate(sizeof(AdrBuffer), true);
    const size_t list = allocate(toc.length * sizeof(Properties), true);
    std::vector<size_t> order{buffer};
    for (uint32_t s = 0; s < toc.length; ++s) {
        const Properties &segment = toc.buffer[s];
        const size_t properties = allocate(segment.length * sizeof(Property), true);
        for (uint32_t p = 0; p < segment.length; ++p) {
            const Property &property = segment.buffer[p];
            order.push_back(allocate(std::strlen(property.key) + 1, false));
            const size_t cell = allocate(property.value.type->size, true);
            if (property.value.type == TC_string)
                order.push_back(
                    allocate(std::strlen(*static_cast<char **>(property.value.value)) + 1, false));
            else if (property.value.type == TC_Vem_Types_OctetList)
                order.push_back(
                    allocate(static_cast<OctetList *>(property.value.value)->length, true));
            order.push_back(cell);
        }
        order.push_back(properties);
    }
    order.push_back(list);
    blocks.frees = order;
    return blocks;
}

void BM_AllocationFloorOfADecodedToc(benchmark::State &state) {
    const std::vector<uint8_t> bytes = encoded_toc();
    PropertiesList toc;
    AdrBuffer *reader = adr_init_decode_buffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    marshal_item(reader, kToc, &toc);
    adr_free_buf(reader);
    const Blocks blocks = blocks_of(toc);
    properties_list_delete(&toc);
    std::vector<void *> held(blocks.allocations.size());
    std::vector<uint8_t> target(bytes.size());
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state,
        [&] {
            for (size_t i = 0; i < held.size(); ++i) {
                const auto [size, zeroed] = blocks.allocations[i];
                held[i] = zeroed ? mg_calloc(1, size) : mg_malloc(size);
            }
            benchmark::DoNotOptimize(held.data());
            for (size_t i : blocks.frees)
                mg_free(held[i]);
        },
        [&] { korvo::bench::copyBytes(target.data(), bytes.data(), bytes.size()); });
    state.counters["blocks"] = static_cast<double>(held.size());
    state.counters["ns_per_block"] = benchmark::Counter(
        static_cast<double>(held.size()) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// properties_get_long of the key at position state.range(0) of 50.
void BM_GetLong(benchmark::State &state) {
    korvo_init();
    Properties list{};
    std::vector<std::string> keys;
    for (int i = 0; i < 50; ++i) {
        keys.push_back("key_" + std::to_string(i));
        properties_put_long_dup(&list, keys.back().c_str(), i);
    }
    const char *key = keys[static_cast<size_t>(state.range(0))].c_str();
    std::vector<const char *> bare;
    for (const auto &k : keys)
        bare.push_back(k.c_str());
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state,
        [&] {
            for (int i = 0; i < 1000; ++i)
                benchmark::DoNotOptimize(properties_get_long(&list, key));
        },
        [&] {
            for (int i = 0; i < 1000; ++i) {
                size_t found = 0;
                benchmark::DoNotOptimize(key);
                while (std::strcmp(bare[found], key) != 0)
                    ++found;
                benchmark::DoNotOptimize(found);
            }
        });
    state.SetItemsProcessed(state.iterations() * 1000);
    properties_delete(&list);
}

}  // namespace

BENCHMARK(BM_MemcpyOfTheEncodedToc)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeToc)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_EncodeTocPeer, korvo::bench::MsgpackToc)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_EncodeTocPeer, korvo::bench::ProtobufToc)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeToc)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeAndFreeToc)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_DecodeAndFreeTocPeer, korvo::bench::MsgpackToc)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_DecodeAndFreeTocPeer, korvo::bench::ProtobufToc)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AllocationFloorOfADecodedToc)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetLong)->Arg(0)->Arg(25)->Arg(49)->UseManualTime()->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
