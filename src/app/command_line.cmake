# The command line: portable rules, and their Win32 glue (linked into the program by program.cmake).
tarnell_core_library(tarnell_command_line command_line.cpp status_report.cpp)
target_link_libraries(tarnell_command_line PUBLIC tarnell_run_control)

if(NOT WIN32)
  return()
endif()

tarnell_win32_library(tarnell_command_line_win32 command_line_win32.cpp)
target_link_libraries(tarnell_command_line_win32 PUBLIC tarnell_command_line tarnell_run_control_win32
                      tarnell_base_win32 ole32 shell32)
