# The pool's slabs on their own: the pool's files (those KORVO_MEMORY_POOL
# chooses) compiled into the test, so that it can read the pool's count of
# the slab bytes it holds.
# The lock and the slab memory are host files: this host's are compiled in.
set(pool_host_files)
if(KORVO_MEMORY_POOL STREQUAL "plain")
  set(pool_files mg_pool_plain.cc)
  set(pool_host_files runtime/mg_heap)
else()
  set(pool_files mg_pool_magazines.cc mg_pool_slabs.cc)
  set(pool_host_files runtime/mg_pool_lock runtime/mg_slab_memory runtime/mg_heap)
endif()
list(TRANSFORM pool_files PREPEND ${PROJECT_SOURCE_DIR}/runtime/)
korvo_add_gtest(NAME runtime_pool_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/pool_slabs.cc
  ${pool_files} LIBS Threads::Threads)
korvo_test_host_sources(runtime_pool_tests ${pool_host_files})
