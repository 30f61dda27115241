// nimprint: prints one file through Wine's spooler and the Nimbrel monitor, as a Windows program
// would, after installing the monitor, a port and a printer the way an administrator would.
//
//   nimprint MONITOR.dll PRINTER-URI FILE [--proxy HOST:PORT]
//
// Prints progress for large files and ends with the job's outcome and the port status. Exit
// status: 0 printed, 1 the job failed, 2 bad arguments or set-up failure.
#include "monitor/core/port_settings.h"
#include "monitor/core/records.h"
#include "monitor/core/text.h"
#include "monitor/ipp/ipp_request.h"
#include "monitor/ipp/query_printer.h"
#include "monitor/ipp/status_map.h"
#include "monitor/transport/printer_uri.h"
#include "tests/support/spooler_install.h"

#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const wchar_t PRINTER_NAME[] = L"Nimbrel IPP Printer";
const DWORD PIECE_BYTES = 65536;

const char* StatusName(DWORD status) {
    switch (status) {
    case 0:
        return "ready";
    case PORT_STATUS_OFFLINE:
        return "offline";
    case PORT_STATUS_PAPER_JAM:
        return "paper jam";
    case PORT_STATUS_PAPER_OUT:
        return "paper out";
    case PORT_STATUS_NO_TONER:
        return "no toner";
    case PORT_STATUS_DOOR_OPEN:
        return "door open";
    case PORT_STATUS_TONER_LOW:
        return "toner low";
    default:
        return "unknown";
    }
}

std::wstring Wide(const char* text) {
    wchar_t buffer[2048];
    MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, 2048);
    buffer[2047] = 0;
    return buffer;
}

bool StorePort(const char* uri, const char* proxy) {
    PortContext port{};
    CopyText(port.portName, PORT_NAME_CHARS, Wide(uri).c_str());
    CopyText(port.printerUri, sizeof port.printerUri, uri);
    if (proxy != nullptr) {
        const char* colon = strrchr(proxy, ':');
        if (colon == nullptr) {
            return false;
        }
        CopyTextN(port.proxyServer, sizeof port.proxyServer, proxy,
                  static_cast<size_t>(colon - proxy));
        port.proxyPort = static_cast<DWORD>(atoi(colon + 1));
        port.useProxy = 1;
    }
    port.checkInTime = 1;
    return SavePortSettings(&port) != FALSE;
}

bool AddPrinterOn(const std::wstring& portName) {
    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<LPWSTR>(PRINTER_NAME);
    info.pPortName = const_cast<LPWSTR>(portName.c_str());
    info.pPrintProcessor = const_cast<LPWSTR>(L"winprint");
    info.pDatatype = const_cast<LPWSTR>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr) {
        fprintf(stderr, "nimprint: AddPrinter failed, error %lu\n", GetLastError());
        return false;
    }
    ClosePrinter(printer);
    return true;
}

// The status the monitor would show for the port now.
void ShowPortStatus(const char* uri) {
    PortContext port{};
    if (!LoadPortSettings(Wide(uri).c_str(), &port)) {
        printf("port status: unknown (settings not readable)\n");
        return;
    }
    JobContext request{};
    request.socket = INVALID_SOCKET;
    if (port.useProxy) {
        FormatProxyUrl(request.proxyUrl, sizeof request.proxyUrl, port.proxyServer, port.proxyPort);
    }
    PrepareIppRequest(&request, &port);
    request.jobId = 1;
    PrinterWords words{};
    LONG httpStatus = 0, ippStatus = 0;
    QueryPrinter(&request, &httpStatus, &words, &ippStatus, &port);
    DWORD error = 0;
    DWORD status = MapPrinterStatus(httpStatus, words.stateWord, words.reasonWord, &error);
    printf("port status: %s (printer state \"%s\", reason \"%s\", model \"%s\")\n",
           StatusName(status), words.stateWord, words.reasonWord, words.makeAndModel);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: nimprint MONITOR.dll PRINTER-URI FILE [--proxy HOST:PORT]\n");
        return 2;
    }
    const char* dll = argv[1];
    const char* uri = argv[2];
    const char* file = argv[3];
    const char* proxy = (argc >= 6 && strcmp(argv[4], "--proxy") == 0) ? argv[5] : nullptr;
    setvbuf(stdout, nullptr, _IONBF, 0);

    std::wstring dllName = CopyIntoSystemDirectory(dll);
    if (dllName.empty() ||
        (!RegisterMonitor(dllName) && GetLastError() != ERROR_PRINT_MONITOR_ALREADY_INSTALLED)) {
        fprintf(stderr, "nimprint: cannot install the monitor, error %lu\n", GetLastError());
        return 2;
    }
    if (!StorePort(uri, proxy)) {
        fprintf(stderr, "nimprint: cannot store the port\n");
        return 2;
    }
    std::wstring portName = Wide(uri);
    if (!AddPrinterOn(portName)) {
        return 2;
    }
    printf("monitor \"ORVIK IPP Port\" installed; port %s; printer \"%ls\"\n", uri, PRINTER_NAME);

    HANDLE input = CreateFileW(WindowsPathOf(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "nimprint: cannot read %s\n", file);
        return 2;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(input, &size);

    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(PRINTER_NAME), &printer, nullptr)) {
        fprintf(stderr, "nimprint: OpenPrinter failed, error %lu\n", GetLastError());
        CloseHandle(input);
        return 2;
    }
    const char* base = strrchr(file, '/');
    std::wstring docName = Wide(base ? base + 1 : file);
    DOC_INFO_1W doc{};
    doc.pDocName = const_cast<LPWSTR>(docName.c_str());
    doc.pDatatype = const_cast<LPWSTR>(L"RAW");
    DWORD jobId = StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&doc));
    if (jobId == 0) {
        fprintf(stderr, "nimprint: StartDocPrinter failed, error %lu\n", GetLastError());
        ClosePrinter(printer);
        CloseHandle(input);
        return 1;
    }

    std::vector<char> piece(PIECE_BYTES);
    LONGLONG sent = 0;
    int shownPercent = -1;
    bool written = true;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(input, piece.data(), PIECE_BYTES, &n, nullptr) || n == 0) {
            break;
        }
        DWORD done = 0;
        if (!WritePrinter(printer, piece.data(), n, &done) || done != n) {
            fprintf(stderr, "nimprint: WritePrinter failed, error %lu\n", GetLastError());
            written = false;
            break;
        }
        sent += n;
        if (size.QuadPart > 4 * 1024 * 1024) {
            int percent = static_cast<int>(sent * 100 / size.QuadPart);
            if (percent / 10 != shownPercent / 10) {
                printf("spooled %d%% (%lld of %lld bytes)\n", percent, sent,
                       static_cast<long long>(size.QuadPart));
                shownPercent = percent;
            }
        }
    }
    CloseHandle(input);
    printf("spooled %lld bytes as job %lu; the monitor sends them now\n", sent, jobId);

    SetLastError(0);
    BOOL ended = EndDocPrinter(printer);
    DWORD endError = GetLastError();
    ClosePrinter(printer);

    bool ok = written && ended;
    if (ok) {
        printf("job outcome: printed (%lld bytes sent to %s)\n", sent, uri);
    } else {
        printf("job outcome: FAILED (EndDocPrinter %s, error %lu)\n",
               ended ? "succeeded" : "failed", endError);
    }
    ShowPortStatus(uri);
    return ok ? 0 : 1;
}
