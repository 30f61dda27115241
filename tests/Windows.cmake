# Tests run under Wine. Each program is one CTest test (a Wine start costs about half a second).

# The platform-free tests, built for Windows as well.
nimbrel_add_wine_test(platform_free_tests
    SOURCES ${PLATFORM_FREE_TEST_SOURCES} tests/native/main.cpp
    LIBS nimmonnt_core)

# White-box tests of each monitor build, linked with its static library.
set(MONITOR_TEST_SOURCES
    tests/win/main.cpp
    tests/support/fake_spooler.cpp
    tests/support/virtual_clock.cpp
    tests/win/monitor_entry_test.cpp
    tests/win/job_list_test.cpp
    tests/win/clock_test.cpp
    tests/win/port_settings_test.cpp
    tests/win/connection_test.cpp
)
nimbrel_add_wine_test(monitor_nt_tests SOURCES ${MONITOR_TEST_SOURCES} LIBS nimmonnt_core)
nimbrel_add_wine_test(monitor_9x_tests SOURCES ${MONITOR_TEST_SOURCES} LIBS nimmon9x_core)

# The NT monitor inside Wine's own spooler.
nimbrel_add_wine_test(spooler_tests
    SOURCES tests/spooler/monitor_install_test.cpp
            tests/support/spooler_install.cpp
    LIBS winspool
    ARGS $<TARGET_FILE:nimmonnt>)
add_dependencies(spooler_tests nimmonnt)

# The 9x monitor inside our 9x host.
nimbrel_add_wine_test(host9x_tests
    SOURCES tests/spooler/host9x_test.cpp tests/support/spooler_install.cpp
    LIBS monitor9x_host
    ARGS $<TARGET_FILE:nimmon9x>)
add_dependencies(host9x_tests nimmon9x)

# The uninstall check: nimuninst.dll called by our uninstaller host against the NT monitor's
# ports and printers made by Wine's spooler. Its message boxes are real windows.
nimbrel_add_wine_test(uninstall_tests
    SOURCES tests/uninstall/uninstall_check_test.cpp
            tests/support/dialog_watch.cpp
            tests/support/screenshot.cpp
            tests/support/spooler_install.cpp
    LIBS uninstaller_host winspool user32 advapi32
    ARGS $<TARGET_FILE:nimuninst> $<TARGET_FILE:nimmonnt>
    DISPLAY)
add_dependencies(uninstall_tests nimuninst nimmonnt)

# Each DLL imports only Windows' own libraries.
foreach(dll nimmonnt nimmon9x nimuninst)
    add_test(NAME imports.${dll}
             COMMAND ${PROJECT_SOURCE_DIR}/tests/tools/check-imports ${CMAKE_OBJDUMP}
                     $<TARGET_FILE:${dll}>)
endforeach()
