// Port records, settings and printer queries for the tests that talk to the loopback printers
// (the fake printer, ippeveprinter, tinyproxy) started by tests/tools/with-peers.
#pragma once

#include "monitor/core/monitor_globals.h"
#include "monitor/core/port_settings.h"
#include "monitor/core/text.h"
#include "monitor/ipp/ipp_request.h"
#include "monitor/ipp/query_printer.h"
#include "monitor/transport/printer_uri.h"
#include "tests/support/peer_client.h"

#include <gtest/gtest.h>

#include <string.h>
#include <memory>
#include <string>
#include <vector>

typedef std::basic_string<TCHAR> tstring;

// Winsock for the whole program: the monitor's initialisation starts it in a real spooler.
class WinsockEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 0), &data));
    }
    void TearDown() override { WSACleanup(); }
};

inline tstring TextOf(const std::string& narrow) {
    TCHAR text[PORT_NAME_CHARS];
    TextFromNarrow(text, PORT_NAME_CHARS, narrow.c_str());
    return tstring(text);
}

// The settings of a port named by its printer URI, as the port dialog stores them.
struct PortSetup {
    std::string uri;
    DWORD checkInTime = 1;
    DWORD useProxy = 0;
    std::string proxyServer;
    DWORD proxyPort = 0;
    // The PrinterURI value, when it is to differ from the port name.
    std::string printerUri;
};

// Fills a record the way LoadPortSettings does: names, URI, proxy, and host, port and path
// split from the name.
inline void FillPortRecord(PortContext* port, const PortSetup& setup) {
    TextFromNarrow(port->portName, PORT_NAME_CHARS, setup.uri.c_str());
    const std::string& printerUri = setup.printerUri.empty() ? setup.uri : setup.printerUri;
    CopyText(port->printerUri, sizeof port->printerUri, printerUri.c_str());
    port->checkInTime = setup.checkInTime;
    port->useProxy = setup.useProxy;
    CopyText(port->proxyServer, sizeof port->proxyServer, setup.proxyServer.c_str());
    port->proxyPort = setup.proxyPort;
    SplitPrinterUri(setup.uri.c_str(), port->host, sizeof port->host, &port->port, port->path,
                    sizeof port->path);
}

inline std::unique_ptr<PortContext> PortRecordFor(const PortSetup& setup) {
    std::unique_ptr<PortContext> port(new PortContext());
    FillPortRecord(port.get(), setup);
    return port;
}

// Writes the port's subkey, as AddPort and ConfigurePort do.
inline void SavePort(const PortSetup& setup) {
    std::unique_ptr<PortContext> port = PortRecordFor(setup);
    ASSERT_TRUE(SavePortSettings(port.get()));
}

// Everything one QueryPrinter call gives back.
struct QueryResult {
    int answered = -1;
    LONG httpStatus = -1;
    LONG ippStatus = -1;
    DWORD lastError = 0;
    DWORD chunked = 0;
    PrinterWords words;
};

// One status query as the status thread makes it: a fresh request record with the port's IPP
// values and proxy URL. `prefill` goes into the three words first (callers clear them; a
// marker shows what the query did not write); `chunked` is the flag's value before the query.
inline QueryResult QueryPort(const PortContext& port, DWORD requestId = 1, const char* prefill = "",
                             DWORD chunked = 0) {
    std::unique_ptr<JobContext> request(new JobContext());
    request->socket = INVALID_SOCKET;
    if (port.useProxy != 0) {
        FormatProxyUrl(request->proxyUrl, sizeof request->proxyUrl, port.proxyServer,
                       port.proxyPort);
    }
    PrepareIppRequest(request.get(), &port);
    request->jobId = requestId;
    request->chunked = chunked;

    QueryResult result;
    memset(&result.words, 0, sizeof result.words);
    CopyText(result.words.stateWord, PRINTER_WORD_BYTES, prefill);
    CopyText(result.words.reasonWord, PRINTER_WORD_BYTES, prefill);
    CopyText(result.words.makeAndModel, PRINTER_WORD_BYTES, prefill);
    SetLastError(0);
    result.answered =
        QueryPrinter(request.get(), &result.httpStatus, &result.words, &result.ippStatus, &port);
    result.lastError = GetLastError();
    result.chunked = request->chunked;
    return result;
}

// A TCP port of 127.0.0.1 on which nothing listens (bound once, then released).
inline int ClosedLoopbackPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = 0;
    int length = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    closesocket(s);
    return port;
}

// Bytes 4 to 7 of an IPP message: its request-id.
inline DWORD IppRequestId(const std::string& body) {
    if (body.size() < 8) {
        return 0;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(body.data());
    return (static_cast<DWORD>(b[4]) << 24) | (static_cast<DWORD>(b[5]) << 16) |
           (static_cast<DWORD>(b[6]) << 8) | static_cast<DWORD>(b[7]);
}

// One IPP attribute: tag, name-length, name, value-length, value.
inline std::string IppAttribute(char tag, const std::string& name, const std::string& value) {
    std::string out(1, tag);
    out += static_cast<char>(name.size() >> 8);
    out += static_cast<char>(name.size() & 0xFF);
    out += name;
    out += static_cast<char>(value.size() >> 8);
    out += static_cast<char>(value.size() & 0xFF);
    out += value;
    return out;
}

inline std::string HexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}
