# The example program of the quick start: a property list saved, loaded,
# printed, and a catalog message caught in C.
add_executable(korvo_example ${CMAKE_CURRENT_LIST_DIR}/korvo_example.c)
korvo_library_defaults(korvo_example)
target_link_libraries(korvo_example PRIVATE korvo)
# A tour for readers of the source; tests/install/consumer is the example
# that is installed.
set_target_properties(korvo_example PROPERTIES KORVO_INSTALL OFF)
