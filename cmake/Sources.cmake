# Source lists, shared by the Windows and the native build. One section per folder.

# Code that calls no Windows API: built into the monitors and, natively, into tests and fuzzers.
set(MONITOR_PLATFORM_FREE_SOURCES
    # monitor/core
    monitor/core/text.cpp
    monitor/core/port_info_pack.cpp
    # monitor/transport
    monitor/transport/printer_uri.cpp
    monitor/transport/http_request.cpp
    monitor/transport/http_reply.cpp
    # monitor/ipp
    monitor/ipp/ipp_request.cpp
    monitor/ipp/ipp_reply.cpp
    monitor/ipp/status_map.cpp
)

# Everything else of the monitor DLLs.
set(MONITOR_WINDOWS_SOURCES
    # monitor/core
    monitor/core/clock.cpp
    monitor/core/spooler_services.cpp
    monitor/core/monitor_globals.cpp
    monitor/core/job_list.cpp
    monitor/core/port_settings.cpp
    monitor/core/monitor_entry.cpp
    monitor/core/port_open.cpp
    monitor/core/port_enum.cpp
    monitor/core/job_flow.cpp
    # monitor/transport
    monitor/transport/socket_ops.cpp
    monitor/transport/connection.cpp
    # monitor/ipp
    monitor/ipp/prepare_request.cpp
    monitor/ipp/query_printer.cpp
    monitor/ipp/port_status.cpp
    # monitor/ui
    monitor/ui/message_box.cpp
    monitor/ui/help_hook.cpp
    monitor/ui/connecting_box.cpp
    monitor/ui/port_dialog.cpp
    monitor/ui/port_manage.cpp
)

# The dialogs, pictures and message table of each monitor build (UTF-8 sources).
set(MONITOR_NT_RESOURCES monitor/ui/nimmonnt.rc)
set(MONITOR_9X_RESOURCES monitor/ui/nimmon9x.rc)

# Tests of the platform-free code: run natively under the sanitizers and under Wine.
set(PLATFORM_FREE_TEST_SOURCES
    # monitor/core
    tests/native/text_test.cpp
    tests/native/port_info_pack_test.cpp
    # monitor/transport
    tests/native/printer_uri_test.cpp
    tests/native/http_request_test.cpp
    tests/native/http_reply_test.cpp
    # monitor/ipp
    tests/native/ipp_request_test.cpp
    tests/native/ipp_reply_test.cpp
    tests/native/status_map_test.cpp
)

# setup/: nimsetup.exe, the port setup program (Windows 95/98, narrow interfaces).
set(SETUP_SOURCES
    setup/app_frame.cpp
    setup/setup_application.cpp
    setup/nimsetup.rc
)

# uninstall/: nimuninst.dll, the uninstall port-in-use check.
set(UNINSTALL_SOURCES
    uninstall/uninstall_check.cpp
)

set(NIMBREL_WARNINGS -Wall -Wextra -Werror)
