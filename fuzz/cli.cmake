# The korvo command's readers of text from outside: byte amounts from the
# command line (units.cc) and the display width of names and ids from files
# and depots (output.cc). The command is a program, so the target compiles
# the two files in, with the host calls units.cc makes (host_system).
if(NOT CMAKE_CROSSCOMPILING)  # a cross build has it from cmake/KorvoCrossPackages.cmake
  find_package(nlohmann_json 3 REQUIRED)
endif()
korvo_add_fuzz_target(NAME cli_text SOURCE ${CMAKE_CURRENT_LIST_DIR}/cli_text_fuzz.cc
  LIBS nlohmann_json::nlohmann_json)
foreach(target IN ITEMS replay_cli_text fuzz_cli_text)
  if(TARGET ${target})
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tools/korvo/units.cc
      ${PROJECT_SOURCE_DIR}/tools/korvo/output.cc
      ${PROJECT_SOURCE_DIR}/tools/korvo/host_system${KORVO_HOST_SUFFIX}.cc)
  endif()
endforeach()
