# Run paths without empty entries, in the build tree and when installed.
#
# A target whose run path must change at install time is linked by CMake
# with its build-tree run path followed by one ':' and padded with more ':'
# to the length of the install run path, so that the installed copy can be
# edited in place. The loader reads every empty entry of a run path as the
# current folder: a library of the build tree with the run path ":::::::"
# loaded a libcurl.so.4 from whatever folder a test or a tool ran in.
#
# So CMake never edits a run path here. Each installed target is linked with
# the run path its build-tree copy needs: its install run path, then the
# folders of the project's shared libraries it links (directly or through the
# project's other libraries; no other folder, so that a library loaded at run
# time by its name, the CDS client, is not found in the build tree by
# accident). The installed copy's run path is then cut to the install run
# path (file(RPATH_SET) may shorten a run path in place), after the copy and
# before packaging.

# Appends to the list named `out` the output folders of the project's shared
# libraries that `target` links, directly or through other targets.
function(korvo_linked_library_folders target out)
  set(folders ${${out}})
  set(pending ${target})
  set(seen)
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(type ${current} TYPE)
    if(NOT current STREQUAL target AND type STREQUAL "SHARED_LIBRARY")
      get_target_property(folder ${current} LIBRARY_OUTPUT_DIRECTORY)
      if(NOT folder)
        get_target_property(folder ${current} BINARY_DIR)
      endif()
      list(APPEND folders ${folder})
    endif()
    set(links)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${current} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(TARGET "${link}")
        get_target_property(aliased ${link} ALIASED_TARGET)
        if(aliased)
          set(link ${aliased})
        endif()
        get_target_property(imported ${link} IMPORTED)
        if(NOT imported)
          list(APPEND pending ${link})
        endif()
      endif()
    endforeach()
  endwhile()
  list(REMOVE_DUPLICATES folders)
  set(${out} ${folders} PARENT_SCOPE)
endfunction()

# `libraries` and `programs` are the installed targets (lists); programs
# find the libraries at $ORIGIN/<bin_to_lib>, libraries beside themselves.
# Windows has no run paths: a program finds its DLLs in its own folder,
# where the package puts them.
function(korvo_set_run_paths libraries programs bin_to_lib)
  if(WIN32)
    return()
  endif()
  foreach(target IN LISTS libraries programs)
    if(target IN_LIST programs)
      set(installed "$ORIGIN/${bin_to_lib}")
      set(destination ${CMAKE_INSTALL_BINDIR})
      set(component runtime)
    else()
      set(installed "$ORIGIN")
      set(destination ${CMAKE_INSTALL_LIBDIR})
      # Each library is a component of its own (KorvoPackaging.cmake).
      set(component lib_${target})
    endif()
    set(build_folders)
    korvo_linked_library_folders(${target} build_folders)
    set_target_properties(${target} PROPERTIES
      BUILD_WITH_INSTALL_RPATH ON
      INSTALL_RPATH "${installed};${build_folders}")
    install(CODE "file(RPATH_SET
      FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>\"
      NEW_RPATH \"${installed}\")"
      COMPONENT ${component})
  endforeach()
endfunction()
