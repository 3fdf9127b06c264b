# Records: TOC and message views over their property lists, each timed next
# to a memcpy of the records they fill.
korvo_add_benchmark(NAME records SOURCES ${CMAKE_CURRENT_LIST_DIR}/records_bench.cc LIBS korvo)
