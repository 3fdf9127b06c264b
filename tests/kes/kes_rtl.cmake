# Test libraries and a loader program for KesRtlLoad. The same probe library
# is built three times; each copy answers kes_rtl_probe() with its own number
# (".dll" in place of ".so" on Windows):
#   rtl/both/kesprobe.so       1
#   rtl/both/libkesprobe.so    2
#   rtl/libonly/libkesprobe.so 3
# kes_rtl_loader loads a name through KesRtlLoad and exits with the number of
# the copy it got, so that a test can run it with a library search path of
# its choosing.
foreach(variant IN ITEMS "both;;1" "both;lib;2" "libonly;lib;3")
  list(GET variant 0 folder)
  list(GET variant 1 prefix)
  list(GET variant 2 number)
  set(target kes_rtl_probe_${number})
  add_library(${target} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/kes_rtl_probe.c)
  korvo_warnings(${target})
  target_compile_definitions(${target} PRIVATE KES_RTL_PROBE_NUMBER=${number})
  set_target_properties(${target} PROPERTIES
    PREFIX "${prefix}" OUTPUT_NAME kesprobe SUFFIX "${CMAKE_SHARED_LIBRARY_SUFFIX}"
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/rtl/${folder})
  add_dependencies(kes_tests ${target})
endforeach()

add_executable(kes_rtl_loader ${CMAKE_CURRENT_SOURCE_DIR}/kes_rtl_loader.cc)
korvo_library_defaults(kes_rtl_loader)
target_link_libraries(kes_rtl_loader PRIVATE korvo)
add_dependencies(kes_tests kes_rtl_loader)
