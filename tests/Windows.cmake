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

# The setup program run as a user runs it, with Wine's spooler driving nimmon9x.dll through our
# 9x front; a stand-in rundll32.exe records the wizard's command. Its windows are real.
add_executable(rundll32_stand_in WIN32 tests/setup/rundll32_stand_in.cpp)
target_compile_options(rundll32_stand_in PRIVATE ${NIMBREL_WARNINGS})
target_link_libraries(rundll32_stand_in PRIVATE ${NIMBREL_STATIC_RUNTIME})
set_target_properties(rundll32_stand_in PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
nimbrel_add_wine_test(setup_tests
    SOURCES tests/setup/setup_program_test.cpp
            tests/setup/setup_resources_test.cpp
            tests/support/dialog_watch.cpp
            tests/support/screenshot.cpp
            tests/support/spooler_install.cpp
    LIBS winspool user32 advapi32 version
    ARGS $<TARGET_FILE:nimsetup> $<TARGET_FILE:nimmon9x> $<TARGET_FILE:nim9xfront>
         $<TARGET_FILE:rundll32_stand_in>
    DISPLAY)
add_dependencies(setup_tests nimsetup nimmon9x nim9xfront rundll32_stand_in)

# Each deliverable imports only Windows' own libraries.
foreach(dll nimmonnt nimmon9x nimuninst nimsetup)
    add_test(NAME imports.${dll}
             COMMAND ${PROJECT_SOURCE_DIR}/tests/tools/check-imports ${CMAKE_OBJDUMP}
                     $<TARGET_FILE:${dll}>)
endforeach()

# The printer query and the status thread of each build against the loopback printers: the
# scripted fake printer, ippeveprinter and tinyproxy.
set(STATUS_TEST_SOURCES
    tests/win/main.cpp
    tests/support/fake_spooler.cpp
    tests/support/virtual_clock.cpp
    tests/support/peer_client.cpp
    tests/win/query_printer_test.cpp
    tests/win/status_thread_test.cpp
)
nimbrel_add_wine_test(status_nt_tests SOURCES ${STATUS_TEST_SOURCES} LIBS nimmonnt_core
    PEERS --fake --ippeve --proxy)
nimbrel_add_wine_test(status_9x_tests SOURCES ${STATUS_TEST_SOURCES} LIBS nimmon9x_core
    PEERS --fake --ippeve --proxy)

# The port dialog as a person uses it, on an X display of the test's own: nimmonnt through
# Wine's spooler (AddPortW, ConfigurePortW, DeletePortW), nimmon9x through our Windows 95/98
# host. A second thread types, clicks and answers message boxes; the registry is checked after.
set(PORT_UI_TEST_SOURCES
    tests/ui/port_ui_test.cpp
    tests/support/ui_user.cpp
    tests/support/port_registry.cpp
    tests/support/peer_client.cpp
    tests/support/screenshot.cpp
    tests/support/spooler_install.cpp
)
nimbrel_add_wine_test(port_ui_nt_tests
    SOURCES ${PORT_UI_TEST_SOURCES}
    LIBS winspool user32 advapi32 ws2_32
    ARGS $<TARGET_FILE:nimmonnt>
    PEERS --fake --ippeve
    DISPLAY)
target_compile_definitions(port_ui_nt_tests PRIVATE WIN32_LEAN_AND_MEAN)
add_dependencies(port_ui_nt_tests nimmonnt)
nimbrel_add_wine_test(port_ui_9x_tests
    SOURCES ${PORT_UI_TEST_SOURCES}
    LIBS monitor9x_host user32 advapi32 ws2_32
    ARGS $<TARGET_FILE:nimmon9x>
    PEERS --fake --ippeve
    DISPLAY)
add_dependencies(port_ui_9x_tests nimmon9x)

# Ports and print jobs of each build: EnumPorts over the registry, and the job flow from
# StartDocPort to EndDocPort against the scripted fake printer.
set(JOB_TEST_SOURCES
    tests/win/main.cpp
    tests/support/fake_spooler.cpp
    tests/support/virtual_clock.cpp
    tests/support/peer_client.cpp
    tests/win/port_enum_test.cpp
    tests/win/job_flow_test.cpp
    tests/win/job_stream_test.cpp
)
nimbrel_add_wine_test(jobs_nt_tests SOURCES ${JOB_TEST_SOURCES} LIBS nimmonnt_core PEERS --fake)
nimbrel_add_wine_test(jobs_9x_tests SOURCES ${JOB_TEST_SOURCES} LIBS nimmon9x_core PEERS --fake)

# The port dialog, message routine, help hook and AddPort inside each build: the program links
# the build's library and its .rc, and is itself the monitor's module.
set(PORT_DIALOG_TEST_SOURCES
    tests/ui/port_dialog_test.cpp
    tests/support/ui_user.cpp
    tests/support/port_registry.cpp
    tests/support/virtual_clock.cpp
)
nimbrel_add_wine_test(port_dialog_nt_tests
    SOURCES ${PORT_DIALOG_TEST_SOURCES} ${MONITOR_NT_RESOURCES}
    LIBS nimmonnt_core
    DISPLAY)
nimbrel_add_wine_test(port_dialog_9x_tests
    SOURCES ${PORT_DIALOG_TEST_SOURCES} ${MONITOR_9X_RESOURCES}
    LIBS nimmon9x_core
    DISPLAY)

# Printing for real: nimmonnt through Wine's spooler and nimmon9x through our Windows 95/98 host,
# to ippeveprinter (directly and through tinyproxy) and to the fake printer answering HTTP/1.0.
nimbrel_add_wine_test(print_e2e_tests
    SOURCES tests/spooler/print_e2e_test.cpp
            tests/support/spooler_install.cpp
            tests/support/peer_client.cpp
            tests/support/port_registry.cpp
    LIBS monitor9x_host winspool advapi32 ws2_32
    ARGS $<TARGET_FILE:nimmonnt> $<TARGET_FILE:nimmon9x>
    PEERS --ippeve --fake --proxy)
add_dependencies(print_e2e_tests nimmonnt nimmon9x)

# wine-run reports a program that crashes as failed.
add_executable(crash_probe tests/win/crash_probe.cpp)
target_link_libraries(crash_probe PRIVATE ${NIMBREL_STATIC_RUNTIME})
set_target_properties(crash_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_test(NAME wine-run.reports-a-crash
         COMMAND ${PROJECT_SOURCE_DIR}/tests/tools/wine-run $<TARGET_FILE:crash_probe>)
set_tests_properties(wine-run.reports-a-crash PROPERTIES WILL_FAIL TRUE)

# Eight ports of each build printing at once with their status threads polling, while their
# registry entries are deleted and written again (white-box, real time).
set(LOAD_TEST_SOURCES
    tests/win/main.cpp
    tests/support/fake_spooler.cpp
    tests/support/peer_client.cpp
    tests/win/port_load_test.cpp
)
nimbrel_add_wine_test(load_nt_tests SOURCES ${LOAD_TEST_SOURCES} LIBS nimmonnt_core PEERS --fake)
nimbrel_add_wine_test(load_9x_tests SOURCES ${LOAD_TEST_SOURCES} LIBS nimmon9x_core PEERS --fake)

# A long run of jobs through Wine's spooler into the fake printer (nimmonnt), with the program's
# descriptors and memory measured from outside by tests/tools/watch-resources: they must stay flat.
add_executable(soak_tests tests/spooler/soak_test.cpp tests/support/spooler_install.cpp
                          tests/support/peer_client.cpp tests/support/port_registry.cpp)
target_include_directories(soak_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(soak_tests PRIVATE WIN32_LEAN_AND_MEAN)
target_compile_options(soak_tests PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${NIMBREL_WARNINGS}>")
target_link_libraries(soak_tests PRIVATE winspool advapi32 ws2_32 gtest ${NIMBREL_STATIC_RUNTIME})
set_target_properties(soak_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_dependencies(soak_tests nimmonnt)
set(NIMBREL_SOAK_JOBS 1000 CACHE STRING "Jobs of the spooler soak test")
set(NIMBREL_SOAK_SPOOL_FILE_JOBS 100 CACHE STRING "How many of them go from the spool file")
add_test(NAME wine.soak_tests
         COMMAND ${PROJECT_SOURCE_DIR}/tests/tools/with-peers --fake --
                 ${PROJECT_SOURCE_DIR}/tests/tools/watch-resources soak_tests.exe --
                 ${PROJECT_SOURCE_DIR}/tests/tools/wine-run $<TARGET_FILE:soak_tests>
                 $<TARGET_FILE:nimmonnt> ${NIMBREL_SOAK_JOBS} ${NIMBREL_SOAK_SPOOL_FILE_JOBS})
set_tests_properties(wine.soak_tests PROPERTIES TIMEOUT 600)

# A job against hazards of each build: links and files planted under the spool file's name,
# registry values that try to add header lines or do not fit, printers that break off or stall,
# a TEMP that takes no file, settings removed under a running job.
set(JOB_HAZARD_TEST_SOURCES
    tests/win/main.cpp
    tests/support/fake_spooler.cpp
    tests/support/virtual_clock.cpp
    tests/support/peer_client.cpp
    tests/win/job_hazards_test.cpp
)
nimbrel_add_wine_test(job_hazards_nt_tests SOURCES ${JOB_HAZARD_TEST_SOURCES}
    LIBS nimmonnt_core PEERS --fake)
nimbrel_add_wine_test(job_hazards_9x_tests SOURCES ${JOB_HAZARD_TEST_SOURCES}
    LIBS nimmon9x_core PEERS --fake)
