# The program: the main window over the control layer, the process entry, and the resources.
# Built for Windows only; the form description is portable and tested natively.
tarnell_core_library(tarnell_main_layout main_layout.cpp access_texts.cpp)
target_link_libraries(tarnell_main_layout PUBLIC tarnell_base)

if(NOT WIN32)
  return()
endif()

tarnell_win32_library(tarnell_app_win32 frm_tarnell_win32.cpp error_box_win32.cpp process_end_win32.cpp)
target_link_libraries(tarnell_app_win32 PUBLIC tarnell_main_layout tarnell_ui tarnell_run_control_win32
                      tarnell_translate_win32 tarnell_theme_win32 tarnell_update_win32 tarnell_crash_win32 comctl32
                      ole32 user32)

# Pictures drawn as SVG, rasterised at build time: the logo three times its 112 x 50 box (scaled down
# smoothly at any DPI) as a 24-bit bitmap on white, and the icon at 16, 32, 48 and 256 pixels.
find_program(TARNELL_RSVG rsvg-convert REQUIRED)
find_program(TARNELL_CONVERT convert REQUIRED)
set(TARNELL_RESOURCES_DIR ${CMAKE_SOURCE_DIR}/resources)
set(TARNELL_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated/resources)
file(MAKE_DIRECTORY ${TARNELL_GENERATED_DIR})
add_custom_command(OUTPUT ${TARNELL_GENERATED_DIR}/logo.bmp
  COMMAND ${TARNELL_RSVG} -w 336 -h 150 -b white ${TARNELL_RESOURCES_DIR}/logo.svg -o ${TARNELL_GENERATED_DIR}/logo.png
  COMMAND ${TARNELL_CONVERT} ${TARNELL_GENERATED_DIR}/logo.png -alpha off BMP3:${TARNELL_GENERATED_DIR}/logo.bmp
  DEPENDS ${TARNELL_RESOURCES_DIR}/logo.svg VERBATIM)
add_custom_command(OUTPUT ${TARNELL_GENERATED_DIR}/tarnell.ico
  COMMAND ${TARNELL_RSVG} -w 16 -h 16 ${TARNELL_RESOURCES_DIR}/icon.svg -o ${TARNELL_GENERATED_DIR}/icon16.png
  COMMAND ${TARNELL_RSVG} -w 32 -h 32 ${TARNELL_RESOURCES_DIR}/icon.svg -o ${TARNELL_GENERATED_DIR}/icon32.png
  COMMAND ${TARNELL_RSVG} -w 48 -h 48 ${TARNELL_RESOURCES_DIR}/icon.svg -o ${TARNELL_GENERATED_DIR}/icon48.png
  COMMAND ${TARNELL_RSVG} -w 256 -h 256 ${TARNELL_RESOURCES_DIR}/icon.svg -o ${TARNELL_GENERATED_DIR}/icon256.png
  COMMAND ${TARNELL_CONVERT} ${TARNELL_GENERATED_DIR}/icon16.png ${TARNELL_GENERATED_DIR}/icon32.png
          ${TARNELL_GENERATED_DIR}/icon48.png ${TARNELL_GENERATED_DIR}/icon256.png ${TARNELL_GENERATED_DIR}/tarnell.ico
  DEPENDS ${TARNELL_RESOURCES_DIR}/icon.svg VERBATIM)

if(PROJECT_VERSION_TWEAK)
  set(TARNELL_VERSION_TWEAK_OR_0 ${PROJECT_VERSION_TWEAK})
else()
  set(TARNELL_VERSION_TWEAK_OR_0 0)
endif()
configure_file(${TARNELL_RESOURCES_DIR}/tarnell.rc.in ${TARNELL_GENERATED_DIR}/tarnell.rc @ONLY)
configure_file(${TARNELL_RESOURCES_DIR}/tarnell.manifest ${TARNELL_GENERATED_DIR}/tarnell.manifest @ONLY)
set_source_files_properties(${TARNELL_GENERATED_DIR}/tarnell.rc PROPERTIES
  OBJECT_DEPENDS "${TARNELL_GENERATED_DIR}/logo.bmp;${TARNELL_GENERATED_DIR}/tarnell.ico;${TARNELL_GENERATED_DIR}/tarnell.manifest;${TARNELL_RESOURCES_DIR}/translate.txt")

enable_language(RC)
add_executable(tarnell WIN32 main.cpp ${TARNELL_GENERATED_DIR}/tarnell.rc)
target_link_libraries(tarnell PRIVATE tarnell_app_win32 tarnell_command_line_win32)
if(TARNELL_TEST_HOOKS)
  target_compile_definitions(tarnell PRIVATE TARNELL_TEST_HOOKS=1)
endif()
tarnell_common_options(tarnell)
tarnell_windows_executable(tarnell UNICODE_ENTRY)
if(NOT MSVC)
  # No link time in the PE header: the same sources build the same program.
  target_link_options(tarnell PRIVATE -Wl,--no-insert-timestamp)
  # Release packages: a build id (a CodeView record hashed from the contents) names the symbols kept beside
  # them. Only there: the record names no PDB, and Wine's dbghelp, which the crash report's stack walk uses,
  # fails on such a module, so the builds the tests run have none.
  if(TARNELL_BUILD_ID)
    target_link_options(tarnell PRIVATE -Wl,--build-id)
  endif()
endif()
# DLLs outside the KnownDLLs, loaded only after the entry point has limited the search to System32; and
# shell32 and ws2_32, which a plain start does not need before its window (the shell only for a command
# line, a link or a crash report's folder; Winsock only for the IP Helper's addresses).
include(DelayImports)
tarnell_delay_load(tarnell winhttp iphlpapi gdiplus comctl32 oleacc shell32 ws2_32)
set_target_properties(tarnell PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
