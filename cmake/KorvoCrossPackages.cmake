# What a Windows cross build takes from the build machine instead of from
# find_package: the header-only libraries (CLI11, nlohmann/json) and
# GoogleTest built from Debian's sources with the cross compiler.
#
# The build machine's /usr/include must never reach the cross compiler's
# search path (it would find the host's C library headers), so each
# header-only library is seen through a folder of its own holding a link to
# its headers alone.

function(korvo_cross_header_library target header_folder)
  if(TARGET ${target})
    return()
  endif()
  set(root ${CMAKE_BINARY_DIR}/cross-headers/${target})
  string(REPLACE "::" "_" root ${root})
  get_filename_component(name ${header_folder} NAME)
  if(NOT EXISTS /usr/include/${header_folder})
    message(FATAL_ERROR "/usr/include/${header_folder} is missing: run scripts/setup.sh")
  endif()
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK /usr/include/${header_folder} ${root}/${name} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${root})
endfunction()

if(CMAKE_CROSSCOMPILING)
  korvo_cross_header_library(CLI11::CLI11 CLI)
  korvo_cross_header_library(nlohmann_json::nlohmann_json nlohmann)
  set(CLI11_FOUND TRUE)
  set(nlohmann_json_FOUND TRUE)
endif()

# GoogleTest for the cross build, from /usr/src/googletest (package
# googletest), as GTest::gtest and GTest::gmock.
macro(korvo_cross_googletest)
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "/usr/src/googletest is missing: install googletest (scripts/setup.sh --windows does)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # googletest's own build names them GTest::gtest and GTest::gmock.
endmacro()
