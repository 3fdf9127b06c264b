# C code among the runtime tests, compiled as plain C (no -fexceptions): it
# proves the headers serve C callers and that a raise unwinds through C
# frames, as it does through any code with unwind tables.
target_sources(runtime_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/c_callers.c)
