#include "monitor/core/job_list.h"

#include "monitor/core/monitor_globals.h"
#include "monitor/core/spooler_services.h"

JobContext* JobListAdd(PortContext* port, DWORD jobId) {
    MonitorLockGuard lock;
    auto* job = static_cast<JobContext*>(MonitorAlloc(sizeof(JobContext)));
    if (job == nullptr) {
        return nullptr;
    }
    job->jobId = jobId;
    job->next = nullptr;
    job->socket = INVALID_SOCKET;
    job->spoolFile = nullptr;
    JobContext** tail = &port->jobs;
    while (*tail != nullptr) {
        tail = &(*tail)->next;
    }
    *tail = job;
    return job;
}

JobContext* JobListFind(PortContext* port, DWORD jobId) {
    MonitorLockGuard lock;
    for (JobContext* job = port->jobs; job != nullptr; job = job->next) {
        if (job->jobId == jobId) {
            return job;
        }
    }
    return nullptr;
}

void JobListRemove(PortContext* port, DWORD jobId) {
    MonitorLockGuard lock;
    for (JobContext** link = &port->jobs; *link != nullptr; link = &(*link)->next) {
        if ((*link)->jobId == jobId) {
            JobContext* job = *link;
            *link = job->next;
            MonitorFree(job);
            return;
        }
    }
}

void JobListFreeAll(PortContext* port) {
    MonitorLockGuard lock;
    JobContext* job = port->jobs;
    port->jobs = nullptr;
    while (job != nullptr) {
        JobContext* next = job->next;
        MonitorFree(job);
        job = next;
    }
}

void ClosePrinterStep(PortContext* port) {
    if (port->printerHandle == nullptr) {
        return;
    }
#ifdef NIMBREL_9X
    Spooler()->setPrinterA(port->printerHandle, 0, nullptr, PRINTER_CONTROL_SET_STATUS);
#endif
    Spooler()->closePrinter(port->printerHandle);
    port->printerHandle = nullptr;
}
