# The copy between open files is internal to the library: the test program
# builds its own copy of this host's implementation.
korvo_test_host_sources(kes_tests kes/kes_copy_range)
