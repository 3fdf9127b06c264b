# The pool's slabs on their own: the pool's files (those KORVO_MEMORY_POOL
# chooses) compiled into the test, so that it can read the pool's count of
# the slab bytes it holds.
if(KORVO_MEMORY_POOL STREQUAL "plain")
  set(pool_files mg_pool_plain.cc mg_heap${KORVO_HOST_SUFFIX}.cc)
else()
  set(pool_files mg_pool_magazines.cc mg_pool_slabs.cc mg_pool_lock${KORVO_HOST_SUFFIX}.cc
    mg_slab_memory${KORVO_HOST_SUFFIX}.cc mg_heap${KORVO_HOST_SUFFIX}.cc)
endif()
list(TRANSFORM pool_files PREPEND ${PROJECT_SOURCE_DIR}/runtime/)
korvo_add_gtest(NAME runtime_pool_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/pool_slabs.cc
  ${pool_files} LIBS Threads::Threads)
