# The depot: adding and completing segments, and lookups in depots of growing
# size, next to the bare system calls of the same work.
korvo_add_benchmark(NAME depot SOURCES ${CMAKE_CURRENT_LIST_DIR}/depot_bench.cc LIBS korvo)
