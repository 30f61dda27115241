#include "monitor/transport/connection.h"

#include "monitor/core/clock.h"
#include "monitor/core/text.h"
#include "monitor/transport/http_reply.h"
#include "monitor/transport/printer_uri.h"
#include "monitor/transport/socket_ops.h"

#include <string.h>

SOCKET PrepareConnection(JobContext* job, char* host, size_t hostBytes, LONG* port,
                         HttpRequestHead* head, const PortContext* portRecord) {
    if (portRecord->useProxy == 0) {
        SplitPrinterUri(job->ippPrinterUri, host, hostBytes, port, head->requestUri,
                        sizeof head->requestUri);
    } else {
        // The proxy is the target; the request line names the printer in absolute form.
        char unusedPath[HTTP_REQUEST_URI_BYTES];
        SplitPrinterUri(job->proxyUrl, host, hostBytes, port, unusedPath, sizeof unusedPath);
        FormatAbsoluteRequestUri(head->requestUri, sizeof head->requestUri, portRecord->host,
                                 portRecord->port, portRecord->path);
    }

    const SocketOps* ops = Sockets();
    SOCKET s = ops->socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        return INVALID_SOCKET;
    }
    DWORD timeout = ClockSocketTimeoutMs(SOCKET_TIMEOUT_MS);
    ops->setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                    sizeof timeout);
    ops->setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
                    sizeof timeout);
    return s;
}

BOOL ConnectToHost(SOCKET s, const char* host, LONG port) {
    const SocketOps* ops = Sockets();
    unsigned long address = ops->inet_addr(host);
    if (address == INADDR_NONE) {
        hostent* entry = ops->gethostbyname(host);
        if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr ||
            entry->h_length != sizeof address) {
            SetLastError(ERROR_CONNECTION_UNAVAIL);
            return FALSE;
        }
        memcpy(&address, entry->h_addr_list[0], sizeof address);
    }

    sockaddr_in target;
    memset(&target, 0, sizeof target);
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    target.sin_addr.s_addr = address;

    // A printer that refuses is tried 19 times, 10 s apart; after a connect time-out one more
    // attempt follows at once; an unreachable or down host is given up at once.
    for (int retries = 0;;) {
        if (ops->connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
            return TRUE;
        }
        if (retries >= CONNECT_RETRY_LIMIT) {
            return FALSE;
        }
        int reason = ops->WSAGetLastError();
        if (reason == WSAEHOSTDOWN || reason == WSAEHOSTUNREACH) {
            return FALSE;
        }
        if (reason == WSAETIMEDOUT) {
            retries += CONNECT_TIMEOUT_RETRY_WEIGHT;
            continue;
        }
        ClockSleep(CONNECT_RETRY_PAUSE_MS);
        retries += 1;
    }
}

int SendAll(SOCKET s, const char* data, int length, const PortContext* portRecord) {
    const SocketOps* ops = Sockets();
    int total = 0;
    while (total < length) {
        int sent = ops->send(s, data + total, length - total, 0);
        if (sent > 0) {
            total += sent;
            continue;
        }
        if (sent == 0) {
            // A blocking send that moves nothing would make this loop endless.
            WSASetLastError(WSAECONNABORTED);
            return -1;
        }
        int reason = ops->WSAGetLastError();
        if (reason == WSAETIMEDOUT && portRecord != nullptr &&
            LoadShared(&portRecord->printerReachable) != 0) {
            continue; // the printer answers its status queries: it is slow, not gone
        }
        // Keep the reason for callers that report the socket error.
        WSASetLastError(reason);
        return -1;
    }
    return total;
}

int ReceiveWithTimeout(SOCKET s, char* buffer, int size, DWORD timeoutMs) {
    if (ClockWaitReadable(s, timeoutMs) <= 0) {
        return 0;
    }
    int received = Sockets()->recv(s, buffer, size, 0);
    return received < 0 ? 0 : received;
}

int WaitReadable(SOCKET s, DWORD timeoutMs) {
    return ClockWaitReadable(s, timeoutMs);
}

void CloseConnection(SOCKET s) {
    if (s != INVALID_SOCKET) {
        Sockets()->closesocket(s);
    }
}

namespace {
struct SocketSource {
    SOCKET s;
};

int ReceiveFromSocket(void* context, char* buffer, int size, DWORD timeoutMs) {
    return ReceiveWithTimeout(static_cast<SocketSource*>(context)->s, buffer, size, timeoutMs);
}
} // namespace

int ReadHttpReply(SOCKET s, LONG* ippStatus, DWORD timeoutMs) {
    SocketSource context{s};
    ReplySource source{ReceiveFromSocket, &context};
    return ReadHttpReplyFrom(&source, ippStatus, timeoutMs);
}
