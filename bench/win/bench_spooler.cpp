// A document printed through Wine's spooler and the monitor DLL it loads, timed in its two
// phases: spooling (StartDocPrinter and WritePrinter, which only fill the spooler's job file)
// and EndDocPrinter, during which the spooler drives the monitor (OpenPort, StartDocPort,
// WritePort in 4096-byte pieces, EndDocPort, ClosePort) and the printer takes the document.
#include "bench/win/bench_spooler.h"

#include "bench/win/bench_common.h"
#include "tests/support/spooler_install.h"

#include <winspool.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

const wchar_t PRINTER_NAME[] = L"Nimbrel Bench Printer";
const DWORD WRITE_PRINTER_BYTES = 65536;

} // namespace

int SpoolerSetup(const char* dll, const char* uri) {
    std::wstring dllName = CopyIntoSystemDirectory(dll);
    if (dllName.empty() ||
        (!RegisterMonitor(dllName) && GetLastError() != ERROR_PRINT_MONITOR_ALREADY_INSTALLED)) {
        fprintf(stderr, "nimbench: cannot install the monitor, error %lu\n", GetLastError());
        return 1;
    }
    if (!StorePort(uri, 0)) {
        fprintf(stderr, "nimbench: cannot store the port\n");
        return 1;
    }
    std::wstring portName = WideOf(uri);
    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<LPWSTR>(PRINTER_NAME);
    info.pPortName = &portName[0];
    info.pPrintProcessor = const_cast<LPWSTR>(L"winprint");
    info.pDatatype = const_cast<LPWSTR>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr) {
        fprintf(stderr, "nimbench: AddPrinter failed, error %lu\n", GetLastError());
        return 1;
    }
    ClosePrinter(printer);
    return 0;
}

int SpoolerPrint(const char* path, const char* serverStat, const char* printerStat) {
    HANDLE input = CreateFileW(WindowsPathOf(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "nimbench: cannot read %s\n", path);
        return 1;
    }
    std::vector<char> piece(WRITE_PRINTER_BYTES);
    // CPU seconds of this process (the spooler's client side, the spooler and the monitor run in
    // it under Wine), of the wineserver and of the printer, at each phase boundary.
    struct Cpu {
        double process, server, printer;
    };
    auto cpu = [&] {
        return Cpu{Figures().cpuSeconds, LinuxCpuSeconds(serverStat), LinuxCpuSeconds(printerStat)};
    };
    Cpu c0 = cpu();
    double t0 = Now();
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(PRINTER_NAME), &printer, nullptr)) {
        fprintf(stderr, "nimbench: OpenPrinter failed, error %lu\n", GetLastError());
        CloseHandle(input);
        return 1;
    }
    DOC_INFO_1W doc{};
    doc.pDocName = const_cast<LPWSTR>(L"nimbrel-bench.ps");
    doc.pDatatype = const_cast<LPWSTR>(L"RAW");
    if (StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&doc)) == 0) {
        fprintf(stderr, "nimbench: StartDocPrinter failed, error %lu\n", GetLastError());
        ClosePrinter(printer);
        CloseHandle(input);
        return 1;
    }
    double bytes = 0;
    bool written = true;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(input, piece.data(), WRITE_PRINTER_BYTES, &n, nullptr) || n == 0) {
            break;
        }
        DWORD done = 0;
        if (!WritePrinter(printer, piece.data(), n, &done) || done != n) {
            written = false;
            break;
        }
        bytes += n;
    }
    CloseHandle(input);
    double t1 = Now();
    Cpu c1 = cpu();
    BOOL ended = EndDocPrinter(printer);
    DWORD endError = GetLastError();
    double t2 = Now();
    Cpu c2 = cpu();
    ClosePrinter(printer);
    if (!written || !ended) {
        fprintf(stderr, "nimbench: the job failed (EndDocPrinter error %lu)\n", endError);
        return 1;
    }
    Report("bytes", bytes);
    Report("spool_s", t1 - t0);
    Report("enddoc_s", t2 - t1);
    Report("total_s", t2 - t0);
    Report("spool_cpu_process_s", c1.process - c0.process);
    Report("spool_cpu_server_s", c1.server - c0.server);
    Report("enddoc_cpu_process_s", c2.process - c1.process);
    Report("enddoc_cpu_server_s", c2.server - c1.server);
    Report("enddoc_cpu_printer_s", c2.printer - c1.printer);
    return 0;
}
