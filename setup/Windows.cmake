# nimsetup.exe: the port setup program for Windows 95/98 (narrow interfaces). Its small
# application frame (setup/app_frame) stands where a class library would.
add_executable(nimsetup WIN32 ${SETUP_SOURCES})
target_include_directories(nimsetup PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(nimsetup PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${NIMBREL_WARNINGS}>")
target_compile_definitions(nimsetup PRIVATE WIN32_LEAN_AND_MEAN)
target_link_libraries(nimsetup PRIVATE winspool advapi32 user32 ${NIMBREL_STATIC_RUNTIME})
set_target_properties(nimsetup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
# The resource script is UTF-8: its Spanish texts carry accents.
set_source_files_properties(setup/nimsetup.rc PROPERTIES
                            COMPILE_OPTIONS "--codepage=65001"
                            OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/setup/resource.h")
