# The C++ twin of the sample method, written with <korvo/korvo.hpp> as a
# method author would (the staged headers, as installed); the suite runs it
# through the gateway peer like the C one. It is a source to read, not a
# program to install.
add_executable(korvo_sample_method_cxx ${CMAKE_CURRENT_LIST_DIR}/korvo_sample_method_cxx.cc)
korvo_library_defaults(korvo_sample_method_cxx)
target_link_libraries(korvo_sample_method_cxx PRIVATE korvo)
add_dependencies(korvo_sample_method_cxx korvo_headers)
set_target_properties(korvo_sample_method_cxx PROPERTIES KORVO_INSTALL OFF)
