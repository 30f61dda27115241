// OpenPort and ClosePort: the port record the spooler holds between them, and the hand-over
// with the port's status thread.
#include "monitor/core/handles.h"
#include "monitor/core/job_flow.h"
#include "monitor/core/job_list.h"
#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_entries.h"
#include "monitor/core/port_open.h"
#include "monitor/core/port_settings.h"
#include "monitor/core/clock.h"
#include "monitor/core/text.h"
#include "monitor/ipp/port_status.h"

namespace {

// Stack of the status thread, as committed at its start.
const DWORD STATUS_THREAD_STACK_BYTES = 16384;
// How often ClosePort looks whether the status thread has ended: soon after the signal (an idle
// thread ends within a few milliseconds), then less and less often, at last every 500 ms (a
// query under way runs to its end first). Looking every 500 ms from the start made each close
// last half a second: 250 s for a spooler closing 500 ports.
const DWORD CLOSE_FIRST_POLL_MS = 1;
const DWORD CLOSE_POLL_MS = 500;

StatusThreadCreator g_createThread = CreateThread;

StatusThreadCreator ThreadCreator() {
    return __atomic_load_n(&g_createThread, __ATOMIC_ACQUIRE);
}

// Starts the port's status thread. When the event or the thread cannot be made the port works
// without one: wakeEvent stays null, so ClosePort does not wait for a thread that never ran.
void StartStatusThread(PortContext* port) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        return;
    }
    StoreSharedHandle(&port->wakeEvent, event);
    DWORD threadId = 0;
    HANDLE thread =
        ThreadCreator()(nullptr, STATUS_THREAD_STACK_BYTES, StatusThread, port, 0, &threadId);
    if (thread == nullptr) {
        StoreSharedHandle(&port->wakeEvent, nullptr);
        CloseHandle(event);
        return;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    CloseHandle(thread); // never joined: the wake event is the hand-over
}

} // namespace

StatusThreadCreator StatusThreadCreatorInstall(StatusThreadCreator creator) {
    return __atomic_exchange_n(&g_createThread, creator ? creator : CreateThread, __ATOMIC_ACQ_REL);
}

BOOL WINAPI OpenPort(LPTSTR portName, PHANDLE handle) {
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* port = static_cast<PortContext*>(MonitorAlloc(sizeof(PortContext)));
    if (port == nullptr) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    if (!LoadPortSettings(portName, port)) {
        // No readable entry yet: keep the name, so the status thread finds the settings once
        // they are stored and the spooler's status calls name the right port.
        CopyText(port->portName, PORT_NAME_CHARS, portName);
    }
    port->printerHandle = nullptr;
    port->flags = PORT_FLAG_OPEN;
    *handle = port;
    StartStatusThread(port);
    return TRUE;
}

BOOL WINAPI ClosePort(HANDLE handle) {
    auto* port = static_cast<PortContext*>(handle);
    if (port == nullptr) {
        return TRUE;
    }
    SetPortStatus(port, 0);
    ClosePrinterStep(port);

    // A handle of our own on the thread's event: the thread may release its handle the moment it
    // sees the port closed, and signalling through a released handle could hit another object.
    UniqueEvent wake;
    {
        MonitorLockGuard lock;
        HANDLE event = LoadSharedHandle(&port->wakeEvent);
        if (event != nullptr) {
            DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), wake.put(), 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
        }
    }
    PortClearFlags(port, PORT_FLAG_DOC_ACTIVE | PORT_FLAG_OPEN);
    if (wake) {
        SetEvent(wake.get());
    }
    // The thread's last act is clearing wakeEvent; a query under way runs to its end first.
    for (DWORD pause = CLOSE_FIRST_POLL_MS; LoadSharedHandle(&port->wakeEvent) != nullptr;) {
        ClockSleep(pause);
        pause = pause * 2 < CLOSE_POLL_MS ? pause * 2 : CLOSE_POLL_MS;
    }

    // Documents that no EndDocPort finished: their connections and files are released here.
    for (JobContext* job = port->jobs; job != nullptr; job = job->next) {
        ReleaseJobResources(job);
    }
    JobListFreeAll(port);
    MonitorFree(port);
    return TRUE;
}
