#include "monitor/ipp/query_printer.h"

#include "monitor/core/handles.h"
#include "monitor/ipp/ipp_request.h"
#include "monitor/transport/connection.h"

namespace {
struct SocketSource {
    SOCKET s;
};

int ReceiveFromSocket(void* context, char* buffer, int size, DWORD timeoutMs) {
    return ReceiveWithTimeout(static_cast<SocketSource*>(context)->s, buffer, size, timeoutMs);
}

struct ConnectionCloser {
    SOCKET s;
    ~ConnectionCloser() {
        LastErrorGuard keep;
        CloseConnection(s);
    }
};
} // namespace

int QueryPrinter(JobContext* request, LONG* httpStatus, PrinterWords* words, LONG* ippStatus,
                 const PortContext* port) {
    *httpStatus = 0;
    *ippStatus = 0;

    char host[HOST_BYTES] = "";
    LONG targetPort = 0;
    SOCKET s = PrepareConnection(request, host, sizeof host, &targetPort, &request->request, port);
    if (s == INVALID_SOCKET) {
        return 0;
    }
    ConnectionCloser closer{s};
    if (!ConnectToHost(s, host, targetPort)) {
        return 0;
    }

    BYTE query[STATUS_QUERY_BYTES];
    size_t length = BuildStatusQuery(query, sizeof query, request, host, sizeof host, &targetPort);
    if (length == 0 ||
        SendAll(s, reinterpret_cast<const char*>(query), static_cast<int>(length), port) == -1) {
        return 0;
    }

    SocketSource context{s};
    ReplySource source{ReceiveFromSocket, &context};
    return ReadPrinterReply(&source, QUERY_RECEIVE_TIMEOUT_MS, port->useProxy != 0, httpStatus,
                            words, ippStatus, &request->chunked);
}
