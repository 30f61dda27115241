#include "monitor/transport/http_request.h"

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "monitor/core/text.h"
#include "monitor/transport/printer_uri.h"

namespace {

// The head cut into its lines at CR LF; the empty line that ends it is the last element. Any
// CR or LF left inside a line is a fault of its own.
std::vector<std::string> Lines(const std::string& head) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < head.size()) {
        size_t end = head.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back("(unterminated) " + head.substr(start));
            break;
        }
        std::string line = head.substr(start, end - start);
        EXPECT_EQ(std::string::npos, line.find_first_of("\r\n")) << line;
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

const char NT_AGENT[] = "User-Agent: Nimbrel/R1.1 (WinNT40)";
const char X9_AGENT[] = "User-Agent: Nimbrel/R1.1 (Win9X)";

struct HeadCase {
    const char* name;
    const char* printerUri;
    bool viaProxy;
    DWORD chunked;    // the job's streaming flag
    BOOL forceHttp11; // a status query
    const char* contentLength;
    const char* agentLine;
    std::vector<std::string> lines;
};

void PrintTo(const HeadCase& c, std::ostream* os) {
    *os << c.name;
}

// Fills the request record the way a transaction does: the request-URI as the connection
// chooses it, then InitPostRequest, then the body length.
class RequestHeadTest : public testing::TestWithParam<HeadCase> {
  protected:
    void SetUp() override { job_.reset(new JobContext()); }
    std::unique_ptr<JobContext> job_;
};

TEST_P(RequestHeadTest, WritesTheHeadLineByLine) {
    const HeadCase& c = GetParam();
    JobContext* job = job_.get();
    ASSERT_TRUE(CopyText(job->ippPrinterUri, sizeof job->ippPrinterUri, c.printerUri));
    job->chunked = c.chunked;

    char printerHost[HOST_BYTES];
    char printerPath[PATH_BYTES];
    LONG printerPort = 0;
    ASSERT_TRUE(SplitPrinterUri(c.printerUri, printerHost, sizeof printerHost, &printerPort,
                                printerPath, sizeof printerPath));
    if (c.viaProxy) {
        ASSERT_GT(FormatAbsoluteRequestUri(job->request.requestUri, sizeof job->request.requestUri,
                                           printerHost, printerPort, printerPath),
                  0);
    } else {
        ASSERT_TRUE(CopyText(job->request.requestUri, sizeof job->request.requestUri, printerPath));
    }

    // The caller passes the connection's target and gets back the printer's host and port.
    char host[HOST_BYTES] = "lp9";
    LONG port = 8080;
    EXPECT_TRUE(InitPostRequest(job, host, sizeof host, &port, c.forceHttp11));
    EXPECT_STREQ(printerHost, host);
    EXPECT_EQ(printerPort, port);
    ASSERT_TRUE(
        CopyText(job->request.contentLength, sizeof job->request.contentLength, c.contentLength));

    char out[4096];
    std::string agent = std::string(c.agentLine) + "\r\n";
    int length = FormatRequestHeadWithAgent(&job->request, agent.c_str(), out, sizeof out);
    ASSERT_GT(length, 0);
    EXPECT_EQ(strlen(out), static_cast<size_t>(length));
    EXPECT_EQ(c.lines, Lines(out));
}

INSTANTIATE_TEST_SUITE_P(
    Heads, RequestHeadTest,
    testing::Values(HeadCase{"StreamedPrintJob",
                             "ipp://10.1.2.3/ipp",
                             false,
                             1,
                             FALSE,
                             "chunked",
                             NT_AGENT,
                             {"POST /ipp HTTP/1.1", "Connection: Keep-Alive",
                              "Transfer-Encoding: chunked", NT_AGENT, "Host: 10.1.2.3:631",
                              "Accept: application/ipp", "Content-Type: application/ipp", ""}},
                    HeadCase{"StreamedPrintJob9x",
                             "ipp://10.1.2.3/ipp",
                             false,
                             1,
                             FALSE,
                             "chunked",
                             X9_AGENT,
                             {"POST /ipp HTTP/1.1", "Connection: Keep-Alive",
                              "Transfer-Encoding: chunked", X9_AGENT, "Host: 10.1.2.3:631",
                              "Accept: application/ipp", "Content-Type: application/ipp", ""}},
                    // An IPP request of 300 bytes and 5000 document bytes from the spool file.
                    HeadCase{"SpoolFilePrintJob",
                             "ipp://10.1.2.3/ipp",
                             false,
                             0,
                             FALSE,
                             "5300",
                             NT_AGENT,
                             {"POST /ipp HTTP/1.0", "Connection: Keep-Alive", NT_AGENT,
                              "Host: 10.1.2.3:631", "Accept: application/ipp",
                              "Content-Type: application/ipp", "Content-Length: 5300", ""}},
                    HeadCase{"StatusQuery",
                             "http://lp1:8000/ipp/port1",
                             false,
                             0,
                             TRUE,
                             "137",
                             X9_AGENT,
                             {"POST /ipp/port1 HTTP/1.1", "Connection: Keep-Alive", X9_AGENT,
                              "Host: lp1:8000", "Accept: application/ipp",
                              "Content-Type: application/ipp", "Content-Length: 137", ""}},
                    HeadCase{"StatusQueryThroughProxy",
                             "ipp://10.1.2.3/ipp",
                             true,
                             0,
                             TRUE,
                             "137",
                             NT_AGENT,
                             {"POST http://10.1.2.3:631/ipp HTTP/1.1", "Connection: Keep-Alive",
                              NT_AGENT, "Host: 10.1.2.3:631", "Accept: application/ipp",
                              "Content-Type: application/ipp", "Content-Length: 137", ""}},
                    HeadCase{"PrintJobThroughProxy",
                             "ipp://10.1.2.3/ipp",
                             true,
                             0,
                             FALSE,
                             "5300",
                             NT_AGENT,
                             {"POST http://10.1.2.3:631/ipp HTTP/1.0", "Connection: Keep-Alive",
                              NT_AGENT, "Host: 10.1.2.3:631", "Accept: application/ipp",
                              "Content-Type: application/ipp", "Content-Length: 5300", ""}}),
    [](const testing::TestParamInfo<HeadCase>& info) { return std::string(info.param.name); });

// A head filled by hand, for the cases the system itself never builds.
class HeadFixture : public testing::Test {
  protected:
    void SetUp() override {
        memset(&head_, 0, sizeof head_);
        strcpy(head_.method, "POST");
        strcpy(head_.httpVersion, "1.1");
        strcpy(head_.requestUri, "/ipp");
        strcpy(head_.connection, "Keep-Alive");
        strcpy(head_.hostHeader, "lp1:631");
        strcpy(head_.accept, "application/ipp");
        strcpy(head_.contentType, "application/ipp");
        strcpy(head_.contentLength, "10");
    }
    int Format() {
        memset(out_, 'x', sizeof out_);
        return FormatRequestHeadWithAgent(&head_, USER_AGENT_LINE_NT, out_, sizeof out_);
    }
    HttpRequestHead head_;
    char out_[4096];
};

TEST_F(HeadFixture, BuildWritesItsOwnUserAgent) {
    ASSERT_GT(FormatRequestHead(&head_, out_, sizeof out_), 0);
    std::vector<std::string> lines = Lines(out_);
    ASSERT_GE(lines.size(), 3u);
#ifdef NIMBREL_9X
    EXPECT_EQ(X9_AGENT, lines[2]);
#else
    EXPECT_EQ(NT_AGENT, lines[2]);
#endif
}

TEST_F(HeadFixture, ChunkedWithHttp10GivesNeitherLengthLine) {
    strcpy(head_.httpVersion, "1.0");
    strcpy(head_.contentLength, "chunked");
    ASSERT_GT(Format(), 0);
    EXPECT_EQ((std::vector<std::string>{"POST /ipp HTTP/1.0", "Connection: Keep-Alive", NT_AGENT,
                                        "Host: lp1:631", "Accept: application/ipp",
                                        "Content-Type: application/ipp", ""}),
              Lines(out_));
}

TEST_F(HeadFixture, ConditionsLookAtTheFirstCharactersOnly) {
    // "1.1x" counts as 1.1; "chunked " is not "chunked".
    strcpy(head_.httpVersion, "1.1x");
    strcpy(head_.contentLength, "chunked");
    ASSERT_GT(Format(), 0);
    EXPECT_EQ("Transfer-Encoding: chunked", Lines(out_)[2]);
    strcpy(head_.contentLength, "chunked ");
    ASSERT_GT(Format(), 0);
    EXPECT_EQ("Content-Length: chunked ", Lines(out_)[6]);
}

TEST_F(HeadFixture, OtherMethodsCarryNoBodyLines) {
    strcpy(head_.method, "GET");
    ASSERT_GT(Format(), 0);
    EXPECT_EQ((std::vector<std::string>{"GET /ipp HTTP/1.1", "Connection: Keep-Alive", NT_AGENT,
                                        "Host: lp1:631", "Accept: application/ipp", ""}),
              Lines(out_));
}

TEST_F(HeadFixture, RequestLineMayBeLongerThanAHeaderLine) {
    std::string uri = "http://" + std::string(1000, 'h') + ":631/ipp/x";
    ASSERT_LT(uri.size(), sizeof head_.requestUri);
    strcpy(head_.requestUri, uri.c_str());
    ASSERT_GT(Format(), 0);
    EXPECT_EQ("POST " + uri + " HTTP/1.1", Lines(out_)[0]);
}

TEST_F(HeadFixture, HeadMustFitWithItsTerminator) {
    int length = Format();
    ASSERT_GT(length, 0);
    std::string whole(out_);
    char exact[4096];
    EXPECT_EQ(length, FormatRequestHeadWithAgent(&head_, USER_AGENT_LINE_NT, exact,
                                                 static_cast<size_t>(length) + 1));
    EXPECT_EQ(whole, exact);
    memset(exact, 'x', sizeof exact);
    EXPECT_EQ(-1, FormatRequestHeadWithAgent(&head_, USER_AGENT_LINE_NT, exact,
                                             static_cast<size_t>(length)));
    EXPECT_STREQ("", exact);
    // Too small already for the request line.
    memset(exact, 'x', sizeof exact);
    EXPECT_EQ(-1, FormatRequestHeadWithAgent(&head_, USER_AGENT_LINE_NT, exact, 10));
    EXPECT_STREQ("", exact);
    EXPECT_EQ('x', exact[10]);
}

TEST_F(HeadFixture, UnterminatedFieldIsRefused) {
    memset(head_.hostHeader, 'a', sizeof head_.hostHeader);
    EXPECT_EQ(-1, Format());
    EXPECT_STREQ("", out_);
}

TEST_F(HeadFixture, EmptyHostIsRefused) {
    head_.hostHeader[0] = '\0';
    EXPECT_EQ(-1, Format());
}

TEST_F(HeadFixture, AgentLineMustBeOneLine) {
    EXPECT_EQ(-1, FormatRequestHeadWithAgent(&head_, "User-Agent: x", out_, sizeof out_));
    EXPECT_EQ(-1, FormatRequestHeadWithAgent(&head_, "User-Agent: x\r\nX-Injected: 1\r\n", out_,
                                             sizeof out_));
    std::string longAgent = "User-Agent: " + std::string(HTTP_LINE_BYTES, 'a') + "\r\n";
    EXPECT_EQ(-1, FormatRequestHeadWithAgent(&head_, longAgent.c_str(), out_, sizeof out_));
}

// No field can add a line of its own to the head.
struct InjectionCase {
    const char* name;
    size_t offset; // of the field in HttpRequestHead
    size_t capacity;
    const char* value;
};

void PrintTo(const InjectionCase& c, std::ostream* os) {
    *os << c.name;
}

class HeaderInjectionTest : public testing::TestWithParam<InjectionCase> {};

TEST_P(HeaderInjectionTest, LineBreakInAFieldIsRefused) {
    const InjectionCase& c = GetParam();
    HttpRequestHead head;
    memset(&head, 0, sizeof head);
    strcpy(head.method, "POST");
    strcpy(head.httpVersion, "1.1");
    strcpy(head.requestUri, "/ipp");
    strcpy(head.connection, "Keep-Alive");
    strcpy(head.hostHeader, "lp1:631");
    strcpy(head.accept, "application/ipp");
    strcpy(head.contentType, "application/ipp");
    strcpy(head.contentLength, "10");
    char out[4096];
    ASSERT_GT(FormatRequestHeadWithAgent(&head, USER_AGENT_LINE_NT, out, sizeof out), 0);

    char* field = reinterpret_cast<char*>(&head) + c.offset;
    ASSERT_TRUE(CopyText(field, c.capacity, c.value));
    EXPECT_EQ(-1, FormatRequestHeadWithAgent(&head, USER_AGENT_LINE_NT, out, sizeof out));
    EXPECT_STREQ("", out);
}

#define FIELD(name) offsetof(HttpRequestHead, name), sizeof(HttpRequestHead::name)
INSTANTIATE_TEST_SUITE_P(
    Fields, HeaderInjectionTest,
    testing::Values(InjectionCase{"RequestUriCrLf", FIELD(requestUri), "/ipp\r\nX-Injected: 1"},
                    InjectionCase{"RequestUriLf", FIELD(requestUri), "/ipp\nX-Injected: 1"},
                    InjectionCase{"RequestUriCr", FIELD(requestUri), "/ipp\rX-Injected: 1"},
                    InjectionCase{"Host", FIELD(hostHeader), "lp1\r\nX-Injected: 1"},
                    InjectionCase{"HostLf", FIELD(hostHeader), "lp1:631\n"},
                    InjectionCase{"Version", FIELD(httpVersion), "1.1\r\nX-Injected: 1"},
                    InjectionCase{"Method", FIELD(method), "POST\r\n"},
                    InjectionCase{"Connection", FIELD(connection), "close\r\nX-Injected: 1"},
                    InjectionCase{"Accept", FIELD(accept), "*/*\nX-Injected: 1"},
                    InjectionCase{"ContentType", FIELD(contentType), "a/b\r\nX-Injected: 1"},
                    InjectionCase{"ContentLength", FIELD(contentLength), "5\r\n\r\nGET /"}),
    [](const testing::TestParamInfo<InjectionCase>& info) { return std::string(info.param.name); });
#undef FIELD

class InitPostRequestTest : public testing::Test {
  protected:
    void SetUp() override { job_.reset(new JobContext()); }
    std::unique_ptr<JobContext> job_;
};

TEST_F(InitPostRequestTest, PrinterUriWithLineBreakNeverReachesTheWire) {
    // A URI edited in the registry: the split gives host "lp1\r\nX-Injected" and port 1.
    strcpy(job_->ippPrinterUri, "ipp://lp1\r\nX-Injected:1/ipp");
    strcpy(job_->request.requestUri, "/ipp");
    char host[HOST_BYTES] = "";
    LONG port = 0;
    InitPostRequest(job_.get(), host, sizeof host, &port, TRUE);
    strcpy(job_->request.contentLength, "10");
    char out[4096];
    EXPECT_EQ(-1, FormatRequestHead(&job_->request, out, sizeof out));
}

TEST_F(InitPostRequestTest, HostThatDoesNotFitTheHostFieldIsRefused) {
    // "Host: " carries host ":631": a host of 123 characters fills the 128-byte field exactly.
    std::string fits(123, 'a');
    strcpy(job_->ippPrinterUri, ("ipp://" + fits + "/ipp").c_str());
    char host[HOST_BYTES] = "";
    LONG port = 0;
    EXPECT_TRUE(InitPostRequest(job_.get(), host, sizeof host, &port, TRUE));
    EXPECT_EQ(fits + ":631", job_->request.hostHeader);

    std::string tooLong(124, 'a');
    strcpy(job_->ippPrinterUri, ("ipp://" + tooLong + "/ipp").c_str());
    EXPECT_FALSE(InitPostRequest(job_.get(), host, sizeof host, &port, TRUE));
    EXPECT_EQ(tooLong, host);
    EXPECT_STREQ("", job_->request.hostHeader);
    strcpy(job_->request.requestUri, "/ipp");
    strcpy(job_->request.contentLength, "10");
    char out[4096];
    EXPECT_EQ(-1, FormatRequestHead(&job_->request, out, sizeof out));
}

TEST_F(InitPostRequestTest, UriThatDoesNotSplitKeepsTheCallersTarget) {
    strcpy(job_->ippPrinterUri, "lp1/ipp");
    char host[HOST_BYTES] = "lp9";
    LONG port = 8080;
    EXPECT_TRUE(InitPostRequest(job_.get(), host, sizeof host, &port, FALSE));
    EXPECT_STREQ("lp9", host);
    EXPECT_EQ(8080, port);
    EXPECT_STREQ("lp9:8080", job_->request.hostHeader);
    EXPECT_STREQ("1.0", job_->request.httpVersion);
}

TEST_F(InitPostRequestTest, VersionFollowsForceOrStreaming) {
    strcpy(job_->ippPrinterUri, "ipp://lp1/ipp");
    char host[HOST_BYTES];
    LONG port;
    const struct {
        DWORD chunked;
        BOOL force;
        const char* version;
    } cases[] = {{0, FALSE, "1.0"}, {1, FALSE, "1.1"}, {0, TRUE, "1.1"}, {1, TRUE, "1.1"}};
    for (const auto& c : cases) {
        job_->chunked = c.chunked;
        EXPECT_TRUE(InitPostRequest(job_.get(), host, sizeof host, &port, c.force));
        EXPECT_STREQ(c.version, job_->request.httpVersion) << c.chunked << " " << c.force;
        EXPECT_STREQ("POST", job_->request.method);
        EXPECT_STREQ("Keep-Alive", job_->request.connection);
        EXPECT_STREQ("application/ipp", job_->request.accept);
        EXPECT_STREQ("application/ipp", job_->request.contentType);
    }
}

// ---- Chunk framing ----

struct Chunked {
    std::vector<size_t> sizes;
    std::string data;
    std::string fault; // empty when the framing is sound
};

// Reads framed bytes back as a strict receiver would: lower-case hexadecimal without leading
// zeros, CR LF after the size line and after the data.
Chunked Unframe(const BYTE* bytes, size_t count) {
    Chunked result;
    const char* p = reinterpret_cast<const char*>(bytes);
    const char* end = p + count;
    while (p < end) {
        const char* digits = p;
        size_t size = 0;
        while (p < end && ((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) {
            size = size * 16 + static_cast<size_t>(*p <= '9' ? *p - '0' : *p - 'a' + 10);
            ++p;
        }
        if (p == digits || (p - digits > 1 && *digits == '0')) {
            result.fault = "bad size line";
            return result;
        }
        if (end - p < 2 || p[0] != '\r' || p[1] != '\n') {
            result.fault = "size line without CR LF";
            return result;
        }
        p += 2;
        if (static_cast<size_t>(end - p) < size + 2 || p[size] != '\r' || p[size + 1] != '\n') {
            result.fault = "data without CR LF";
            return result;
        }
        result.sizes.push_back(size);
        result.data.append(p, size);
        p += size + 2;
    }
    return result;
}

std::vector<BYTE> Document(size_t count) {
    std::vector<BYTE> data(count);
    for (size_t i = 0; i < count; ++i) {
        data[i] = static_cast<BYTE>(i * 7 + i / 251);
    }
    return data;
}

struct FramingCase {
    size_t count;
    std::vector<size_t> sizes;
};

void PrintTo(const FramingCase& c, std::ostream* os) {
    *os << c.count << " bytes";
}

class FrameChunksTest : public testing::TestWithParam<FramingCase> {};

TEST_P(FrameChunksTest, CutsIntoChunksInOrder) {
    const FramingCase& c = GetParam();
    std::vector<BYTE> data = Document(c.count);
    std::vector<BYTE> out(ChunkFramingBytes(c.count));
    size_t written = FrameChunks(data.data(), data.size(), out.data(), out.size());
    ASSERT_GT(written, 0u);
    ASSERT_LE(written, out.size());
    Chunked chunks = Unframe(out.data(), written);
    EXPECT_EQ("", chunks.fault);
    EXPECT_EQ(c.sizes, chunks.sizes);
    EXPECT_TRUE(chunks.data == std::string(data.begin(), data.end()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FrameChunksTest,
                         testing::Values(FramingCase{2000, {0x400, 0x3d0}},
                                         FramingCase{1072, {0x400, 0x18, 0x18}},
                                         FramingCase{48, {0x18, 0x18}}, FramingCase{47, {0x2f}},
                                         FramingCase{49, {0x31}}, FramingCase{1, {1}},
                                         FramingCase{1024, {0x400}}, FramingCase{1025, {0x400, 1}},
                                         FramingCase{2048 + 48, {0x400, 0x400, 0x18, 0x18}},
                                         FramingCase{4096, {0x400, 0x400, 0x400, 0x400}}));

TEST(FrameChunks, LargeWriteGoesIn1024ByteChunks) {
    const size_t count = 1024 * 1024 + 48;
    std::vector<BYTE> data = Document(count);
    std::vector<BYTE> out(ChunkFramingBytes(count));
    size_t written = FrameChunks(data.data(), count, out.data(), out.size());
    Chunked chunks = Unframe(out.data(), written);
    EXPECT_EQ("", chunks.fault);
    std::vector<size_t> expected(1024, 0x400);
    expected.push_back(0x18);
    expected.push_back(0x18);
    EXPECT_EQ(expected, chunks.sizes);
    EXPECT_TRUE(chunks.data == std::string(data.begin(), data.end()));
}

TEST(FrameChunks, ChunkBytesExactly) {
    std::vector<BYTE> data = Document(47);
    BYTE out[64];
    ASSERT_EQ(53u, FrameChunks(data.data(), 47, out, sizeof out));
    EXPECT_EQ(0, memcmp("2f\r\n", out, 4));
    EXPECT_EQ(0, memcmp(data.data(), out + 4, 47));
    EXPECT_EQ(0, memcmp("\r\n", out + 51, 2));
}

TEST(FrameChunks, NothingForNoData) {
    BYTE data[1] = {0};
    BYTE out[16];
    memset(out, 0xAA, sizeof out);
    EXPECT_EQ(0u, FrameChunks(data, 0, out, sizeof out));
    EXPECT_EQ(0xAA, out[0]);
}

TEST(FrameChunks, RefusesAnOutputTooSmallWithoutWriting) {
    std::vector<BYTE> data = Document(2000);
    // 0x400 and 0x3d0: two size lines of 5 bytes, two CR LF, 2000 data bytes.
    const size_t needed = 2000 + 5 + 5 + 2 + 2;
    std::vector<BYTE> out(needed, 0xAA);
    EXPECT_EQ(needed, FrameChunks(data.data(), data.size(), out.data(), needed));
    std::fill(out.begin(), out.end(), 0xAA);
    EXPECT_EQ(0u, FrameChunks(data.data(), data.size(), out.data(), needed - 1));
    EXPECT_EQ(std::vector<BYTE>(needed, 0xAA), out);
}

TEST(ChunkFramingBytes, AlwaysRoomEnough) {
    for (size_t count = 1; count <= 5000; ++count) {
        std::vector<BYTE> data(count);
        std::vector<BYTE> out(ChunkFramingBytes(count));
        ASSERT_GT(FrameChunks(data.data(), count, out.data(), out.size()), 0u) << count;
    }
    EXPECT_EQ(2000u + 8 * (1 + 3), ChunkFramingBytes(2000));
    // A count near the top of the address space does not wrap into a small size.
    EXPECT_EQ(SIZE_MAX, ChunkFramingBytes(SIZE_MAX - 10));
}

} // namespace
