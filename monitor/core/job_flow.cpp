// StartDocPort, WritePort and EndDocPort, and the pieces of the transfer they share.
#include "monitor/core/job_flow.h"

#include "monitor/core/clock.h"
#include "monitor/core/handles.h"
#include "monitor/core/job_list.h"
#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_entries.h"
#include "monitor/core/port_settings.h"
#include "monitor/core/spooler_services.h"
#include "monitor/core/text.h"
#include "monitor/ipp/ipp_request.h"
#include "monitor/ipp/port_status.h"
#include "monitor/ipp/query_printer.h"
#include "monitor/ipp/status_map.h"
#include "monitor/transport/connection.h"
#include "monitor/transport/http_request.h"
#include "monitor/transport/printer_uri.h"

#include <string.h>

namespace {

const char STATE_IDLE[] = "Idle";
const char STATE_PROCESSING[] = "Processing";

void AppendHex(TCHAR* out, size_t outChars, DWORD value) {
    TCHAR digits[9];
    int n = 0;
    do {
        DWORD digit = value & 0xF;
        digits[n++] = static_cast<TCHAR>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value >>= 4;
    } while (value != 0);
    size_t used = BoundedLength(out, outChars);
    for (int i = n - 1; i >= 0 && used + 1 < outChars; --i) {
        out[used++] = digits[i];
    }
    out[used] = 0;
}

// Tells the spooler what to do with the job, when the printer was opened.
void ControlJob(PortContext* port, DWORD command) {
    if (port->printerHandle != nullptr) {
        Spooler()->setJob(port->printerHandle, port->currentJobId, 0, nullptr, command);
    }
}

void CloseJobConnection(JobContext* job) {
    LastErrorGuard keep;
    CloseConnection(job->socket);
    job->socket = INVALID_SOCKET;
}

// The common end of a failed StartDocPort.
BOOL FailStartDoc(PortContext* port, DWORD error, BOOL removeJob) {
    {
        LastErrorGuard keep;
        if (removeJob) {
            JobListRemove(port, port->currentJobId);
        }
        ClosePrinterStep(port);
        PortClearFlags(port, PORT_FLAG_DOC_ACTIVE);
    }
    SetLastError(error);
    return FALSE;
}

// Opens the printer the document is for. A null name (Wine's spooler passes none) or one too
// long for the record is not opened: the job goes on without a printer handle.
BOOL OpenJobPrinter(PortContext* port, LPTSTR printerName) {
    port->printerHandle = nullptr;
    if (printerName == nullptr ||
        BoundedLength(printerName, PRINTER_NAME_CHARS) >= PRINTER_NAME_CHARS) {
        return TRUE;
    }
    PRINTER_DEFAULTS defaults;
    defaults.pDatatype = nullptr;
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = PRINTER_READ;
    HANDLE printer = nullptr;
#ifdef NIMBREL_9X
    if (!Spooler()->openPrinter(printerName, &printer, &defaults)) {
        return FALSE;
    }
    CopyText(port->printerName, PRINTER_NAME_CHARS, printerName);
#else
    CopyText(port->printerName, PRINTER_NAME_CHARS, printerName);
    if (!Spooler()->openPrinter(printerName, &printer, &defaults)) {
        printer = nullptr;
    }
#endif
    port->printerHandle = printer;
    return TRUE;
}

// Waits while the printer is "Processing". Returns 0 when it is idle, else the failure code;
// the port status is shown either way.
DWORD WaitForIdlePrinter(PortContext* port, JobContext* job) {
    PrinterWords* words = static_cast<PrinterWords*>(MonitorAlloc(sizeof(PrinterWords)));
    if (words == nullptr) {
        return ERROR_OUTOFMEMORY;
    }
    struct Free {
        PrinterWords* p;
        ~Free() { MonitorFree(p); }
    } freeWords{words};

    const DWORD start = ClockNowSeconds();
    for (;;) {
        memset(words, 0, sizeof *words);
        LONG httpStatus = 0;
        LONG ippStatus = 0;
        if (QueryPrinter(job, &httpStatus, words, &ippStatus, port) != 1) {
            return ERROR_NETWORK_UNREACHABLE;
        }
        DWORD error = 0;
        if (strcmp(words->stateWord, STATE_IDLE) == 0) {
            SetPortStatus(
                port, MapPrinterStatus(httpStatus, words->stateWord, words->reasonWord, &error));
            return 0;
        }
        if (strcmp(words->stateWord, STATE_PROCESSING) == 0) {
            ClockSleep(STATE_POLL_MS);
            if (ClockNowSeconds() - start < STATE_WAIT_LIMIT_SECONDS) {
                continue;
            }
            return ERROR_NOT_READY;
        }
        DWORD status = MapPrinterStatus(httpStatus, words->stateWord, words->reasonWord, &error);
        SetPortStatus(port, status);
        return error != 0 ? error : ERROR_NOT_READY;
    }
}

// Whether this WritePort looks for an early answer: on the first piece of the document, and
// then once per EARLY_REPLY_LOOK_BYTES of it. Under Wine every look is a round trip to the
// wineserver, like the send itself: a look after each 4096-byte piece halved the rate of a job.
BOOL EarlyReplyLookDue(const JobContext* job, DWORD count) {
    ULONGLONG intoStretch = job->bytesWritten % EARLY_REPLY_LOOK_BYTES;
    return job->bytesWritten == 0 || intoStretch + count >= EARLY_REPLY_LOOK_BYTES;
}

// Whether the handle is a plain file that has this one name: not a directory, not a link of any
// kind, and no second name another user could open or delete it by.
BOOL IsPlainSingleFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        return FALSE;
    }
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return (info.dwFileAttributes & notPlain) == 0 && info.nNumberOfLinks == 1;
}

// The spool file has a name anyone can predict, in a folder other users may write to, and the
// spooler runs privileged. So it is never opened as found: whatever has the name is removed (a
// link itself, never what it points to) and a new file is made that must not exist yet and whose
// name is not followed if it is a link. A name planted again in between makes the job fail
// rather than write through it. While the job holds the file nobody else may write to it, delete
// or rename it; the document is read back through this same handle, never by name.
#ifdef NIMBREL_9X
// Windows 95/98 file systems have no links to follow, and their CreateFile does not know the flag.
const DWORD SPOOL_FILE_OPEN_FLAGS = 0;
#else
const DWORD SPOOL_FILE_OPEN_FLAGS = FILE_FLAG_OPEN_REPARSE_POINT;
#endif

DWORD OpenSpoolFile(JobContext* job) {
    if (!FormatSpoolFileName(job->spoolFileName, SPOOL_FILE_CHARS, job->jobId)) {
        return ERROR_OPEN_FAILED;
    }
    DeleteFile(job->spoolFileName); // a file left by an earlier job of the same id, or a plant
    HANDLE file =
        CreateFile(job->spoolFileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL | SPOOL_FILE_OPEN_FLAGS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        job->spoolFileName[0] = 0; // not ours: never deleted on the job's behalf
        return ERROR_OPEN_FAILED;
    }
    if (!IsPlainSingleFile(file)) {
        CloseHandle(file);
        job->spoolFileName[0] = 0;
        return ERROR_OPEN_FAILED;
    }
    job->spoolFile = file;
    return 0;
}

DWORD StartStreaming(PortContext* port, JobContext* job) {
    char host[HOST_BYTES] = "";
    LONG targetPort = 0;
    job->socket = PrepareConnection(job, host, sizeof host, &targetPort, &job->request, port);
    if (job->socket == INVALID_SOCKET) {
        return ERROR_OPEN_FAILED;
    }
    DWORD error = 0;
    if (!ConnectToHost(job->socket, host, targetPort)) {
        error = ERROR_NETWORK_UNREACHABLE;
    } else {
        BYTE head[JOB_REQUEST_HEAD_BYTES];
        size_t length =
            BuildJobRequestHead(head, sizeof head, job, host, sizeof host, &targetPort, TRUE);
        if (length == 0 || SendAll(job->socket, reinterpret_cast<const char*>(head),
                                   static_cast<int>(length), port) == -1) {
            error = ERROR_NETWORK_UNREACHABLE;
        }
    }
    if (error != 0) {
        CloseJobConnection(job);
    }
    return error;
}

} // namespace

BOOL FormatSpoolFileName(TCHAR* out, size_t outChars, DWORD jobId) {
    TCHAR temp[TEMP_DIR_CHARS];
    DWORD length = GetEnvironmentVariable(TEXT("TEMP"), temp, TEMP_DIR_CHARS);
    if (length >= TEMP_DIR_CHARS) {
        return FALSE; // too long to hold: no spool file rather than one in a cut path
    }
    if (length == 0) {
        temp[0] = 0; // unset: the root of the current drive
    }
    if (!CopyText(out, outChars, temp) ||
        !CopyText(out + BoundedLength(out, outChars), outChars - BoundedLength(out, outChars),
                  TEXT("\\ipp0x"))) {
        return FALSE;
    }
    AppendHex(out, outChars, jobId);
    size_t used = BoundedLength(out, outChars);
    return CopyText(out + used, outChars - used, TEXT(".prn"));
}

void ReleaseJobResources(JobContext* job) {
    LastErrorGuard keep;
    CloseJobConnection(job);
    if (job->spoolFile != nullptr) {
        CloseHandle(job->spoolFile);
        job->spoolFile = nullptr;
    }
    if (job->spoolFileName[0] != 0) {
        DeleteFile(job->spoolFileName);
        job->spoolFileName[0] = 0;
    }
}

size_t BuildJobRequestHead(BYTE* out, size_t outBytes, JobContext* job, char* host,
                           size_t hostBytes, LONG* port, BOOL streaming) {
    InitPostRequest(job, host, hostBytes, port, FALSE);

    BYTE ipp[PRINT_JOB_REQUEST_BYTES];
    size_t ippBytes = BuildPrintJobRequest(job->jobId, job, ipp, sizeof ipp);
    if (ippBytes == 0) {
        return 0;
    }
    if (streaming) {
        CopyText(job->request.contentLength, sizeof job->request.contentLength, "chunked");
    } else {
        FormatText(job->request.contentLength, sizeof job->request.contentLength, "%lu",
                   static_cast<unsigned long>(job->bytesWritten + ippBytes));
    }

    char head[JOB_REQUEST_HEAD_BYTES];
    int headBytes = FormatRequestHead(&job->request, head, sizeof head);
    if (headBytes < 0) {
        return 0;
    }
    char sizeLine[16] = "";
    char endLine[3] = "";
    if (streaming) {
        FormatText(sizeLine, sizeof sizeLine, "%lx\r\n", static_cast<unsigned long>(ippBytes));
        CopyText(endLine, sizeof endLine, "\r\n");
    }
    size_t sizeBytes = strlen(sizeLine);
    size_t endBytes = strlen(endLine);
    size_t total = static_cast<size_t>(headBytes) + sizeBytes + ippBytes + endBytes;
    if (total > outBytes) {
        return 0;
    }
    BYTE* at = out;
    memcpy(at, head, static_cast<size_t>(headBytes));
    at += headBytes;
    memcpy(at, sizeLine, sizeBytes);
    at += sizeBytes;
    memcpy(at, ipp, ippBytes);
    at += ippBytes;
    memcpy(at, endLine, endBytes);
    return total;
}

BOOL SendChunks(SOCKET s, const BYTE* data, DWORD count, const PortContext* port) {
    // The spooler hands over 4096-byte pieces: their framing fits a buffer on the stack, which
    // spares a heap allocation per piece. Only larger pieces get a heap buffer of their own.
    BYTE local[SEND_CHUNKS_STACK_BYTES];
    size_t room = ChunkFramingBytes(count);
    BYTE* framed = local;
    if (room > sizeof local) {
        framed = static_cast<BYTE*>(MonitorAlloc(room));
        if (framed == nullptr) {
            SetLastError(ERROR_OUTOFMEMORY);
            return FALSE;
        }
    }
    size_t length = FrameChunks(data, count, framed, room);
    int sent = SendAll(s, reinterpret_cast<const char*>(framed), static_cast<int>(length), port);
    int reason = WSAGetLastError();
    if (framed != local) {
        MonitorFree(framed);
    }
    if (sent == -1) {
        SetLastError(static_cast<DWORD>(reason));
        return FALSE;
    }
    return TRUE;
}

BOOL FinishStreamedJob(JobContext* job, const PortContext* port, DWORD* error) {
    if (SendAll(job->socket, LAST_CHUNK, LAST_CHUNK_BYTES, port) == -1) {
        *error = static_cast<DWORD>(WSAGetLastError());
        return FALSE;
    }
    LONG ippStatus = 0;
    int reply = 100;
    for (int interim = 0; reply == 100 && interim <= MAX_INTERIM_REPLIES; ++interim) {
        reply = ReadHttpReply(job->socket, &ippStatus, FINAL_REPLY_TIMEOUT_MS);
    }
    if (reply != 200) {
        *error = ERROR_CONNECTION_UNAVAIL;
        return FALSE;
    }
    *error = IppStatusToError(ippStatus);
    return *error == 0;
}

BOOL SendSpoolFile(JobContext* job, PortContext* port) {
    char host[HOST_BYTES] = "";
    LONG targetPort = 0;
    job->socket = PrepareConnection(job, host, sizeof host, &targetPort, &job->request, port);
    if (job->socket == INVALID_SOCKET) {
        SetLastError(ERROR_OPEN_FAILED);
        return FALSE;
    }
    if (!ConnectToHost(job->socket, host, targetPort)) {
        SetLastError(static_cast<DWORD>(WSAGetLastError()));
        return FALSE;
    }
    {
        BYTE head[JOB_REQUEST_HEAD_BYTES];
        size_t length =
            BuildJobRequestHead(head, sizeof head, job, host, sizeof host, &targetPort, FALSE);
        if (length == 0) {
            SetLastError(ERROR_OPEN_FAILED);
            return FALSE;
        }
        if (SendAll(job->socket, reinterpret_cast<const char*>(head), static_cast<int>(length),
                    port) == -1) {
            SetLastError(static_cast<DWORD>(WSAGetLastError()));
            return FALSE;
        }
    }
    // The document is read back through the handle it was written through: whatever another
    // user may have done to the name meanwhile, only the job's own bytes go to the printer.
    HANDLE file = job->spoolFile;
    if (file == nullptr ||
        SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        SetLastError(ERROR_OPEN_FAILED);
        return FALSE;
    }
    auto* buffer = static_cast<BYTE*>(MonitorAlloc(SPOOL_READ_BYTES));
    if (buffer == nullptr) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    struct Free {
        BYTE* p;
        ~Free() { MonitorFree(p); }
    } freeBuffer{buffer};

    DWORD error = 0;
    BOOL result = FALSE;
    int interim = 0;
    DWORD sent = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer, SPOOL_READ_BYTES, &read, nullptr)) {
            error = ERROR_READ_FAULT;
            break;
        }
        if (SendAll(job->socket, reinterpret_cast<const char*>(buffer), static_cast<int>(read),
                    port) == -1) {
            error = static_cast<DWORD>(WSAGetLastError());
            break;
        }
        sent += read;
        if (read > 0 && WaitReadable(job->socket, EARLY_REPLY_LOOK_MS) <= 0) {
            continue;
        }
        // The end of the file, or the printer has answered while data remains.
        LONG ippStatus = 0;
        int reply = ReadHttpReply(job->socket, &ippStatus,
                                  read > 0 ? EARLY_REPLY_TIMEOUT_MS : FINAL_REPLY_TIMEOUT_MS);
        if (reply == 100 && interim++ < MAX_INTERIM_REPLIES) {
            // Go on sending; after the whole file an interim reply is not the printer's verdict,
            // so the final reply is read next.
            continue;
        }
        if (reply == 200) {
            error = IppStatusToError(ippStatus);
            // A verdict given before the printer had the whole document cannot be that it
            // printed it: the rest is not sent, and the job does not pass as printed.
            if (error == 0 && sent < job->bytesWritten) {
                error = ERROR_WRITE_FAULT;
            }
            result = error == 0;
        } else {
            error = ERROR_CONNECTION_UNAVAIL;
        }
        break;
    }
    SetLastError(error);
    return result;
}

BOOL WINAPI StartDocPort(HANDLE handle, LPTSTR printerName, DWORD jobId, DWORD, LPBYTE docInfo) {
    auto* port = static_cast<PortContext*>(handle);
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (PortFlags(port) & PORT_FLAG_DOC_ACTIVE) {
#ifdef NIMBREL_9X
        SetLastError(ERROR_BUSY);
        return FALSE;
#else
        return TRUE;
#endif
    }
    PortSetFlags(port, PORT_FLAG_DOC_ACTIVE);
    LoadPortSettings(port->portName, port);

    if (!OpenJobPrinter(port, printerName)) {
        PortClearFlags(port, PORT_FLAG_DOC_ACTIVE); // the spooler's own error stays
        return FALSE;
    }
    port->currentJobId = jobId;
    JobContext* job = JobListAdd(port, jobId);
    if (job == nullptr) {
        return FailStartDoc(port, ERROR_OUTOFMEMORY, FALSE);
    }
    job->spoolFile = nullptr;
    job->bytesWritten = 0;
    const DOC_INFO_1* info = reinterpret_cast<const DOC_INFO_1*>(docInfo);
    CopyText(job->documentName, DOCUMENT_NAME_CHARS, info != nullptr ? info->pDocName : nullptr);

    if (job->documentName[0] == 0) {
        // A document without a name is dropped: nothing reaches the printer, and EndDocPort
        // cancels the spooler's job.
        JobListRemove(port, jobId);
        SetLastError(0);
        return TRUE;
    }

    if (port->useProxy != 0) {
        FormatProxyUrl(job->proxyUrl, sizeof job->proxyUrl, port->proxyServer, port->proxyPort);
    } else {
        job->proxyUrl[0] = '\0';
    }
    PrepareIppRequest(job, port);

    DWORD error = WaitForIdlePrinter(port, job);
    if (error != 0) {
        return FailStartDoc(port, error, TRUE);
    }
    SetLastError(0);

    error = job->chunked ? StartStreaming(port, job) : OpenSpoolFile(job);
    if (error != 0) {
        return FailStartDoc(port, error, TRUE);
    }
    SetLastError(0);
    return TRUE;
}

BOOL WINAPI WritePort(HANDLE handle, LPBYTE buffer, DWORD count, LPDWORD written) {
    auto* port = static_cast<PortContext*>(handle);
    if (port == nullptr || written == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
#ifndef NIMBREL_9X
    *written = 0;
#endif
    JobContext* job = JobListFind(port, port->currentJobId);
    if (job == nullptr) {
        SetLastError(0);
        return TRUE;
    }

    BOOL ok;
    if (job->chunked) {
        BOOL lookDue = EarlyReplyLookDue(job, count);
        ok = SendChunks(job->socket, buffer, count, port);
        // Has the printer said something already? Only an interim reply lets the upload go on;
        // it cannot make up for data that did not go out.
        if (ok && lookDue && WaitReadable(job->socket, EARLY_REPLY_LOOK_MS) > 0) {
            LONG ippStatus = 0;
            ok = ReadHttpReply(job->socket, &ippStatus, EARLY_REPLY_TIMEOUT_MS) == 100;
        }
    } else {
        DWORD done = 0;
        ok = WriteFile(job->spoolFile, buffer, count, &done, nullptr) && done == count;
    }

    if (ok) {
        *written = count;
        job->bytesWritten += count;
        SetLastError(0);
        return TRUE;
    }

    // The document cannot reach the printer: give up this attempt and let the spooler restart
    // the job. The document state stays until EndDocPort.
    ReleaseJobResources(job);
    ControlJob(port, JOB_CONTROL_RESTART);
    ClosePrinterStep(port);
    JobListRemove(port, port->currentJobId);
    ClockSleep(WRITE_FAILURE_PAUSE_MS);
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
}

BOOL WINAPI EndDocPort(HANDLE handle) {
    auto* port = static_cast<PortContext*>(handle);
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    JobContext* job = JobListFind(port, port->currentJobId);
    if (job == nullptr) {
        ControlJob(port, JOB_CONTROL_CANCEL);
        ClosePrinterStep(port);
        PortClearFlags(port, PORT_FLAG_DOC_ACTIVE);
        SetLastError(0);
        return TRUE;
    }

    BOOL ok = TRUE;
    DWORD error = 0;
    BOOL keepLastError = FALSE;
    if (job->chunked) {
        ok = FinishStreamedJob(job, port, &error);
        CloseJobConnection(job);
    } else {
        if (job->bytesWritten == 0) {
            // Nothing to send; the empty spool file stays, and the last error is not changed.
            keepLastError = TRUE;
        } else {
            ok = SendSpoolFile(job, port);
            error = GetLastError();
        }
        LastErrorGuard keep;
        if (job->spoolFile != nullptr) {
            CloseHandle(job->spoolFile);
            job->spoolFile = nullptr;
        }
        if (job->bytesWritten != 0) {
            DeleteFile(job->spoolFileName);
            job->spoolFileName[0] = 0;
            CloseJobConnection(job);
        }
    }

    // Every way out tells the spooler the job is done with, and closes the printer.
    job->bytesWritten = 0;
    {
        LastErrorGuard keep;
        ControlJob(port, JOB_CONTROL_CANCEL);
        ClosePrinterStep(port);
        JobListRemove(port, port->currentJobId);
        PortClearFlags(port, PORT_FLAG_DOC_ACTIVE);
    }
    if (!keepLastError) {
        SetLastError(error);
    }
    return ok;
}
