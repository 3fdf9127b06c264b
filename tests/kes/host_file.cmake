# The host calls are internal to the library: the test program builds its
# own copies of this host's implementations.
korvo_test_host_sources(kes_tests kes/host_file kes/host_replace kes/host_env)
# On Windows the host file calls stand on the shared handle, error and path
# helpers.
if(WIN32)
  target_sources(kes_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/host_handle_win32.cc)
  target_link_libraries(kes_tests PRIVATE advapi32)
endif()
