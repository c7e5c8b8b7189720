# The command line: portable rules, and their Win32 glue linked into the program.
tarnell_core_library(tarnell_command_line command_line.cpp)
target_link_libraries(tarnell_command_line PUBLIC tarnell_run_control)

if(NOT WIN32)
  return()
endif()

# How long --revert and --apply wait for the internet after cycling the connection. Tests shorten it.
set(TARNELL_COMMAND_WAIT_MS 60000 CACHE STRING "Connectivity wait of the command line, in milliseconds")
tarnell_win32_library(tarnell_command_line_win32 command_line_win32.cpp)
target_link_libraries(tarnell_command_line_win32 PUBLIC tarnell_command_line tarnell_run_control_win32
                      tarnell_app_win32 ole32 shell32)
target_compile_definitions(tarnell_command_line_win32 PRIVATE TARNELL_COMMAND_WAIT_MS=${TARNELL_COMMAND_WAIT_MS})
if(TARGET tarnell)
  target_link_libraries(tarnell PRIVATE tarnell_command_line_win32)
endif()
