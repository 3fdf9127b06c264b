# The host calls are internal to the library: the test program builds its
# own copy of this host's implementation.
target_sources(kes_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/host_file${KORVO_HOST_SUFFIX}.cc)
