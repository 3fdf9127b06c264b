# Net streams: a file-list stream and a network stream of 256 MiB, with and
# without progress, against the bare read() and recv() loops over the same
# bytes.
korvo_add_benchmark(NAME stream SOURCES ${CMAKE_CURRENT_LIST_DIR}/stream_bench.cc LIBS korvo)
