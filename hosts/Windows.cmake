# Stand-ins for platform pieces that Wine lacks, and tools that drive the monitor the way the
# platform would. Not part of any deliverable.

# The Windows 95/98 spooler's side of a monitor: loads nimmon9x.dll and calls its table.
add_library(monitor9x_host STATIC hosts/win9x/monitor9x_host.cpp)
target_include_directories(monitor9x_host PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(monitor9x_host PRIVATE ${NIMBREL_WARNINGS})
target_compile_definitions(monitor9x_host PUBLIC NIMBREL_9X WIN32_LEAN_AND_MEAN)
target_link_libraries(monitor9x_host PUBLIC winspool ws2_32 user32)

# nimprint: installs the monitor, a port and a printer in Wine's spooler and prints a file.
add_executable(nimprint hosts/print/nimprint.cpp tests/support/spooler_install.cpp)
target_link_libraries(nimprint PRIVATE nimmonnt_core ${NIMBREL_STATIC_RUNTIME})
set_target_properties(nimprint PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_dependencies(nimprint nimmonnt)

# The product uninstaller's side of nimuninst.dll, and a small program around it.
add_library(uninstaller_host STATIC hosts/uninstaller/uninstaller_host.cpp)
target_include_directories(uninstaller_host PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(uninstaller_host PRIVATE ${NIMBREL_WARNINGS})
add_executable(nimuninst-host hosts/uninstaller/uninstaller_main.cpp)
target_compile_options(nimuninst-host PRIVATE ${NIMBREL_WARNINGS} -municode)
target_link_libraries(nimuninst-host PRIVATE uninstaller_host -municode ${NIMBREL_STATIC_RUNTIME})
set_target_properties(nimuninst-host PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# nim9xfront.dll: the NT-style front that lets Wine's spooler load nimmon9x.dll (Wine loads only
# NT-style monitors). Registered as the monitor's driver in tests of the setup program.
add_library(nim9xfront SHARED hosts/win9x/nim9xfront.cpp hosts/win9x/nim9xfront.def)
target_compile_options(nim9xfront PRIVATE ${NIMBREL_WARNINGS})
target_link_libraries(nim9xfront PRIVATE monitor9x_host ${NIMBREL_STATIC_RUNTIME})
set_target_properties(nim9xfront PROPERTIES PREFIX "" OUTPUT_NAME nim9xfront
                      RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
