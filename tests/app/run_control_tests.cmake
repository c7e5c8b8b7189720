tarnell_add_test(app_run_control_test SOURCES run_control_test.cpp run_control_tweaks_test.cpp
                 LIBS tarnell_run_control)

# The real worker thread and hand-over under Wine.
tarnell_add_test(app_run_control_win32_test WIN32_ONLY SOURCES run_control_win32_test.cpp
                 LIBS tarnell_run_control_win32)
# Closing during a wait sets the process-wide terminating flag for good: a process of its own.
tarnell_add_test(app_run_control_win32_close_test WIN32_ONLY SOURCES run_control_win32_close_test.cpp
                 LIBS tarnell_run_control_win32 TIMEOUT 60)
if(WIN32)
  tarnell_add_driver(app_run_control_exit_helper SOURCES run_control_win32_exit_helper.cpp
                     LIBS tarnell_run_control_win32)
  # It uses the tests' fakes, which come with the test framework's header.
  target_include_directories(app_run_control_exit_helper SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/third_party)
  add_dependencies(app_run_control_win32_close_test app_run_control_exit_helper)
endif()
