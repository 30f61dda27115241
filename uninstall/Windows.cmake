# nimuninst.dll: the uninstall port-in-use check. It reads the registry itself and links nothing
# of the monitor.
add_library(nimuninst SHARED ${UNINSTALL_SOURCES} uninstall/nimuninst.def)
target_include_directories(nimuninst PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(nimuninst PRIVATE ${NIMBREL_WARNINGS})
target_compile_definitions(nimuninst PRIVATE WIN32_LEAN_AND_MEAN)
target_link_libraries(nimuninst PRIVATE advapi32 user32 ${NIMBREL_STATIC_RUNTIME})
set_target_properties(nimuninst PROPERTIES PREFIX "" OUTPUT_NAME nimuninst
                      RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
