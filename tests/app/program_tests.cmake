# Core: the form description.
tarnell_add_test(app_main_layout_test SOURCES main_layout_test.cpp LIBS tarnell_main_layout)

if(NOT WIN32)
  return()
endif()

# Windows: the main window in the test's own process (no service check), with the real translation table.
enable_language(RC)
tarnell_add_test(app_frm_tarnell_win32_test WIN32_ONLY TIMEOUT 180
  SOURCES frm_tarnell_win32_test.cpp translate_table.rc LIBS tarnell_app_win32 tarnell_config_win32)
tarnell_add_test(app_frm_access_win32_test WIN32_ONLY TIMEOUT 240
  SOURCES frm_access_win32_test.cpp translate_table.rc LIBS tarnell_app_win32 tarnell_config_win32)
tarnell_add_test(app_startup_win32_test WIN32_ONLY TIMEOUT 120
  SOURCES startup_win32_test.cpp translate_table.rc LIBS tarnell_app_win32 tarnell_config_win32 advapi32)

# The window's service check against the update tests' loopback service.
tarnell_add_test(app_frm_service_win32_test WIN32_ONLY TIMEOUT 120
  SOURCES frm_service_win32_test.cpp translate_table.rc LIBS tarnell_app_win32)
set_tests_properties(app_frm_service_win32_test PROPERTIES FIXTURES_REQUIRED "wine_env;update_service")

# The end of the process with a service check and a connectivity wait in flight: a helper process.
tarnell_add_test(app_exit_win32_test WIN32_ONLY TIMEOUT 90 SOURCES exit_win32_test.cpp LIBS tarnell_update_win32)
tarnell_add_driver(app_exit_helper SOURCES exit_win32_helper.cpp LIBS tarnell_app_win32)
add_dependencies(app_exit_win32_test app_exit_helper)
set_tests_properties(app_exit_win32_test PROPERTIES FIXTURES_REQUIRED "wine_env;update_service")

# Not a test: clicks a control of the running program by name (docs/screenshots.sh uses it).
tarnell_add_driver(click_control UNICODE_ENTRY SOURCES click_control_win32.cpp LIBS tarnell_main_layout)

# End-to-end: the real tarnell.exe driven from outside. The program's probe and service must not leave
# this machine, so these run only in a build tree configured with both pointing at the loopback fixture
# server, e.g.
#   cmake --preset windows -B build/e2e -DTARNELL_PROBE_URL=http://127.0.0.1:18471/generate_204 \
#         -DTARNELL_SERVICE_URL=http://127.0.0.1:18471/api.init.php -DTARNELL_HOME_URL=http://127.0.0.1:18471/tarnell
set(loopback_pattern "^http://127\\.0\\.0\\.1:([0-9]+)/")
if(NOT TARNELL_PROBE_URL MATCHES "${loopback_pattern}" OR NOT TARNELL_SERVICE_URL MATCHES "${loopback_pattern}"
   OR NOT TARNELL_REPORT_URL MATCHES "${loopback_pattern}" OR NOT TARNELL_ERROR_PAGE_URL MATCHES "${loopback_pattern}")
  message(STATUS "tarnell.exe end-to-end tests not registered: probe, service, report endpoint and error page "
                 "are not all loopback addresses")
  return()
endif()
string(REGEX MATCH "${loopback_pattern}" _ "${TARNELL_SERVICE_URL}")
set(service_port ${CMAKE_MATCH_1})
foreach(url IN ITEMS "${TARNELL_PROBE_URL}" "${TARNELL_REPORT_URL}" "${TARNELL_ERROR_PAGE_URL}")
  string(REGEX MATCH "${loopback_pattern}" _ "${url}")
  if(NOT CMAKE_MATCH_1 STREQUAL service_port)
    message(STATUS "tarnell.exe end-to-end tests not registered: the endpoints need the same loopback port")
    return()
  endif()
endforeach()

set(loopback_dir ${CMAKE_CURRENT_BINARY_DIR}/loopback)
add_test(NAME app_loopback_start COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/loopback_server.py start
         ${service_port} ${loopback_dir})
add_test(NAME app_loopback_stop COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/loopback_server.py stop
         ${loopback_dir})
set_tests_properties(app_loopback_start PROPERTIES FIXTURES_SETUP app_loopback)
set_tests_properties(app_loopback_stop PROPERTIES FIXTURES_CLEANUP app_loopback)

# One driver program; each scenario is registered on its own below.
tarnell_add_driver(app_program_win32_test TEST_MAIN SOURCES program_win32_test.cpp translate_table.rc
                   LIBS tarnell_main_layout tarnell_config_win32 tarnell_translate_win32 tarnell_tuning_win32
                        tarnell_theme oleacc ole32 oleaut32)
add_dependencies(app_program_win32_test tarnell)
set(program_env "TARNELL_PROGRAM=$<TARGET_FILE:tarnell>")

add_test(NAME app_program_first_start_win32_test
         COMMAND app_program_win32_test "--test-case=program: first start*")
add_test(NAME app_program_run_stop_win32_test COMMAND app_program_win32_test "--test-case=program: run*")
add_test(NAME app_program_error_box_win32_test COMMAND app_program_win32_test "--test-case=program: an error*")
add_test(NAME app_program_machine_record_win32_test COMMAND app_program_win32_test "--test-case=program: record*")
add_test(NAME app_program_access_win32_test
         COMMAND app_program_win32_test "--test-case=program: a screen reader and*")
add_test(NAME app_program_focus_ring_win32_test
         COMMAND app_program_win32_test "--test-case=program: the keyboard focus*")
set_tests_properties(app_program_first_start_win32_test app_program_run_stop_win32_test
                     app_program_error_box_win32_test app_program_machine_record_win32_test
                     app_program_access_win32_test app_program_focus_ring_win32_test PROPERTIES
  FIXTURES_REQUIRED "wine_env;app_loopback" RESOURCE_LOCK wine_desktop TIMEOUT 240
  ENVIRONMENT "${program_env};TARNELL_EXPECT_DPI=96")

# The captions under the locales the UI language follows (locales compiled by the translation tests).
if(TARGET translate_test_locales)
  set(locale_dir ${CMAKE_BINARY_DIR}/tests/translate/locales)
  add_dependencies(app_program_win32_test translate_test_locales)
  foreach(entry IN ITEMS en_US:en ko_KR:ko ja_JP:ja de_DE:de)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 locale)
    list(GET entry 1 language)
    add_test(NAME app_program_captions_${language}_win32_test
             COMMAND app_program_win32_test "--test-case=program: captions*")
    set_tests_properties(app_program_captions_${language}_win32_test PROPERTIES
      FIXTURES_REQUIRED "wine_env;app_loopback" RESOURCE_LOCK wine_desktop TIMEOUT 120
      ENVIRONMENT_MODIFICATION "LC_ALL=unset:;LC_MESSAGES=unset:;LC_CTYPE=unset:"
      ENVIRONMENT "${program_env};LOCPATH=${locale_dir};LANG=${locale}.UTF-8;TARNELL_EXPECT_LANG=${language}")
  endforeach()
endif()

# The same first start in a second Wine prefix whose display setting is 144 DPI.
set(prefix144 ${CMAKE_BINARY_DIR}/wineprefix-144)
add_test(NAME app_prefix144_start COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/prefix_dpi.sh start ${prefix144} 144)
add_test(NAME app_prefix144_stop COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/prefix_dpi.sh stop ${prefix144} 144)
set_tests_properties(app_prefix144_start PROPERTIES FIXTURES_SETUP app_prefix144 TIMEOUT 180
  FIXTURES_REQUIRED wine_env)
set_tests_properties(app_prefix144_stop PROPERTIES FIXTURES_CLEANUP app_prefix144)
add_test(NAME app_program_first_start_144_win32_test
         COMMAND app_program_win32_test "--test-case=program: first start*")
set_tests_properties(app_program_first_start_144_win32_test PROPERTIES
  FIXTURES_REQUIRED "wine_env;app_loopback;app_prefix144" RESOURCE_LOCK wine_desktop TIMEOUT 240
  ENVIRONMENT "${program_env};TARNELL_EXPECT_DPI=144;TARNELL_WINEPREFIX=${prefix144}")

# The first start's texts in a third prefix whose system colours are dark (white window text).
set(prefix_dark ${CMAKE_BINARY_DIR}/wineprefix-dark)
add_test(NAME app_prefix_dark_start COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/prefix_colors.sh start ${prefix_dark})
add_test(NAME app_prefix_dark_stop COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/prefix_colors.sh stop ${prefix_dark})
set_tests_properties(app_prefix_dark_start PROPERTIES FIXTURES_SETUP app_prefix_dark TIMEOUT 180
  FIXTURES_REQUIRED wine_env)
set_tests_properties(app_prefix_dark_stop PROPERTIES FIXTURES_CLEANUP app_prefix_dark)
add_test(NAME app_program_dark_scheme_win32_test COMMAND app_program_win32_test "--test-case=program: a dark*")
set_tests_properties(app_program_dark_scheme_win32_test PROPERTIES
  FIXTURES_REQUIRED "wine_env;app_loopback;app_prefix_dark" RESOURCE_LOCK wine_desktop TIMEOUT 240
  ENVIRONMENT "${program_env};TARNELL_WINEPREFIX=${prefix_dark}")

# Robustness against the running program: hostile service answers (what reaches the shell is recorded by a
# stand-in program the shell's associations point at), clicks and closes during a connectivity wait.
tarnell_add_driver(app_program_shell_recorder GUI UNICODE_ENTRY SOURCES program_shell_recorder_win32.cpp)
tarnell_add_driver(app_program_robustness_win32_test TEST_MAIN
                   SOURCES program_robustness_links_win32_test.cpp program_robustness_wait_win32_test.cpp
                           program_robustness_dlls_win32_test.cpp program_robustness_crash_win32_test.cpp
                   LIBS tarnell_main_layout tarnell_config_win32 tarnell_tuning_win32 tarnell_update_win32 shell32 ole32)
# A DLL that marks where it was loaded, planted beside a copy of the program under the names it uses.
add_library(app_program_planted_dll SHARED planted_dll_win32.cpp)
tarnell_common_options(app_program_planted_dll)
tarnell_windows_executable(app_program_planted_dll)
set_target_properties(app_program_planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_dependencies(app_program_robustness_win32_test tarnell app_program_shell_recorder app_program_planted_dll)
set(robustness_env "${program_env};TARNELL_SHELL_RECORDER=$<TARGET_FILE:app_program_shell_recorder>"
    "TARNELL_LOOPBACK_DIR=${loopback_dir}" "TARNELL_LOOPBACK_URL=http://127.0.0.1:${service_port}"
    "TARNELL_PLANTED_DLL=$<TARGET_FILE:app_program_planted_dll>"
    "TARNELL_PLANT_DIR=${CMAKE_CURRENT_BINARY_DIR}/planted")
set(robustness_entries "hostile_links:hostile links*" "malformed_answers:malformed*"
                       "run_switch_clicks:run switch clicks*" "close_during_wait:closing the window*"
                       "killed_during_wait:killed during a wait*" "planted_dlls:DLLs planted*"
                       "desktop_shell_link:a link opens*" "long_links:long links*" "hold_request:a ticked hold box*"
                       "end_session:the Restart Manager*")
# The crash scenarios need the test build's hook (TARNELL_TEST_HOOKS) for the C++ exception.
if(TARNELL_TEST_HOOKS)
  list(APPEND robustness_entries "crash_reports:crash faults*" "crash_ends:crash ends*"
       "crash_planted:a fatal error with links planted*")
endif()
foreach(entry IN LISTS robustness_entries)
  string(FIND "${entry}" ":" colon)
  string(SUBSTRING "${entry}" 0 ${colon} name)
  math(EXPR colon "${colon} + 1")
  string(SUBSTRING "${entry}" ${colon} -1 filter)
  add_test(NAME app_program_${name}_win32_test
           COMMAND app_program_robustness_win32_test "--test-case=program: ${filter}")
  set_tests_properties(app_program_${name}_win32_test PROPERTIES
    FIXTURES_REQUIRED "wine_env;app_loopback" RESOURCE_LOCK wine_desktop TIMEOUT 300
    ENVIRONMENT "${robustness_env}")
endforeach()
# Windows' search order for the planted names: a DLL beside the program before Wine's built-in one.
set_property(TEST app_program_planted_dlls_win32_test APPEND PROPERTY ENVIRONMENT
             "TARNELL_WINEDLLOVERRIDES=winhttp,iphlpapi,gdiplus,comctl32,dwmapi,netshell=n,b")
