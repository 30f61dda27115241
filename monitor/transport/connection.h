// The TCP connection of one transaction: where it goes (printer or proxy), connecting with
// retries, sending everything, receiving with time-outs. A connection is never reused.
#pragma once

#include "monitor/core/records.h"

// Receive and send time-out set on every socket.
#define SOCKET_TIMEOUT_MS 300000
// Connect retries: a refused attempt adds 1, a timed-out one 20; at this count the caller gives up.
#define CONNECT_RETRY_LIMIT 18
#define CONNECT_TIMEOUT_RETRY_WEIGHT 20
#define CONNECT_RETRY_PAUSE_MS 10000

// Chooses the target (the printer, or the port's proxy) and the request-URI (written into head),
// then makes and configures the socket. Returns the socket, or INVALID_SOCKET.
SOCKET PrepareConnection(JobContext* job, char* host, size_t hostBytes, LONG* port,
                         HttpRequestHead* head, const PortContext* portRecord);

// Resolves and connects, retrying. FALSE on failure: ERROR_CONNECTION_UNAVAIL when the name is
// not found, else WSAGetLastError tells the reason of the last attempt.
BOOL ConnectToHost(SOCKET s, const char* host, LONG port);

// Sends the whole buffer. Returns the bytes sent, or -1. A send that times out while the status
// thread knows the printer answers (printerReachable) goes on with the remaining bytes: no byte
// of a document is ever dropped.
int SendAll(SOCKET s, const char* data, int length, const PortContext* portRecord);

// One receive after waiting for readability; 0 for time-out, closed connection or error.
int ReceiveWithTimeout(SOCKET s, char* buffer, int size, DWORD timeoutMs);

// 1 when data is waiting, 0 on time-out, -1 on error.
int WaitReadable(SOCKET s, DWORD timeoutMs);

void CloseConnection(SOCKET s);

// Reads one HTTP reply from the socket (see ReadHttpReplyFrom).
int ReadHttpReply(SOCKET s, LONG* ippStatus, DWORD timeoutMs);
