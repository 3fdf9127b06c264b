# Locating segments: the modified-TOC step over description files and over
# the endpoint's depot, at growing numbers of segments, next to the bare
# system calls of the same work.
korvo_add_benchmark(NAME locate SOURCES ${CMAKE_CURRENT_LIST_DIR}/locate_bench.cc LIBS korvo)
