# The depot: adding and completing segments, lookups, walks and purges in
# depots of growing size, next to the bare system calls of the same work.
korvo_add_benchmark(NAME depot SOURCES ${CMAKE_CURRENT_LIST_DIR}/depot_bench.cc LIBS korvo)
if(KORVO_TESTS)
  add_test(NAME bench.depot.leaves_other_directories
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/depot_bench_leaves_others.sh $<TARGET_FILE:bench_depot>)
  set_tests_properties(bench.depot.leaves_other_directories PROPERTIES TIMEOUT 120)
endif()
