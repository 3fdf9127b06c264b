# The package for Windows users: one ZIP (cpack -G ZIP, or the target
# "package") that works wherever it is unpacked:
#   bin/       korvo.exe, korvo_gateway.exe, korvo_sample_method.exe, the
#              DLLs (korvo, korvo_runtime, CDSClient) and the MinGW runtime
#              DLLs they load (libstdc++, libgcc, libwinpthread): Windows
#              finds a program's DLLs beside it
#   include/   the public headers, for method authors
#   lib/       the import libraries (libkorvo.dll.a, ...), the CMake package
#              and the pkg-config files
#   README.md, doc/   what people read
# Included from KorvoPackaging.cmake on WIN32, in place of the Debian
# packages.

# The runtime DLLs of the compiler that built us; the toolchain's posix
# flavour links libstdc++ and libgcc as DLLs, so that exceptions cross ours.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(korvo_gcc_dll libgcc_s_seh-1.dll)
  set(korvo_package_system win64)
else()
  set(korvo_gcc_dll libgcc_s_dw2-1.dll)
  set(korvo_package_system win32)
endif()
set(korvo_runtime_dlls)
foreach(dll IN ITEMS libstdc++-6.dll ${korvo_gcc_dll} libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
    message(FATAL_ERROR "the compiler's runtime DLL ${dll} is not where "
      "${CMAKE_CXX_COMPILER} -print-file-name says (${found})")
  endif()
  get_filename_component(found "${found}" REALPATH)
  list(APPEND korvo_runtime_dlls "${found}")
endforeach()
install(FILES ${korvo_runtime_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME korvo)
set(CPACK_PACKAGE_VENDOR "korvo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME ${korvo_package_system})
set(CPACK_PACKAGE_FILE_NAME korvo-${PROJECT_VERSION}-${korvo_package_system})
# One archive with every component; its top folder is the package's name.
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
