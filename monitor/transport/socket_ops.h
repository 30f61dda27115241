// The Windows Sockets calls of the transport, behind one table so that tests can inject connect
// results (refused, time-out, host down or unreachable) and send failures.
#pragma once

#include "monitor/core/portable.h"

struct SocketOps {
    SOCKET(WSAAPI* socket)(int family, int type, int protocol);
    int(WSAAPI* setsockopt)(SOCKET s, int level, int name, const char* value, int length);
    int(WSAAPI* connect)(SOCKET s, const sockaddr* address, int length);
    int(WSAAPI* send)(SOCKET s, const char* data, int length, int flags);
    int(WSAAPI* recv)(SOCKET s, char* buffer, int length, int flags);
    int(WSAAPI* closesocket)(SOCKET s);
    unsigned long(WSAAPI* inet_addr)(const char* text);
    hostent*(WSAAPI* gethostbyname)(const char* name);
    int(WSAAPI* WSAGetLastError)(void);
};

const SocketOps* Sockets(void);
// Installs ops (nullptr: Windows Sockets itself) and returns the ones in force before.
const SocketOps* SocketsInstall(const SocketOps* ops);
