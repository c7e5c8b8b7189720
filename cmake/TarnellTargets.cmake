# Helpers that keep every subsystem's CMakeLists.txt short and alike.
#
#   tarnell_core_library(NAME SOURCES...)     portable code: no <windows.h>, built natively and for Windows
#   tarnell_win32_library(NAME SOURCES...)    Win32 glue: built for Windows only
#   tarnell_add_test(NAME SOURCES ... LIBS ... [WIN32_ONLY] [ENV VAR=VALUE...] [TIMEOUT s])
#   tarnell_add_driver(NAME SOURCES ... [LIBS ...] [GUI] [UNICODE_ENTRY] [TEST_MAIN])
#                                            a program the tests start or drive, built into tests/
#
# Every library sees src/ and the generated build_config.h on its include path.

set(TARNELL_SRC_DIR ${CMAKE_CURRENT_LIST_DIR}/../src)
get_filename_component(TARNELL_SRC_DIR ${TARNELL_SRC_DIR} ABSOLUTE)

function(tarnell_common_options target)
  target_include_directories(${target} PUBLIC ${TARNELL_SRC_DIR} ${CMAKE_BINARY_DIR}/generated)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
    # No build folder's or checkout's path in what is built: the same sources build the same program.
    target_compile_options(${target} PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
                           -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
  endif()
  if(WIN32)
    target_compile_definitions(${target} PUBLIC UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  endif()
  if(TARNELL_SANITIZE)
    target_compile_options(${target} PUBLIC -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
  if(TARNELL_FUZZ)
    # Coverage for libFuzzer in every library; only the fuzz targets link the fuzzer's main.
    target_compile_options(${target} PUBLIC -fsanitize=fuzzer-no-link)
  endif()
endfunction()

function(tarnell_core_library name)
  add_library(${name} STATIC ${ARGN})
  tarnell_common_options(${name})
endfunction()

function(tarnell_win32_library name)
  if(NOT WIN32)
    return()
  endif()
  add_library(${name} STATIC ${ARGN})
  tarnell_common_options(${name})
endfunction()

# Static runtime: the program and every test are self-contained .exe files.
# UNICODE_ENTRY for programs that start at wWinMain/wmain.
# Sections start on page boundaries in the file too, so the image can be mapped page by page from the
# file: Wine copies an image with mingw's default 512-byte file alignment whole into private memory
# (about a megabyte for tarnell.exe), for a file a few tens of kilobytes larger.
function(tarnell_windows_executable target)
  cmake_parse_arguments(E "UNICODE_ENTRY" "" "" ${ARGN})
  if(WIN32 AND MSVC)
    target_link_options(${target} PRIVATE /FILEALIGN:0x1000)
  endif()
  if(WIN32 AND NOT MSVC)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--file-alignment=0x1000)
    if(E_UNICODE_ENTRY)
      target_link_options(${target} PRIVATE -municode)
    endif()
  endif()
endfunction()

function(tarnell_setup_test_framework)
  find_file(TARNELL_DOCTEST_HEADER doctest/doctest.h
            PATHS /usr/include /usr/local/include ${CMAKE_SOURCE_DIR}/third_party
            NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  # Copied into the build tree so a cross build never puts the host's /usr/include on its path.
  configure_file(${TARNELL_DOCTEST_HEADER} ${CMAKE_BINARY_DIR}/third_party/doctest/doctest.h COPYONLY)
  add_library(tarnell_test_main STATIC ${CMAKE_SOURCE_DIR}/tests/test_main.cpp)
  target_include_directories(tarnell_test_main SYSTEM PUBLIC ${CMAKE_BINARY_DIR}/third_party)
  tarnell_common_options(tarnell_test_main)
  target_compile_definitions(tarnell_test_main PUBLIC TARNELL_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             TARNELL_BINARY_DIR="${CMAKE_BINARY_DIR}")

  if(WIN32)
    # One Wine prefix and one Xvfb display per build tree, started before and ended after the Windows tests.
    add_test(NAME wine_env_start COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-env.sh start ${CMAKE_BINARY_DIR})
    add_test(NAME wine_env_stop COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-env.sh stop ${CMAKE_BINARY_DIR})
    set_tests_properties(wine_env_start PROPERTIES FIXTURES_SETUP wine_env TIMEOUT 180)
    set_tests_properties(wine_env_stop PROPERTIES FIXTURES_CLEANUP wine_env)
  endif()
endfunction()

function(tarnell_add_driver name)
  cmake_parse_arguments(D "GUI;UNICODE_ENTRY;TEST_MAIN" "" "SOURCES;LIBS" ${ARGN})
  if(D_GUI)
    add_executable(${name} WIN32 ${D_SOURCES})
  else()
    add_executable(${name} ${D_SOURCES})
  endif()
  target_link_libraries(${name} PRIVATE ${D_LIBS})
  if(D_TEST_MAIN)
    target_link_libraries(${name} PRIVATE tarnell_test_main)
  endif()
  tarnell_common_options(${name})
  if(D_UNICODE_ENTRY)
    tarnell_windows_executable(${name} UNICODE_ENTRY)
  else()
    tarnell_windows_executable(${name})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endfunction()

function(tarnell_add_test name)
  cmake_parse_arguments(T "WIN32_ONLY" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(T_WIN32_ONLY AND NOT WIN32)
    return()
  endif()
  tarnell_add_driver(${name} TEST_MAIN SOURCES ${T_SOURCES} LIBS ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
  if(WIN32)
    # One Wine desktop per build tree: tests that show windows would take activation and focus from
    # each other, so Windows tests run one at a time.
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_env RESOURCE_LOCK wine_desktop)
  endif()
endfunction()

# tarnell_add_fuzzer(NAME SOURCES ... LIBS ...): a libFuzzer target; its seeds live in tests/fuzz/corpus/NAME.
function(tarnell_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  tarnell_common_options(${name})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
  if(NOT TARGET fuzzers)
    add_custom_target(fuzzers)
  endif()
  add_dependencies(fuzzers ${name})
endfunction()
