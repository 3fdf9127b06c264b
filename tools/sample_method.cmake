# The sample receiving method of the README: reads a distribution through a
# network stream and resumes from its progress record after a restart.
add_executable(korvo_sample_method ${CMAKE_CURRENT_LIST_DIR}/korvo_sample_method.c)
korvo_library_defaults(korvo_sample_method)
target_link_libraries(korvo_sample_method PRIVATE korvo)
# It includes <korvo/korvo.h> from the staged tree.
add_dependencies(korvo_sample_method korvo_headers)
