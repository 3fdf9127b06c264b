# The entry numbers of a bucket on their own: depot/depot_number_set.cc
# compiled into the test, as the library keeps its names hidden.
korvo_add_gtest(NAME depot_number_set_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/number_set.cc
  ${PROJECT_SOURCE_DIR}/depot/depot_number_set.cc)
