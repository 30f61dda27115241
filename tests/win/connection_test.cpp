// The connection of one transaction: target and request-URI, connect retries in virtual time,
// sending and receiving. Connect results and send failures are injected through the socket
// seam; the rest runs on real loopback sockets.
#include "monitor/core/text.h"
#include "monitor/transport/connection.h"
#include "monitor/transport/socket_ops.h"
#include "tests/support/virtual_clock.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

namespace {

// --- Injected socket calls --------------------------------------------------------------------

struct FakeNet {
    std::vector<int> connectResults; // 0 success, else the WSA error of that attempt
    size_t connects = 0;
    std::vector<sockaddr_in> connectTargets;
    int lastError = 0;
    std::vector<std::pair<int, DWORD>> options; // (option, value)
    std::vector<int> sendResults;               // per call: >0 bytes sent, <0 -error
    size_t sends = 0;
    std::string sent;
    int resolverCalls = 0;
    hostent answer{};
    char* addressList[3]{};
    in_addr addresses[2]{};
};
FakeNet* g_net = nullptr;

SOCKET WSAAPI FakeSocket(int, int, int) {
    return static_cast<SOCKET>(777);
}
int WSAAPI FakeSetsockopt(SOCKET, int, int name, const char* value, int) {
    DWORD v;
    memcpy(&v, value, sizeof v);
    g_net->options.emplace_back(name, v);
    return 0;
}
int WSAAPI FakeConnect(SOCKET, const sockaddr* address, int) {
    g_net->connectTargets.push_back(*reinterpret_cast<const sockaddr_in*>(address));
    size_t i = g_net->connects++;
    int result =
        i < g_net->connectResults.size() ? g_net->connectResults[i] : g_net->connectResults.back();
    g_net->lastError = result;
    return result == 0 ? 0 : SOCKET_ERROR;
}
int WSAAPI FakeSend(SOCKET, const char* data, int length, int) {
    size_t i = g_net->sends++;
    int result = i < g_net->sendResults.size() ? g_net->sendResults[i] : length;
    if (result < 0) {
        g_net->lastError = -result;
        return SOCKET_ERROR;
    }
    if (result > length) {
        result = length;
    }
    g_net->sent.append(data, static_cast<size_t>(result));
    return result;
}
int WSAAPI FakeRecv(SOCKET, char*, int, int) {
    return 0;
}
int WSAAPI FakeClose(SOCKET) {
    return 0;
}
unsigned long WSAAPI FakeInetAddr(const char* text) {
    return inet_addr(text);
}
hostent* WSAAPI FakeResolve(const char* name) {
    ++g_net->resolverCalls;
    if (strcmp(name, "lp1") != 0) {
        return nullptr;
    }
    g_net->addresses[0].s_addr = inet_addr("10.9.8.7");
    g_net->addresses[1].s_addr = inet_addr("10.9.8.6");
    g_net->addressList[0] = reinterpret_cast<char*>(&g_net->addresses[0]);
    g_net->addressList[1] = reinterpret_cast<char*>(&g_net->addresses[1]);
    g_net->answer.h_addrtype = AF_INET;
    g_net->answer.h_length = 4;
    g_net->answer.h_addr_list = g_net->addressList;
    return &g_net->answer;
}
int WSAAPI FakeLastError() {
    return g_net->lastError;
}

const SocketOps kFakeOps = {FakeSocket, FakeSetsockopt, FakeConnect, FakeSend,     FakeRecv,
                            FakeClose,  FakeInetAddr,   FakeResolve, FakeLastError};

class FakeNetTest : public testing::Test {
  protected:
    void SetUp() override {
        g_net = &net_;
        SocketsInstall(&kFakeOps);
    }
    void TearDown() override {
        SocketsInstall(nullptr);
        g_net = nullptr;
    }
    FakeNet net_;
    VirtualClockScope clock_;
};

PortContext PrinterPort(const char* uri, BOOL useProxy) {
    PortContext port{};
    CopyText(port.printerUri, sizeof port.printerUri, uri);
    CopyText(port.host, sizeof port.host, "lp1");
    port.port = 631;
    CopyText(port.path, sizeof port.path, "/ipp");
    port.useProxy = useProxy;
    return port;
}

} // namespace

TEST_F(FakeNetTest, DirectConnectionTargetsThePrinterWithItsPath) {
    PortContext port = PrinterPort("ipp://lp1:8000/ipp/port1", FALSE);
    JobContext job{};
    CopyText(job.ippPrinterUri, sizeof job.ippPrinterUri, port.printerUri);
    char host[HOST_BYTES] = "";
    LONG target = 0;
    SOCKET s = PrepareConnection(&job, host, sizeof host, &target, &job.request, &port);
    EXPECT_EQ(static_cast<SOCKET>(777), s);
    EXPECT_STREQ("lp1", host);
    EXPECT_EQ(8000, target);
    EXPECT_STREQ("/ipp/port1", job.request.requestUri);
    // Receive, then send time-out, both five minutes.
    ASSERT_EQ(2u, net_.options.size());
    EXPECT_EQ(SO_RCVTIMEO, net_.options[0].first);
    EXPECT_EQ(SO_SNDTIMEO, net_.options[1].first);
}

TEST_F(FakeNetTest, ProxyConnectionTargetsTheProxyWithTheAbsoluteUri) {
    PortContext port = PrinterPort("ipp://lp1/ipp", TRUE);
    JobContext job{};
    CopyText(job.ippPrinterUri, sizeof job.ippPrinterUri, port.printerUri);
    CopyText(job.proxyUrl, sizeof job.proxyUrl, "http://lp9:8080/");
    char host[HOST_BYTES] = "";
    LONG target = 0;
    PrepareConnection(&job, host, sizeof host, &target, &job.request, &port);
    EXPECT_STREQ("lp9", host);
    EXPECT_EQ(8080, target);
    EXPECT_STREQ("http://lp1:631/ipp", job.request.requestUri);
}

TEST(SocketTimeouts, AreFiveMinutesOnTheRealClock) {
    FakeNet net;
    g_net = &net;
    SocketsInstall(&kFakeOps);
    PortContext port = PrinterPort("http://lp1/ipp", FALSE);
    JobContext job{};
    CopyText(job.ippPrinterUri, sizeof job.ippPrinterUri, port.printerUri);
    char host[HOST_BYTES] = "";
    LONG target = 0;
    PrepareConnection(&job, host, sizeof host, &target, &job.request, &port);
    SocketsInstall(nullptr);
    g_net = nullptr;
    ASSERT_EQ(2u, net.options.size());
    EXPECT_EQ(static_cast<DWORD>(SOCKET_TIMEOUT_MS), net.options[0].second);
    EXPECT_EQ(static_cast<DWORD>(SOCKET_TIMEOUT_MS), net.options[1].second);
}

// Connect retries: what each sequence of results costs in attempts and 10 s pauses.
TEST_F(FakeNetTest, ConnectRetriesFollowTheReasonOfEachFailure) {
    struct Case {
        const char* name;
        std::vector<int> results;
        BOOL connected;
        size_t attempts;
        size_t pauses;
    } cases[] = {
        {"refused for ever", {WSAECONNREFUSED}, FALSE, 19, 18},
        {"refused twice, then accepted", {WSAECONNREFUSED, WSAECONNREFUSED, 0}, TRUE, 3, 2},
        {"time-out, then refused", {WSAETIMEDOUT, WSAECONNREFUSED}, FALSE, 2, 0},
        {"time-out, then accepted", {WSAETIMEDOUT, 0}, TRUE, 2, 0},
        {"host unreachable", {WSAEHOSTUNREACH}, FALSE, 1, 0},
        {"host down", {WSAEHOSTDOWN}, FALSE, 1, 0},
        {"accepted at once", {0}, TRUE, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        net_ = FakeNet{};
        net_.connectResults = c.results;
        virtual_clock::Install();
        EXPECT_EQ(c.connected, ConnectToHost(777, "10.1.2.3", 631));
        EXPECT_EQ(c.attempts, net_.connects);
        std::vector<DWORD> sleeps = virtual_clock::Sleeps();
        EXPECT_EQ(c.pauses, sleeps.size());
        for (DWORD pause : sleeps) {
            EXPECT_EQ(static_cast<DWORD>(CONNECT_RETRY_PAUSE_MS), pause);
        }
    }
}

TEST_F(FakeNetTest, DottedHostsSkipTheResolverAndNamesUseTheFirstAddress) {
    net_.connectResults = {0};
    EXPECT_TRUE(ConnectToHost(777, "10.1.2.3", 8000));
    EXPECT_EQ(0, net_.resolverCalls);
    ASSERT_EQ(1u, net_.connectTargets.size());
    EXPECT_EQ(inet_addr("10.1.2.3"), net_.connectTargets[0].sin_addr.s_addr);
    EXPECT_EQ(htons(8000), net_.connectTargets[0].sin_port);

    EXPECT_TRUE(ConnectToHost(777, "lp1", 631));
    EXPECT_EQ(1, net_.resolverCalls);
    EXPECT_EQ(inet_addr("10.9.8.7"), net_.connectTargets[1].sin_addr.s_addr);
}

TEST_F(FakeNetTest, UnknownNamesFailWithConnectionUnavailable) {
    net_.connectResults = {0};
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ConnectToHost(777, "no-such-printer", 631));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CONNECTION_UNAVAIL), GetLastError());
    EXPECT_EQ(0u, net_.connects);
    // 255.255.255.255 reads as "not an address" and goes to the resolver too.
    EXPECT_FALSE(ConnectToHost(777, "255.255.255.255", 631));
    EXPECT_EQ(2, net_.resolverCalls);
}

TEST_F(FakeNetTest, TimedOutSendsGoOnWhileThePrinterAnswersItsStatusQueries) {
    const std::string data(10000, 'd');
    PortContext port{};
    port.printerReachable = 1;
    net_.sendResults = {4000, -WSAETIMEDOUT, 3000, -WSAETIMEDOUT};
    EXPECT_EQ(10000, SendAll(777, data.data(), 10000, &port));
    EXPECT_EQ(data, net_.sent); // every byte, in order, none twice
}

TEST_F(FakeNetTest, TimedOutSendsFailOnceThePrinterIsNotKnownToAnswer) {
    const std::string data(10000, 'd');
    PortContext port{};
    port.printerReachable = 0;
    net_.sendResults = {4000, -WSAETIMEDOUT};
    EXPECT_EQ(-1, SendAll(777, data.data(), 10000, &port));
    EXPECT_EQ(WSAETIMEDOUT, WSAGetLastError());
}

TEST_F(FakeNetTest, OtherSendErrorsFailEvenWhenThePrinterAnswers) {
    const std::string data(100, 'd');
    PortContext port{};
    port.printerReachable = 1;
    for (int error : {WSAECONNRESET, WSAECONNABORTED}) {
        net_.sends = 0;
        net_.sendResults = {-error};
        EXPECT_EQ(-1, SendAll(777, data.data(), 100, &port));
        EXPECT_EQ(error, WSAGetLastError());
    }
    net_.sends = 0;
    net_.sendResults = {0}; // a send that moves nothing must not loop for ever
    EXPECT_EQ(-1, SendAll(777, data.data(), 100, &port));
}

// --- Real loopback sockets ---------------------------------------------------------------------

namespace {

class Loopback : public testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 0), &data));
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        ASSERT_EQ(0, bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address));
        ASSERT_EQ(0, listen(listener_, 4));
        int length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    void TearDown() override {
        if (peer_ != INVALID_SOCKET) {
            closesocket(peer_);
        }
        closesocket(listener_);
        WSACleanup();
    }

    SOCKET Connect() {
        PortContext port{};
        JobContext job{};
        FormatText(job.ippPrinterUri, sizeof job.ippPrinterUri, "http://127.0.0.1:%d/ipp", port_);
        char host[HOST_BYTES] = "";
        LONG target = 0;
        SOCKET s = PrepareConnection(&job, host, sizeof host, &target, &job.request, &port);
        EXPECT_NE(INVALID_SOCKET, s);
        EXPECT_TRUE(ConnectToHost(s, host, target));
        peer_ = accept(listener_, nullptr, nullptr);
        EXPECT_NE(INVALID_SOCKET, peer_);
        return s;
    }

  public:
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    int port_ = 0;
    std::string received_;
};

} // namespace

TEST_F(Loopback, SendsEverythingAndReadsTheReply) {
    SOCKET s = Connect();
    std::string data(200000, 'x');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7);
    }
    PortContext port{};
    // The peer reads while we send, so large sends cannot fill both buffers.
    struct Reader {
        static DWORD WINAPI Run(LPVOID arg) {
            auto* self = static_cast<Loopback*>(arg);
            char buffer[65536];
            int n;
            while ((n = recv(self->peer_, buffer, sizeof buffer, 0)) > 0) {
                self->received_.append(buffer, static_cast<size_t>(n));
                if (self->received_.size() >= 200000) {
                    break;
                }
            }
            const char reply[] =
                "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n\x01\x01\x04\x0a\0\0\0\x07\x03";
            send(self->peer_, reply, sizeof reply - 1, 0);
            return 0;
        }
    };
    HANDLE reader = CreateThread(nullptr, 0, Reader::Run, this, 0, nullptr);
    ASSERT_NE(nullptr, reader);
    EXPECT_EQ(200000, SendAll(s, data.data(), static_cast<int>(data.size()), &port));
    LONG ippStatus = -1;
    EXPECT_EQ(200, ReadHttpReply(s, &ippStatus, 30000));
    EXPECT_EQ(0x040A, ippStatus);
    WaitForSingleObject(reader, 30000);
    CloseHandle(reader);
    EXPECT_EQ(data, received_);
    CloseConnection(s);
}

TEST_F(Loopback, ReceiveWithTimeoutGivesZeroForTimeOutSizeZeroAndClosedConnection) {
    SOCKET s = Connect();
    char buffer[16];
    {
        VirtualClockScope clock;
        EXPECT_EQ(0, ReceiveWithTimeout(s, buffer, sizeof buffer, 1500)); // nothing sent
        EXPECT_EQ((std::vector<DWORD>{1500}), virtual_clock::ReadableWaits());
    }
    send(peer_, "abc", 3, 0);
    EXPECT_EQ(1, WaitReadable(s, 5000));
    EXPECT_EQ(0, ReceiveWithTimeout(s, buffer, 0, 5000)); // data waiting, no room
    EXPECT_EQ(3, ReceiveWithTimeout(s, buffer, sizeof buffer, 5000));
    closesocket(peer_);
    peer_ = INVALID_SOCKET;
    EXPECT_EQ(0, ReceiveWithTimeout(s, buffer, sizeof buffer, 5000)); // closed by the peer
    CloseConnection(s);
}

TEST_F(Loopback, ARefusedPortIsRetriedInVirtualTime) {
    VirtualClockScope clock;
    closesocket(listener_);
    listener_ = socket(AF_INET, SOCK_STREAM, 0); // nothing listens on port_ any more
    PortContext port{};
    JobContext job{};
    FormatText(job.ippPrinterUri, sizeof job.ippPrinterUri, "http://127.0.0.1:%d/ipp", port_);
    char host[HOST_BYTES] = "";
    LONG target = 0;
    SOCKET s = PrepareConnection(&job, host, sizeof host, &target, &job.request, &port);
    EXPECT_FALSE(ConnectToHost(s, host, target));
    EXPECT_EQ(WSAECONNREFUSED, WSAGetLastError());
    EXPECT_EQ(18u, virtual_clock::Sleeps().size());
    EXPECT_EQ(180000u, virtual_clock::NowMs());
    CloseConnection(s);
}
