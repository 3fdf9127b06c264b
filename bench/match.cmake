# The wildcard matcher on typical and adversarial patterns.
korvo_add_benchmark(NAME match SOURCES ${CMAKE_CURRENT_LIST_DIR}/match_bench.cc LIBS korvo)
