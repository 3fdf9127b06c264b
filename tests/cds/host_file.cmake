# The CDS headers these tests include call the host file layer, which is
# internal to the library: the program builds its own copy.
target_sources(cds_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/host_file${KORVO_HOST_SUFFIX}.cc)
