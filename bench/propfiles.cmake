# Property files and progress records: mstat_save of a typical record next to
# the bare open+write+close (+rename, +fsync) of the same bytes, and save+load
# of a 1 000-segment TOC in each layout next to writing and reading its bytes.
korvo_add_benchmark(NAME propfiles SOURCES ${CMAKE_CURRENT_LIST_DIR}/propfiles_bench.cc
  LIBS korvo)
