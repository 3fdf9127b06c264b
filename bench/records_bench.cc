// Record views at work: the segment views of a TOC of 1 000 segments (the
// usual six keys each: id, version, size, offset, location, checksum), and
// the view of a message of 20 keys. Each is timed next to a memcpy of the
// records it fills in the same iteration (counter x_limit): a view must at
// least write its records.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_toc.hpp"
#include "bench/kes_bench_timing.hpp"
#include "properties/korvo_properties.h"
#include "records/korvo_message.h"
#include "records/korvo_toc.h"
#include "runtime/mg_memory.h"

namespace {

constexpr int kSegments = 1000;

// Times `view` of a TOC of kSegments segments next to a memcpy of the
// segment records it fills, and reports the time per segment.
template <typename View>
void time_toc_view(benchmark::State &state, View view) {
    PropertiesList list = korvo::bench::makeToc(kSegments);
    std::vector<Segment> source(kSegments), target(kSegments);
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state, [&] { view(list); },
        [&] {
            korvo::bench::copyBytes(target.data(), source.data(), kSegments * sizeof(Segment));
        });
    state.counters["ns_per_segment"] =
        benchmark::Counter(kSegments * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    properties_list_delete(&list);
}

// toc_from_properties over the caller's list, then the views released
// (toc_free_buffer) without the list, which the next iteration reuses.
void BM_TocView(benchmark::State &state) {
    time_toc_view(state, [](PropertiesList &list) {
        Toc *toc = toc_from_properties(&list);
        benchmark::DoNotOptimize(toc->segments);
        toc_free_buffer(toc);
        mg_free(toc);
    });
}

// What the TOC view would cost with one typed getter call per field, each
// a scan of the segment's list: the way the table reader replaced.
void BM_SegmentsByGetters(benchmark::State &state) {
    time_toc_view(state, [](PropertiesList &list) {
        for (uint32_t i = 0; i < list.length; ++i) {
            Properties *p = &list.buffer[i];
            auto *s = static_cast<Segment *>(mg_calloc(1, sizeof(Segment)));
            s->id = properties_get_string(p, "id");
            s->version = properties_get_string(p, "version");
            s->location = properties_get_string2(p, "location", nullptr);
            s->size = properties_get_long2(p, "size", 0);
            s->offset = properties_get_long2(p, "offset", 0);
            s->ctime = properties_get_long2(p, "ctime", 0);
            s->mtime = properties_get_long2(p, "mtime", 0);
            s->checksum = properties_get_OctetList2(p, "checksum", nullptr);
            s->disposable = properties_get_boolean2(p, "disposable", 0);
            s->is_result = properties_get_boolean2(p, "is_result", 0);
            s->is_collection = properties_get_boolean2(p, "is_collection", 0);
            s->del_at_src = properties_get_boolean2(p, "del_at_src", 0);
            s->cds_manager = properties_get_string2(p, "cds_manager", nullptr);
            s->cds_packageid = properties_get_string2(p, "cds_packageid", nullptr);
            s->cds_destination = properties_get_string2(p, "cds_destination", nullptr);
            s->cds_username = properties_get_string2(p, "cds_username", nullptr);
            s->cds_password = properties_get_string2(p, "cds_password", nullptr);
            s->properties = p;
            benchmark::DoNotOptimize(s);
            mg_free(s);
        }
    });
}

// The least any view of the TOC must do: touch every property's key and
// value cell once (a sum of their first bytes), here against the same
// memcpy. The views chase the same pointers, so this is their memory floor.
void BM_BareWalkOfTheToc(benchmark::State &state) {
    time_toc_view(state, [](const PropertiesList &list) {
        unsigned sum = 0;
        for (uint32_t s = 0; s < list.length; ++s) {
            const Properties &segment = list.buffer[s];
            for (uint32_t p = 0; p < segment.length; ++p)
                sum += static_cast<unsigned char>(segment.buffer[p].key[0]) +
                       *static_cast<const unsigned char *>(segment.buffer[p].value.value);
        }
        benchmark::DoNotOptimize(sum);
    });
}

// A TOC over a copy of the list, released with toc_delete: the deep copy
// and its release come on top of the views.
void BM_TocOverACopy(benchmark::State &state) {
    time_toc_view(state, [](const PropertiesList &list) {
        Toc *toc = toc_new_from_properties(&list);
        benchmark::DoNotOptimize(toc->segments);
        toc_delete(toc);
    });
}

// A message as a distribution brings it: 20 keys, among them the two it
// must hold; the view reads 47.
void BM_MessageView(benchmark::State &state) {
    Properties list{};
    properties_put_string_dup(&list, "app_id", "swdist");
    properties_put_short_dup(&list, "type", 1);
    properties_put_string_dup(&list, "id", "1234567890.42");
    properties_put_string_dup(&list, "label", "Office suite 12.1 (en)");
    properties_put_long_dup(&list, "size", 734003200);
    properties_put_short_dup(&list, "pri", 2);
    properties_put_long_dup(&list, "deadline", 1767225600);
    properties_put_string_dup(&list, "recv_meth", "install_package");
    properties_put_string_dup(&list, "cb_recv_meth", "report_result");
    properties_put_object_dup(&list, "cb_target", "rpt://gateway-1/42");
    properties_put_long_dup(&list, "notify_intv", 30);
    properties_put_short_dup(&list, "data_source", 1);
    properties_put_short_dup(&list, "target_action", 1);
    properties_put_short_dup(&list, "meth_context", 2);
    properties_put_boolean_dup(&list, "bulk_data_flag", 1);
    properties_put_long_dup(&list, "send_timeout", 600);
    properties_put_long_dup(&list, "result_timeout", 3600);
    properties_put_string_dup(&list, "parent_dist_id", "1234567890.41");
    properties_put_boolean_dup(&list, "roam_endpoints", 1);
    properties_put_boolean_dup(&list, "bulk_checkpoint", 1);
    Message source{}, target{};
    korvo::bench::timeAgainstLimit<korvo::bench::ThreadCpuClock>(
        state,
        [&] {
            Message *message = message_from_properties(&list);
            benchmark::DoNotOptimize(message->recv_meth);
            message_free_buffer(message);
        },
        [&] { korvo::bench::copyBytes(&target, &source, sizeof target); });
    properties_delete(&list);
}

}  // namespace

BENCHMARK(BM_TocView)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SegmentsByGetters)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareWalkOfTheToc)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TocOverACopy)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MessageView)->UseManualTime()->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
