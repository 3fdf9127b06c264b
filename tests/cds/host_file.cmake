# The CDS headers these tests include call the host file layer, which is
# internal to the library: the program builds its own copy.
korvo_test_host_sources(cds_tests kes/host_file)
# On Windows the host file calls stand on the shared handle, error and path
# helpers.
if(WIN32)
  target_sources(cds_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/host_handle_win32.cc)
  target_link_libraries(cds_tests PRIVATE advapi32)
endif()
