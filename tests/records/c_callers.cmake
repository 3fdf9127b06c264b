# C code among the record tests, compiled as plain C: it proves the record
# headers serve C callers and that a raise from a view is caught in C.
target_sources(records_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/c_callers.c)
