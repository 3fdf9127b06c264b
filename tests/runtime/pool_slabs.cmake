# The pool's slabs on their own: runtime/mg_pool.cc compiled into the test,
# so that it can read the pool's count of the slab bytes it holds.
korvo_add_gtest(NAME runtime_pool_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/pool_slabs.cc
  ${PROJECT_SOURCE_DIR}/runtime/mg_pool.cc LIBS Threads::Threads)
