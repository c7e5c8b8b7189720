# The command line's rules, in both builds.
tarnell_add_test(app_command_line_test SOURCES command_line_test.cpp LIBS tarnell_command_line)
