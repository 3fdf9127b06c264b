#Base64 and the tag helpers, each next to memcpy of the same bytes.
korvo_add_benchmark(NAME kes_codec SOURCES ${CMAKE_CURRENT_SOURCE_DIR} /
                    kes_codec_bench.cc LIBS korvo)
