# The host's file-security calls are internal to the library: the test
# program builds its own copies of this host's implementations.
target_sources(kes_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/host_security${KORVO_HOST_SUFFIX}.cc
                                 ${KORVO_INCLUDE_ROOT}/kes/host_drives${KORVO_HOST_SUFFIX}.cc
                                 ${KORVO_INCLUDE_ROOT}/kes/host_registry${KORVO_HOST_SUFFIX}.cc)
if(WIN32)
  target_sources(kes_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/security_win32.cc
                                   ${KORVO_INCLUDE_ROOT}/kes/acl_win32.cc)
  target_link_libraries(kes_tests PRIVATE advapi32)
else()
  target_sources(kes_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/kes_account_posix.cc)
endif()
