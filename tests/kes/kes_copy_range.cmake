# The in-kernel copy is internal to the library: the test program builds its
# own copy of it (on POSIX hosts, where its tests run).
if(NOT WIN32)
  korvo_test_host_sources(kes_tests kes/kes_copy_range)
endif()
