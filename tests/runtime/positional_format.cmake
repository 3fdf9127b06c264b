# Numbered printf conversions formatted by the runtime itself (for C
# libraries without them): runtime/positional_format.cc compiled into the
# test (its names are hidden in the library).
korvo_add_gtest(NAME runtime_positional_format_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/positional_format.cc
  ${PROJECT_SOURCE_DIR}/runtime/positional_format.cc LIBS korvo_runtime)
