# The runtime's encoder and decoder on a TOC of 1 000 segments, beside a
# memcpy of the same bytes.
korvo_add_benchmark(NAME runtime SOURCES ${CMAKE_CURRENT_LIST_DIR}/runtime_marshal.cc
  LIBS korvo_runtime)

# The resident set before, at the peak of and after decoding and freeing a
# TOC of 100 000 segments: what the pool gives back to the system.
korvo_add_benchmark(NAME runtime_memory SOURCES ${CMAKE_CURRENT_LIST_DIR}/runtime_memory.cc
  LIBS korvo_runtime)
