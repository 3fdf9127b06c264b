# The Debian packages (cpack -G DEB), made the way Debian's own are:
#   lib<name><version>  one per shared library, named after its SONAME
#                       (libkorvo0.1, libkorvo-runtime0.1, libcdsclient1),
#                       with its shlibs file and the ldconfig trigger
#   korvo               the programs with their man pages, the bash
#                       completion, the README and the documents
#   korvo-dev           headers, link names, the CMake and pkg-config files,
#                       the example method
# Each package carries /usr/share/doc/<package>/copyright and changelog.gz.
# The libraries lie in the multiarch folder (KorvoPackaging.cmake sets
# CMAKE_INSTALL_LIBDIR). Included from KorvoPackaging.cmake once every
# library has been installed with korvo_install_all (which records them in
# the global property KORVO_INSTALLED_LIBRARIES, each in the component
# lib_<target>).
set(KORVO_DEB_MAINTAINER "The korvo developers <developers@korvo.example.org>")
set(KORVO_DEB_VERSION ${PROJECT_VERSION})

# The name Debian gives the package of the library `target`: "lib", the
# library's name in lower case with '-' for '_', and its SONAME version,
# after a '-' when the name ends in a digit (libkorvo_runtime.so.0.1:
# libkorvo-runtime0.1).
function(korvo_deb_library_package target out)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  get_target_property(soversion ${target} SOVERSION)
  if(NOT soversion)  # a library without a version in its SONAME
    set(soversion "")
  endif()
  string(TOLOWER "${name}" name)
  string(REPLACE "_" "-" name "${name}")
  if(name MATCHES "[0-9]$" AND NOT soversion STREQUAL "")
    string(APPEND name "-")
  endif()
  set(${out} "lib${name}${soversion}" PARENT_SCOPE)
endfunction()

# The copyright file and the changelog (compressed without a time stamp) of
# each package. They are installed for the packages only (EXCLUDE_FROM_ALL:
# cpack installs each component by name; a plain install leaves them out).
set(deb_dir ${PROJECT_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${deb_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${deb_dir}/changelog.gz
  COMMAND ${KORVO_GZIP} -9n -c ${deb_dir}/changelog > ${deb_dir}/changelog.gz
  DEPENDS ${deb_dir}/changelog VERBATIM)
add_custom_target(korvo_deb_changelog ALL DEPENDS ${deb_dir}/changelog.gz)
# Libraries take note of their cache with the ldconfig trigger.
file(WRITE ${deb_dir}/triggers "activate-noawait ldconfig\n")

function(korvo_deb_package component package section)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package} PARENT_SCOPE)
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section} PARENT_SCOPE)
  install(FILES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/debian/copyright ${deb_dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endfunction()

get_property(deb_libraries GLOBAL PROPERTY KORVO_INSTALLED_LIBRARIES)
get_property(deb_programs GLOBAL PROPERTY KORVO_INSTALLED_PROGRAMS)
set(deb_components runtime dev)
foreach(library IN LISTS deb_libraries)
  korvo_deb_library_package(${library} package)
  set(deb_package_of_${library} ${package})
endforeach()

# "package (= version)" for each of the project's libraries that `targets`
# link, into `out` (dpkg-shlibdeps finds the others: libc6, libstdc++6,
# libcurl ...).
function(korvo_deb_linked_libraries out)
  set(depends)
  foreach(target IN LISTS ARGN)
    get_target_property(links ${target} LINK_LIBRARIES)
    foreach(linked IN LISTS links)
      if(linked IN_LIST deb_libraries)
        list(APPEND depends "${deb_package_of_${linked}} (= ${KORVO_DEB_VERSION})")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES depends)
  list(JOIN depends ", " depends)
  set(${out} "${depends}" PARENT_SCOPE)
endfunction()
foreach(library IN LISTS deb_libraries)
  set(component lib_${library})
  string(TOUPPER ${component} upper)
  list(APPEND deb_components ${component})
  korvo_deb_package(${component} ${deb_package_of_${library}} libs)
  set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA ${deb_dir}/triggers)
  korvo_deb_linked_libraries(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS ${library})
endforeach()

# korvo: what its programs link. korvo-dev: the libraries whose link names
# it holds.
korvo_deb_package(runtime korvo net)
korvo_deb_linked_libraries(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS ${deb_programs})
korvo_deb_package(dev korvo-dev libdevel)
set(dev_depends)
foreach(library IN LISTS deb_libraries)
  get_target_property(loaded ${library} KORVO_LOADED_BY_LINK_NAME)
  if(NOT loaded)
    list(APPEND dev_depends "${deb_package_of_${library}} (= ${KORVO_DEB_VERSION})")
  endif()
endforeach()
list(JOIN dev_depends ", " CPACK_DEBIAN_DEV_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)

# The descriptions: a synopsis of each package's own, then what it holds.
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "tools to look into and steer korvo endpoints
The korvo command looks into an endpoint of the korvo software distribution
service: its depot of segments, property files, progress records and the
message catalog; it receives distributions and sends files up the gateway
channel. korvo_gateway plays the gateway for one method process, and
korvo_sample_method is a receiving method to start from.")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "development files for korvo endpoint methods
Headers, link names, the CMake package (find_package(korvo)) and pkg-config
files (korvo, korvo-runtime) to build receiving methods against the korvo
endpoint library, and an example method with its CMakeLists.txt.")
set(deb_summary_korvo "endpoint library of the korvo distribution service")
set(deb_details_korvo
  "Property lists, the message catalog and its exceptions, distribution
records, the shared depot of segments, net streams with progress records
that resume interrupted transfers, and the CDS source. Receiving programs
(methods) on korvo endpoints load it.")
set(deb_summary_korvo_runtime "runtime services of the korvo endpoint library")
set(deb_details_korvo_runtime
  "Memory, sequences, type codes, marshalling, raising and catching,
logging, configuration and the gateway channel, on which the korvo endpoint
library and its methods stand.")
set(deb_summary_CDSClient "content delivery client of the korvo endpoint library")
set(deb_details_CDSClient
  "Downloads packages from a content server over HTTP into a cache of its
own. The korvo endpoint library loads it at run time, by its link name
libCDSClient.so (part of this package), for CDS streams.")
foreach(library IN LISTS deb_libraries)
  string(TOUPPER lib_${library} upper)
  if(DEFINED deb_summary_${library})
    set(CPACK_COMPONENT_${upper}_DESCRIPTION
      "${deb_summary_${library}}\n${deb_details_${library}}")
  else()
    set(CPACK_COMPONENT_${upper}_DESCRIPTION "shared library of korvo\nA library of korvo.")
  endif()
endforeach()
if(TARGET korvo AND TARGET CDSClient)
  set(CPACK_DEBIAN_LIB_KORVO_PACKAGE_RECOMMENDS "${deb_package_of_CDSClient}")
endif()

set(CPACK_PACKAGE_NAME korvo)
set(CPACK_PACKAGE_VENDOR "korvo")
set(CPACK_PACKAGE_CONTACT "${KORVO_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KORVO_DEB_MAINTAINER}")
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it before every
# package's own synopsis.
set(CPACK_PACKAGE_VERSION ${KORVO_DEB_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${deb_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps must find the project's libraries that a package links but
# another package holds: in the build tree (the dependencies on them are the
# explicit ones above).
set(deb_private_dirs)
foreach(library IN LISTS deb_libraries)
  get_target_property(dir ${library} BINARY_DIR)
  list(APPEND deb_private_dirs ${dir})
endforeach()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${deb_private_dirs})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
