# The runtime's encoder and decoder on a TOC of 1 000 segments, beside a
# memcpy of the same bytes.
korvo_add_benchmark(NAME runtime SOURCES ${CMAKE_CURRENT_LIST_DIR}/runtime_marshal.cc
  LIBS korvo_runtime)
