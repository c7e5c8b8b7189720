tarnell_add_test(app_run_control_test SOURCES run_control_test.cpp run_control_tweaks_test.cpp
                 LIBS tarnell_run_control)

# The real worker thread and hand-over under Wine.
tarnell_add_test(app_run_control_win32_test WIN32_ONLY SOURCES run_control_win32_test.cpp
                 LIBS tarnell_run_control_win32)
# Closing during a wait sets the process-wide terminating flag for good: a process of its own.
tarnell_add_test(app_run_control_win32_close_test WIN32_ONLY SOURCES run_control_win32_close_test.cpp
                 LIBS tarnell_run_control_win32 TIMEOUT 60)
if(WIN32)
  add_executable(app_run_control_exit_helper run_control_win32_exit_helper.cpp)
  target_link_libraries(app_run_control_exit_helper PRIVATE tarnell_run_control_win32)
  target_include_directories(app_run_control_exit_helper SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/third_party)
  tarnell_common_options(app_run_control_exit_helper)
  tarnell_windows_executable(app_run_control_exit_helper)
  set_target_properties(app_run_control_exit_helper PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(app_run_control_win32_close_test app_run_control_exit_helper)
endif()
