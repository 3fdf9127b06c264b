# The host calls are internal to the library: the test program builds its
# own copies of this host's implementations.
korvo_test_host_sources(kes_tests kes/host_file kes/host_env)
