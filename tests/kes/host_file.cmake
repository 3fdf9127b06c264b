# The host calls are internal to the library: the test program builds its
# own copies of this host's implementations.
target_sources(kes_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/host_file${KORVO_HOST_SUFFIX}.cc
                                 ${KORVO_INCLUDE_ROOT}/kes/host_env${KORVO_HOST_SUFFIX}.cc)
