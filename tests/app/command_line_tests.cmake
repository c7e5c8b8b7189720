# The command line's rules, in both builds.
tarnell_add_test(app_command_line_test SOURCES command_line_test.cpp LIBS tarnell_command_line)
if(WIN32)
  # Checked against the system's own splitting too.
  target_link_libraries(app_command_line_test PRIVATE shell32)
endif()

# What --status tells, over the real record on a registry held in memory.
tarnell_add_test(app_status_report_test SOURCES status_report_test.cpp LIBS tarnell_command_line)

# The real tarnell.exe run with arguments, in the end-to-end build (probe on the loopback fixture).
if(WIN32 AND TARGET app_program_win32_test)
  tarnell_add_driver(app_command_line_win32_test TEST_MAIN SOURCES command_line_win32_test.cpp
                     LIBS tarnell_main_layout tarnell_tuning_win32)
  add_dependencies(app_command_line_win32_test tarnell)
  add_test(NAME app_program_command_line_win32_test COMMAND app_command_line_win32_test)
  set_tests_properties(app_program_command_line_win32_test PROPERTIES
    FIXTURES_REQUIRED "wine_env;app_loopback" RESOURCE_LOCK wine_desktop TIMEOUT 300
    ENVIRONMENT "TARNELL_PROGRAM=$<TARGET_FILE:tarnell>;TARNELL_LOOPBACK_DIR=${CMAKE_BINARY_DIR}/tests/app/loopback;TARNELL_COMMAND_WAIT_MS=${TARNELL_COMMAND_WAIT_MS}")
endif()
