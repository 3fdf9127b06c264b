# The in-kernel copy is internal to the library: the test program builds its
# own copy of it.
korvo_test_host_sources(kes_tests kes/kes_copy_range)
