# Installation, the CMake package, the pkg-config files and the Debian
# packages.
#
# What is installed is found, not listed: every shared library of the
# project and every program declared in tools/ is installed, wherever its
# folder is, except the targets of tests/, bench/ and fuzz/. A library or
# program added later (a CDS client library, a gateway peer) is therefore
# installed without an edit here; one that must stay out sets the target
# property KORVO_INSTALL to OFF where it is declared:
#   set_target_properties(korvo_example PROPERTIES KORVO_INSTALL OFF)
#
# Layout under the prefix:
#   bin/                          the programs
#   <libdir>/                     the shared libraries (SONAME versions)
#   include/korvo/                the public headers (KorvoHeaders.cmake): with
#                                 -I<prefix>/include, #include <korvo/korvo.h>
#   <libdir>/cmake/korvo/         find_package(korvo): korvo::korvo, korvo::runtime
#   <libdir>/pkgconfig/           korvo.pc, korvo-runtime.pc
#   share/doc/korvo/examples/     a method to start from, with its CMakeLists.txt
#   share/doc/korvo/api/          the API reference (KorvoDocs.cmake)
#   share/man/man1/, share/bash-completion/, share/doc/korvo/
#                                 man pages, completion, README and documents
#                                 (KorvoInstallDocs.cmake)
#
# Components: "lib_<target>" for each library (a Debian package of its own,
# KorvoDebian.cmake), "runtime" (programs, man pages, completion, documents:
# the package korvo) and "dev" (headers, link names, the CMake and
# pkg-config files, the examples: the package korvo-dev).
# Libraries go to the multiarch folder (lib/x86_64-linux-gnu) where the
# toolchain has one, as Debian wants them, whatever the prefix; a
# CMAKE_INSTALL_LIBDIR given on the command line is kept.
if(CMAKE_LIBRARY_ARCHITECTURE)
  get_property(libdir_help CACHE CMAKE_INSTALL_LIBDIR PROPERTY HELPSTRING)
  if(NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR}
     OR (CMAKE_INSTALL_LIBDIR STREQUAL "lib" AND libdir_help STREQUAL "Object code libraries (lib)"))
    set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH
      "Object code libraries (lib/<multiarch triplet>)" FORCE)
  endif()
endif()
# The ZIP for Windows keeps what people read in doc/, beside bin/.
if(WIN32 AND NOT CMAKE_INSTALL_DOCDIR)  # unset, or left empty by GNUInstallDirs
  set(CMAKE_INSTALL_DOCDIR doc CACHE PATH "Documentation (doc)" FORCE)
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
include(KorvoRunPath)

# Targets of these top-level folders are never installed.
set(KORVO_UNINSTALLED_FOLDERS tests bench fuzz)

# Appends to the lists named `out_libraries` and `out_programs` the
# installable targets declared in `dir` and the folders below it.
function(korvo_collect_installables dir out_libraries out_programs)
  set(found_libraries ${${out_libraries}})
  set(found_programs ${${out_programs}})
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${dir})
  foreach(target IN LISTS targets)
    get_target_property(install ${target} KORVO_INSTALL)
    if(NOT install AND NOT install STREQUAL "install-NOTFOUND")
      continue()
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      list(APPEND found_libraries ${target})
    elseif(type STREQUAL "EXECUTABLE" AND relative MATCHES "^tools(/|$)")
      list(APPEND found_programs ${target})
    endif()
  endforeach()
  get_property(children DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(child IN LISTS children)
    file(RELATIVE_PATH child_relative ${PROJECT_SOURCE_DIR} ${child})
    string(REGEX REPLACE "/.*" "" top ${child_relative})
    if(NOT top IN_LIST KORVO_UNINSTALLED_FOLDERS)
      korvo_collect_installables(${child} found_libraries found_programs)
    endif()
  endforeach()
  set(${out_libraries} ${found_libraries} PARENT_SCOPE)
  set(${out_programs} ${found_programs} PARENT_SCOPE)
endfunction()

# The imported targets are korvo::korvo and korvo::runtime; other libraries
# keep their target name (korvo::CDSClient).
set_target_properties(korvo_runtime PROPERTIES EXPORT_NAME runtime)

function(korvo_install_all)
  set(libraries)
  set(programs)
  korvo_collect_installables(${PROJECT_SOURCE_DIR} libraries programs)

  # Installed programs and libraries find the project's libraries beside
  # them, whatever the prefix: <prefix>/bin/../<libdir>, <libdir> itself.
  file(RELATIVE_PATH bin_to_lib
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  # One component per library (lib_<target>: a Debian package of its own,
  # KorvoDebian.cmake); the link names go to dev, except for a library that
  # is loaded by its link name at run time (the target property
  # KORVO_LOADED_BY_LINK_NAME: the CDS client).
  foreach(library IN LISTS libraries)
    get_target_property(loaded ${library} KORVO_LOADED_BY_LINK_NAME)
    set(namelink_component dev)
    if(loaded)
      set(namelink_component lib_${library})
    endif()
    # On Windows a library is its DLL, which goes beside the programs, and
    # its import library, which methods link.
    install(TARGETS ${library} EXPORT korvoTargets
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        COMPONENT lib_${library} NAMELINK_COMPONENT ${namelink_component}
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib_${library}
      ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  endforeach()
  set_property(GLOBAL PROPERTY KORVO_INSTALLED_LIBRARIES ${libraries})
  set_property(GLOBAL PROPERTY KORVO_INSTALLED_PROGRAMS ${programs})
  if(programs)
    install(TARGETS ${programs}
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
  # The run paths (KorvoRunPath.cmake), set after the copies they cut.
  korvo_set_run_paths("${libraries}" "${programs}" "${bin_to_lib}")
  list(JOIN libraries " " library_list)
  list(JOIN programs " " program_list)
  message(STATUS "korvo installs the libraries ${library_list} and the programs ${program_list}")
endfunction()

korvo_install_all()
# The public headers: staged in the build tree and installed from there.
include(KorvoHeaders)
# Their API reference.
include(KorvoDocs)

# find_package(korvo)
set(KORVO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/korvo)
install(EXPORT korvoTargets NAMESPACE korvo:: DESTINATION ${KORVO_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/korvoConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/korvoConfig.cmake
  INSTALL_DESTINATION ${KORVO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/korvoConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/korvoConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/korvoConfigVersion.cmake
  DESTINATION ${KORVO_CMAKE_DIR} COMPONENT dev)

# pkg-config files. They name the prefix the files are installed under,
# which is known only when installing (cmake --install --prefix, or the
# Debian package's /usr), so they are written then. On Windows their Cflags
# carry the definitions every caller of the headers needs, as the CMake
# package's targets do.
set(KORVO_PC_CFLAGS "")
foreach(definition IN LISTS KORVO_CALLER_DEFINITIONS)
  string(APPEND KORVO_PC_CFLAGS " -D${definition}")
endforeach()
foreach(pc IN ITEMS korvo korvo-runtime)
  set(template ${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in)
  set(written ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${pc}.pc)
  install(CODE "
    set(KORVO_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(KORVO_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(KORVO_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(KORVO_PC_VERSION \"${PROJECT_VERSION}\")
    set(KORVO_PC_CFLAGS \"${KORVO_PC_CFLAGS}\")
    configure_file(\"${template}\" \"${written}\" @ONLY)
    " COMPONENT dev)
  install(FILES ${written} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()

# A method to start from: the consumer program CI builds against the
# installed package, with its CMakeLists.txt.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/tests/install/consumer/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT dev)

# The man pages, the completion and the documents; the Debian packages, or
# on Windows the ZIP.
include(${CMAKE_CURRENT_LIST_DIR}/KorvoInstallDocs.cmake)
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/KorvoWindowsPackage.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/KorvoDebian.cmake)
endif()
