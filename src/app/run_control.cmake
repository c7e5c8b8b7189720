# The run control: portable rules (with the tweak set over the tuning catalogue), and their wiring to
# the system.
tarnell_core_library(tarnell_run_control run_control.cpp run_control_tweaks.cpp run_messages.cpp)
target_link_libraries(tarnell_run_control PUBLIC tarnell_base tarnell_tuning)

tarnell_win32_library(tarnell_run_control_win32 run_control_win32.cpp)
if(WIN32)
  target_link_libraries(tarnell_run_control_win32 PUBLIC tarnell_run_control tarnell_base_win32
                        tarnell_tuning_win32 tarnell_config_win32 tarnell_translate)
endif()
