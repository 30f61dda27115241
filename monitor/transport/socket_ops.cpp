#include "monitor/transport/socket_ops.h"

namespace {

SOCKET WSAAPI RealSocket(int family, int type, int protocol) {
    return ::socket(family, type, protocol);
}
int WSAAPI RealSetsockopt(SOCKET s, int level, int name, const char* value, int length) {
    return ::setsockopt(s, level, name, value, length);
}
int WSAAPI RealConnect(SOCKET s, const sockaddr* address, int length) {
    return ::connect(s, address, length);
}
int WSAAPI RealSend(SOCKET s, const char* data, int length, int flags) {
    return ::send(s, data, length, flags);
}
int WSAAPI RealRecv(SOCKET s, char* buffer, int length, int flags) {
    return ::recv(s, buffer, length, flags);
}
int WSAAPI RealClosesocket(SOCKET s) {
    return ::closesocket(s);
}
unsigned long WSAAPI RealInetAddr(const char* text) {
    return ::inet_addr(text);
}
hostent* WSAAPI RealGethostbyname(const char* name) {
    return ::gethostbyname(name);
}
int WSAAPI RealWsaGetLastError(void) {
    return ::WSAGetLastError();
}

const SocketOps kRealSockets = {RealSocket,   RealSetsockopt,    RealConnect,
                                RealSend,     RealRecv,          RealClosesocket,
                                RealInetAddr, RealGethostbyname, RealWsaGetLastError};

const SocketOps* g_sockets = &kRealSockets;

} // namespace

const SocketOps* Sockets(void) {
    return __atomic_load_n(&g_sockets, __ATOMIC_ACQUIRE);
}

const SocketOps* SocketsInstall(const SocketOps* ops) {
    return __atomic_exchange_n(&g_sockets, ops ? ops : &kRealSockets, __ATOMIC_ACQ_REL);
}
