# The in-kernel copy is internal to the library: the test program builds its
# own copy of it.
target_sources(kes_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/kes_copy_range${KORVO_HOST_SUFFIX}.cc)
