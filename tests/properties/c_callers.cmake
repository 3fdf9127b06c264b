# C code among the property tests, compiled as plain C: it proves the headers
# serve C callers and that korvo exceptions pass through C frames and are
# caught there.
target_sources(properties_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/c_callers.c)
