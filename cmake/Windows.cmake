# The Windows build: both monitor DLLs from one set of sources, and the tests run under Wine.

set(NIMBREL_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # 32-bit: exports in the .def files are undecorated stdcall names.
    list(APPEND NIMBREL_STATIC_RUNTIME -Wl,--kill-at -Wl,--enable-stdcall-fixup)
endif()

# One monitor build: a static library (linked by the white-box tests) and the DLL.
#   name      nimmonnt or nimmon9x
#   narrow    ON for the Windows 95/98 build
function(nimbrel_add_monitor name narrow)
    add_library(${name}_core STATIC ${MONITOR_PLATFORM_FREE_SOURCES} ${MONITOR_WINDOWS_SOURCES})
    target_include_directories(${name}_core PUBLIC ${PROJECT_SOURCE_DIR})
    # C++ only: the resource compiler of the DLL and of test programs takes no such options.
    target_compile_options(${name}_core PUBLIC "$<$<COMPILE_LANGUAGE:CXX>:${NIMBREL_WARNINGS}>")
    target_compile_definitions(${name}_core PUBLIC WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
    if(narrow)
        target_compile_definitions(${name}_core PUBLIC NIMBREL_9X)
        set(sockets wsock32)
    else()
        target_compile_definitions(${name}_core PUBLIC UNICODE _UNICODE)
        set(sockets ws2_32)
    endif()
    target_link_libraries(${name}_core PUBLIC winspool ${sockets} user32 gdi32 advapi32)

    # The dialogs, picture and message table. White-box test programs that run the dialogs link
    # the same .rc into themselves.
    if(narrow)
        set(resources ${MONITOR_9X_RESOURCES})
    else()
        set(resources ${MONITOR_NT_RESOURCES})
    endif()

    add_library(${name} SHARED monitor/core/${name}.def ${resources})
    target_link_libraries(${name} PRIVATE -Wl,--whole-archive ${name}_core -Wl,--no-whole-archive
                          ${NIMBREL_STATIC_RUNTIME})
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
                          RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
endfunction()

# Resource scripts are UTF-8: their texts carry accents.
set_source_files_properties(${MONITOR_NT_RESOURCES} ${MONITOR_9X_RESOURCES}
                            PROPERTIES COMPILE_OPTIONS "--codepage=65001"
                            OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/monitor/ui/resource.h;${PROJECT_SOURCE_DIR}/monitor/ui/nimbrel.bmp")
nimbrel_add_monitor(nimmonnt OFF)
nimbrel_add_monitor(nimmon9x ON)

# The two companions of the monitors.
include(${PROJECT_SOURCE_DIR}/setup/Windows.cmake)
include(${PROJECT_SOURCE_DIR}/uninstall/Windows.cmake)

# The Windows side of the benchmarks (bench/), outside the test run.
if(NIMBREL_BENCH AND NOT NIMBREL_COMPILE_CHECK_ONLY)
    include(${PROJECT_SOURCE_DIR}/bench/Windows.cmake)
endif()

if(NIMBREL_COMPILE_CHECK_ONLY OR NOT NIMBREL_TESTS)
    return()
endif()

# GoogleTest, cross-compiled from the Debian sources.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -Wno-error)
# The win32 thread model has no std::mutex; gtest needs its Notification only for its own tests.
target_compile_options(gtest PUBLIC -include ${PROJECT_SOURCE_DIR}/tests/support/gtest_win32_notification.h)

enable_testing()

# A test program run under Wine, each run in a fresh prefix (tests/tools/wine-run); PEERS names
# the loopback peers it needs (tests/tools/with-peers: --fake, --ippeve, --proxy); DISPLAY runs
# it under an X display of its own (tests/tools/with-display).
function(nimbrel_add_wine_test name)
    cmake_parse_arguments(ARG "DISPLAY" "" "SOURCES;LIBS;ARGS;PEERS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${NIMBREL_WARNINGS}>")
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest ${NIMBREL_STATIC_RUNTIME})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
    set(command ${PROJECT_SOURCE_DIR}/tests/tools/wine-run $<TARGET_FILE:${name}> ${ARG_ARGS})
    if(ARG_PEERS)
        set(command ${PROJECT_SOURCE_DIR}/tests/tools/with-peers ${ARG_PEERS} -- ${command})
    endif()
    if(ARG_DISPLAY) # the program shows windows: give it an X display of its own
        set(command ${PROJECT_SOURCE_DIR}/tests/tools/with-display ${command})
    endif()
    add_test(NAME wine.${name} COMMAND ${command})
endfunction()

include(${PROJECT_SOURCE_DIR}/tests/Windows.cmake)
include(${PROJECT_SOURCE_DIR}/hosts/Windows.cmake)
