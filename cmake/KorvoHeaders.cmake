# The public headers as consumers see them: staged at build time into
# ${KORVO_STAGED_INCLUDE_ROOT}/korvo/ (build/include/korvo/) exactly as they
# are installed into <prefix>/include/korvo/, so that <prefix>/include is the
# only include directory a method needs:
#   <korvo/korvo.h>                    every C header (generated: korvo.h.in)
#   <korvo/korvo.hpp>, <korvo/cxx/...> the header-only C++ interface (korvo/)
#   <korvo/<folder>/<header>.h>        each C header on its own (the headers of
#                                      properties/errors/ and properties/helpers/
#                                      in <korvo/properties/>)
# Staging rewrites the headers' includes of one another into the installed
# spelling (KorvoStageHeader.cmake). The target korvo_headers stages them;
# a program that includes the staged tree depends on it.

# Folders whose top-level *.h files are public headers.
set(KORVO_PUBLIC_FOLDERS runtime kes properties records depot stream cds)

# Source folders whose headers are installed into another folder, as
# "<source folder>><installed folder>": the layers below the property lists
# have folders of their own inside properties/, and their headers stay
# <korvo/properties/...> for consumers.
set(KORVO_HEADER_FOLDER_MAP "properties/errors>properties" "properties/helpers>properties")

# The installed path (below korvo/) of the header at `relative` (from the
# source root).
function(korvo_installed_header_path relative out)
  foreach(pair IN LISTS KORVO_HEADER_FOLDER_MAP)
    string(REPLACE ">" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    if(relative MATCHES "^${from}/([^/]+)$")
      set(${out} ${to}/${CMAKE_MATCH_1} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} ${relative} PARENT_SCOPE)
endfunction()

function(korvo_stage_headers)
  set(staged_root ${KORVO_STAGED_INCLUDE_ROOT}/korvo)
  get_property(c_headers GLOBAL PROPERTY KORVO_PUBLIC_HEADERS)
  list(REMOVE_DUPLICATES c_headers)
  list(SORT c_headers)
  file(GLOB_RECURSE cxx_headers CONFIGURE_DEPENDS
    ${KORVO_INCLUDE_ROOT}/korvo/*.hpp)
  list(SORT cxx_headers)

  set(outputs)
  set(umbrella "")
  foreach(header IN LISTS c_headers cxx_headers)
    file(RELATIVE_PATH relative ${KORVO_INCLUDE_ROOT} ${header})
    # The C++ headers live in korvo/ already; the C headers go below it.
    string(REGEX REPLACE "^korvo/" "" relative ${relative})
    korvo_installed_header_path(${relative} relative)
    set(staged ${staged_root}/${relative})
    add_custom_command(OUTPUT ${staged}
      COMMAND ${CMAKE_COMMAND} -DSOURCE=${header} -DDEST=${staged}
        "-DFOLDERS=${KORVO_PUBLIC_FOLDERS}" "-DFOLDER_MAP=${KORVO_HEADER_FOLDER_MAP}"
        -P ${PROJECT_SOURCE_DIR}/cmake/KorvoStageHeader.cmake
      DEPENDS ${header} ${PROJECT_SOURCE_DIR}/cmake/KorvoStageHeader.cmake
      COMMENT "Staging korvo/${relative}" VERBATIM)
    list(APPEND outputs ${staged})
    get_filename_component(folder ${relative} DIRECTORY)
    set(destination ${CMAKE_INSTALL_INCLUDEDIR}/korvo)
    if(folder)
      string(APPEND destination /${folder})
    endif()
    install(FILES ${staged} DESTINATION ${destination} COMPONENT dev)
    if(header IN_LIST c_headers)
      string(APPEND umbrella "#include <korvo/${relative}>\n")
    endif()
  endforeach()

  set(KORVO_UMBRELLA_INCLUDES "${umbrella}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/korvo.h.in ${staged_root}/korvo.h @ONLY)
  install(FILES ${staged_root}/korvo.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvo COMPONENT dev)

  add_custom_target(korvo_headers ALL DEPENDS ${outputs})
  set_property(GLOBAL PROPERTY KORVO_STAGED_HEADERS ${outputs} ${staged_root}/korvo.h)
endfunction()

korvo_stage_headers()
