# Build conventions shared by every target of the project.
#
# Layout rules the functions below rely on:
#   - a subsystem folder's public headers are the *.h files at its top; they
#     compile as C11 and as C++20 and are installed;
#   - internal headers are *.hpp (C++ only) and never installed;
#   - sources are *.c and *.cc files at the top of the folder.

# Warnings are errors for our own code, in C and in C++.
function(korvo_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Werror>)
endfunction()

# Include paths, warnings and defaults of a library or program of ours. A
# shared library calls its own exported functions directly (mg_malloc from
# the marshaller, say) instead of through the symbol table: they are not
# meant to be replaced by another object's definitions.
function(korvo_library_defaults target)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${KORVO_INCLUDE_ROOT}>
    $<BUILD_INTERFACE:${KORVO_STAGED_INCLUDE_ROOT}>
    $<INSTALL_INTERFACE:include>)
  korvo_warnings(${target})
  get_target_property(type ${target} TYPE)
  # A DLL binds its own calls by construction; ELF objects are told to.
  if(NOT WIN32 AND (type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "OBJECT_LIBRARY"))
    target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  endif()
  if(NOT WIN32 AND type STREQUAL "SHARED_LIBRARY")
    target_link_options(${target} PRIVATE "LINKER:-Bsymbolic-functions")
  endif()
endfunction()

# Adds the sources of the calling folder to `target` and records its public
# headers (for the C compile check and for installation). Sources listed
# after EXCLUDE stay out of the build (an alternative implementation that
# the build did not choose).
#   korvo_add_folder(<target> [EXCLUDE <file>...])
function(korvo_add_folder target)
  cmake_parse_arguments(arg "" "" "EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.c ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  foreach(excluded IN LISTS arg_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  # One implementation file per host (cmake/KorvoLayers.cmake).
  list(FILTER sources EXCLUDE REGEX "${KORVO_OTHER_HOST_SUFFIX}\\.(c|cc)$")
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  file(GLOB private_headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.hpp)
  target_sources(${target} PRIVATE ${sources} ${headers} ${private_headers})
  foreach(header IN LISTS headers)
    set_property(GLOBAL APPEND PROPERTY KORVO_PUBLIC_HEADERS ${header})
  endforeach()
endfunction()

# A GoogleTest program; its tests are listed when ctest runs, so a program
# that fails to start fails the suite instead of the build.
#   korvo_add_gtest(NAME name SOURCES ... [LIBS ...] [TIMEOUT seconds])
function(korvo_add_gtest)
  cmake_parse_arguments(arg "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  add_executable(${arg_NAME} ${arg_SOURCES})
  korvo_library_defaults(${arg_NAME})
  target_link_libraries(${arg_NAME} PRIVATE ${arg_LIBS} korvo_test_support GTest::gtest GTest::gmock)
  if(WIN32)
    # Under Wine: the program is one test (cmake/KorvoWineTests.cmake).
    add_test(NAME ${arg_NAME} COMMAND ${arg_NAME} --gtest_color=no)
    set_tests_properties(${arg_NAME} PROPERTIES TIMEOUT 1800)
    korvo_wine_test_environment(TESTS ${arg_NAME}
      EXTRA "KORVO_TEST_BINARY_DIR=${CMAKE_CURRENT_BINARY_DIR}")
    return()
  endif()
  gtest_discover_tests(${arg_NAME}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${arg_TIMEOUT}
    ENVIRONMENT "KORVO_TEST_BINARY_DIR=${CMAKE_CURRENT_BINARY_DIR}")
endfunction()

# A libFuzzer target `fuzz_<name>` built from `source` (which defines
# LLVMFuzzerTestOneInput). Whatever the compiler, the same source is also
# linked with a replay driver and registered as the test
# `fuzz_replay.<name>`, which runs every file of fuzz/corpus/<name>.
#   korvo_add_fuzz_target(NAME name SOURCE file [LIBS ...])
function(korvo_add_fuzz_target)
  cmake_parse_arguments(arg "" "NAME;SOURCE" "LIBS" ${ARGN})
  set(corpus ${KORVO_FUZZ_CORPUS_DIR}/${arg_NAME})
  add_executable(replay_${arg_NAME} ${arg_SOURCE} ${KORVO_FUZZ_REPLAY_MAIN})
  korvo_library_defaults(replay_${arg_NAME})
  target_link_libraries(replay_${arg_NAME} PRIVATE ${arg_LIBS})
  add_test(NAME fuzz_replay.${arg_NAME} COMMAND replay_${arg_NAME} ${corpus})
  set_tests_properties(fuzz_replay.${arg_NAME} PROPERTIES TIMEOUT 300)
  korvo_wine_test_environment(TESTS fuzz_replay.${arg_NAME})
  if(KORVO_FUZZ)
    add_executable(fuzz_${arg_NAME} ${arg_SOURCE})
    korvo_library_defaults(fuzz_${arg_NAME})
    target_link_libraries(fuzz_${arg_NAME} PRIVATE ${arg_LIBS})
    target_link_options(fuzz_${arg_NAME} PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()

# A Google Benchmark program `bench_<name>`.
#   korvo_add_benchmark(NAME name SOURCES ... [LIBS ...])
function(korvo_add_benchmark)
  cmake_parse_arguments(arg "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(bench_${arg_NAME} ${arg_SOURCES})
  korvo_library_defaults(bench_${arg_NAME})
  target_link_libraries(bench_${arg_NAME} PRIVATE ${arg_LIBS} benchmark::benchmark)
endfunction()

# A test folder: every *_test.cc of the calling folder goes into one test
# program `<folder>_tests` linked with `library`; further programs (helper
# processes, test libraries) are declared in *.cmake files of the folder.
# A test file of one host alone ends in _posix_test.cc or _win32_test.cc;
# the files listed after POSIX_ONLY (whose tests have no meaning on Windows,
# the reason beside the list) stay out of a Windows build.
#   korvo_add_test_folder(<library> [POSIX_ONLY <file>...])
function(korvo_add_test_folder library)
  cmake_parse_arguments(arg "" "" "POSIX_ONLY" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  list(FILTER sources EXCLUDE REGEX "${KORVO_OTHER_HOST_SUFFIX}_test\\.cc$")
  if(WIN32)
    foreach(excluded IN LISTS arg_POSIX_ONLY)
      list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
    endforeach()
  endif()
  if(sources)
    korvo_add_gtest(NAME ${folder}_tests SOURCES ${sources} LIBS ${library})
  endif()
  file(GLOB extras CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cmake)
  foreach(extra IN LISTS extras)
    include(${extra})
  endforeach()
endfunction()

# Compiles this host's implementation of the host files `names` (paths from
# the source root without the host suffix: kes/host_file) into the test
# program `target`, for tests of code that is internal to the library. Where
# a host file has no implementation for this host yet, the program is left
# out of the build and its test disabled, with a note, instead of failing
# the configuration.
#   korvo_test_host_sources(<target> <name>...)
function(korvo_test_host_sources target)
  foreach(name IN LISTS ARGN)
    set(file ${KORVO_INCLUDE_ROOT}/${name}${KORVO_HOST_SUFFIX}.cc)
    if(EXISTS ${file})
      target_sources(${target} PRIVATE ${file})
    else()
      message(STATUS "${target}: left out, ${name}${KORVO_HOST_SUFFIX}.cc does not exist")
      set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE)
      if(WIN32)
        set_tests_properties(${target} PROPERTIES DISABLED TRUE)
      endif()
    endif()
  endforeach()
endfunction()
