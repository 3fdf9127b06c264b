# Installation and the CMake package that lets other projects use
#   find_package(korvo) + target_link_libraries(app korvo::korvo)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS korvo_runtime korvo EXPORT korvoTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT korvoTargets NAMESPACE korvo::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/korvo)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/korvoConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/korvoConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/korvo)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/korvoConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/korvoConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/korvoConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/korvo)
