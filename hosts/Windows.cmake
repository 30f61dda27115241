# Stand-ins for platform pieces that Wine lacks. Not part of any deliverable.

# The Windows 95/98 spooler's side of a monitor: loads nimmon9x.dll and calls its table.
add_library(monitor9x_host STATIC hosts/win9x/monitor9x_host.cpp)
target_include_directories(monitor9x_host PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(monitor9x_host PRIVATE ${NIMBREL_WARNINGS})
target_compile_definitions(monitor9x_host PUBLIC NIMBREL_9X WIN32_LEAN_AND_MEAN)
target_link_libraries(monitor9x_host PUBLIC winspool ws2_32 user32)
