# tarnell_delay_load(TARGET DLL...): the program resolves these DLLs at the first call into them instead of
# at process start, so that they are looked up only after wWinMain has restricted the DLL search to
# System32. A static import that is not a KnownDLL would otherwise be taken from the program's own folder
# first, where a planted copy would run with the program's rights.
#
# mingw-w64: import libraries with delay-load stubs are made by dlltool from cmake/delay_imports/NAME.def
# (the functions the program calls) and found under the usual names (libNAME.a) in a folder searched before
# the toolchain's own, so the libraries' plain `NAME` link items pick them up. MSVC: /DELAYLOAD.
function(tarnell_delay_load target)
  if(NOT WIN32)
    return()
  endif()
  if(MSVC)
    foreach(dll IN LISTS ARGN)
      target_link_options(${target} PRIVATE /DELAYLOAD:${dll}.dll)
    endforeach()
    target_link_libraries(${target} PRIVATE delayimp)
    return()
  endif()

  if(NOT CMAKE_DLLTOOL)
    find_program(CMAKE_DLLTOOL NAMES x86_64-w64-mingw32-dlltool dlltool REQUIRED)
  endif()
  set(dir ${CMAKE_BINARY_DIR}/delay_imports/${target})
  file(MAKE_DIRECTORY ${dir})
  set(libs)
  foreach(dll IN LISTS ARGN)
    set(def ${CMAKE_SOURCE_DIR}/cmake/delay_imports/${dll}.def)
    add_custom_command(OUTPUT ${dir}/lib${dll}.a
      # dlltool names the stubs' symbols after the output path: a relative one keeps the build folder's
      # path out of the program, so that any folder builds the same program.
      COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${dll}.dll --output-delaylib lib${dll}.a
      WORKING_DIRECTORY ${dir} DEPENDS ${def} VERBATIM)
    list(APPEND libs ${dir}/lib${dll}.a)
  endforeach()
  add_custom_target(${target}_delay_imports DEPENDS ${libs})
  add_dependencies(${target} ${target}_delay_imports)
  target_link_directories(${target} BEFORE PRIVATE ${dir})
  # The stubs' helper, __delayLoadHelper2 (mingw-w64 keeps it in libmingwex; libdelayimp names it too).
  target_link_libraries(${target} PRIVATE delayimp)
  # Relink when a list changes.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libs})
endfunction()
