// Encoding and decoding a TOC of 1 000 segments (ten properties each, of the
// kinds a segment carries), against memcpy of the encoded bytes: the
// physical limit of any decoder that must at least read them.
#include <benchmark/benchmark.h>

#include "bench/bench_sample_toc.hpp"
#include "bench/kes_bench_timing.hpp"
#include "runtime/generic.h"
#include "runtime/marshal.h"

namespace {

constexpr int kSegments = 1000;

sample::PropertiesList make_toc() {
    return korvo::bench::makeSampleToc(kSegments);
}

sample::Bytes encoded_toc() {
    return korvo::bench::encodedSampleToc(kSegments);
}

void BM_MemcpyOfTheEncodedToc(benchmark::State &state) {
    korvo::bench::timeCopies(state, encoded_toc());
}
BENCHMARK(BM_MemcpyOfTheEncodedToc);

void BM_EncodeToc(benchmark::State &state) {
    sample::PropertiesList toc = make_toc();
    size_t length = 0;
    for (auto _ : state) {
        AdrBuffer *buffer = adr_init_encode_buffer(nullptr, 0);
        marshal_item(buffer, sample::TC_PropertiesList, &toc);
        length = buffer->length;
        benchmark::DoNotOptimize(buffer->data);
        adr_free_buf(buffer);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length));
    vem_free_generic(&toc, sample::TC_PropertiesList);
}
BENCHMARK(BM_EncodeToc);

// Decoding the TOC, with the freeing of the decoded TOC timed or not:
// decoding and freeing together is what a reader of a TOC pays in all.
void decode_toc(benchmark::State &state, bool time_the_free) {
    const sample::Bytes bytes = encoded_toc();
    for (auto _ : state) {
        sample::PropertiesList toc;
        korvo::bench::decodeSampleToc(bytes, toc);
        benchmark::DoNotOptimize(toc.buffer);
        if (!time_the_free)
            state.PauseTiming();
        vem_free_generic(&toc, sample::TC_PropertiesList);
        if (!time_the_free)
            state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_DecodeToc(benchmark::State &state) {
    decode_toc(state, false);
}
BENCHMARK(BM_DecodeToc);

void BM_DecodeAndFreeToc(benchmark::State &state) {
    decode_toc(state, true);
}
BENCHMARK(BM_DecodeAndFreeToc);

}  // namespace

BENCHMARK_MAIN();
