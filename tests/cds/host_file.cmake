# The CDS headers these tests include call the host file layer, which is
# internal to the library: the program builds its own copy.
korvo_test_host_sources(cds_tests kes/host_file)
