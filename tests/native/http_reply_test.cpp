#include "monitor/transport/http_reply.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/native/scripted_source.h"

namespace {

const DWORD UNTOUCHED = 0xdeadbeef;

// An IPP response body: version 1.1, the status-code, request-id 7, end-of-attributes.
std::string IppBody(unsigned status) {
    const char bytes[] = {
        1, 1, static_cast<char>(status >> 8), static_cast<char>(status & 0xFF), 0, 0, 0, 7, 3};
    return std::string(bytes, sizeof bytes);
}

std::string Reply(const std::string& statusLine, const std::string& body) {
    return statusLine + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Ok(unsigned ippStatus) {
    return Reply("HTTP/1.1 200 OK", IppBody(ippStatus));
}

const std::string CONTINUE = "HTTP/1.1 100 Continue\r\n\r\n";

// Filler that reads as reply heads if it were ever parsed: body bytes that must be skipped.
std::string HeadLikeFiller(size_t count) {
    std::string filler;
    while (filler.size() < count) {
        filler += "HTTP/1.1 404 Not Found\r\n\r\n";
    }
    filler.resize(count);
    return filler;
}

// ---- ParseReplyHead ----

const size_t AT_HEAD_END = static_cast<size_t>(-1); // the offset of CR LF CR LF, plus 4

struct ParseCase {
    const char* name;
    std::string data;
    size_t headBytes; // 0: not complete
    std::string version;
    std::string status;
    std::string contentLength;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class ParseReplyHeadTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseReplyHeadTest, Parses) {
    const ParseCase& c = GetParam();
    std::vector<char> area(c.data.begin(), c.data.end());
    area.push_back('X'); // the terminator's place
    HttpReplyHead head;
    memset(&head, 0, sizeof head);

    size_t expected = c.headBytes == AT_HEAD_END ? c.data.find("\r\n\r\n") + 4 : c.headBytes;
    EXPECT_EQ(expected, ParseReplyHead(area.data(), c.data.size(), &head));
    EXPECT_EQ('\0', area[c.data.size()]);
    if (expected != 0) {
        EXPECT_EQ(c.version, head.httpVersion);
        EXPECT_EQ(c.status, head.statusCode);
        EXPECT_EQ(c.contentLength, head.contentLength);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Heads, ParseReplyHeadTest,
    testing::Values(
        ParseCase{"WithLength", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nbody", AT_HEAD_END,
                  "1.1", "200", "9"},
        ParseCase{"OtherHeaderLinesPassedOver",
                  "HTTP/1.1 200 OK\r\nServer: x\r\nContent-Length: 12\r\nDate: y\r\n\r\n",
                  AT_HEAD_END, "1.1", "200", "12"},
        ParseCase{"NoHeaderLines", std::string("HTTP/1.0 200 OK\r\n\r\n\x01\x01\x00\x00", 23), 19,
                  "1.0", "200", ""},
        ParseCase{"VersionWithoutSlash", "ICY 200 OK\r\n\r\n", AT_HEAD_END, "1.1", "200", ""},
        ParseCase{"VersionThreeCharactersAfterSlash", "HTTP/1.10 200 OK\r\n\r\n", AT_HEAD_END,
                  "1.1", "200", ""},
        ParseCase{"ShortVersion", "HTTP/2 200 OK\r\n\r\n", AT_HEAD_END, "2", "200", ""},
        ParseCase{"NoReasonPhrase", "HTTP/1.1 404\r\nContent-Length: 0\r\n\r\n", AT_HEAD_END, "1.1",
                  "404", "0"},
        ParseCase{"NonNumericStatus", "HTTP/1.1 OK\r\n\r\n", AT_HEAD_END, "1.1", "OK", ""},
        ParseCase{"OtherLetterCaseAndSpaces", "HTTP/1.1 200 OK\r\ncontent-length:   25\r\n\r\n",
                  AT_HEAD_END, "1.1", "200", "25"},
        ParseCase{"NoSpaceAfterColon", "HTTP/1.1 200 OK\r\nContent-Length:25\r\n\r\n", AT_HEAD_END,
                  "1.1", "200", "25"},
        ParseCase{"TabsSkippedBeforeValueOnly", "HTTP/1.1 200 OK\r\nCONTENT-LENGTH:\t 7\t\r\n\r\n",
                  AT_HEAD_END, "1.1", "200", "7\t"},
        ParseCase{"EmptyValue", "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n", AT_HEAD_END, "1.1",
                  "200", ""},
        ParseCase{"LinesNotUnfolded", "HTTP/1.1 200 OK\r\nX: a\r\n Content-Length: 5\r\n\r\n",
                  AT_HEAD_END, "1.1", "200", ""},
        ParseCase{"NameMustBeginTheLine", "HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\n\r\n",
                  AT_HEAD_END, "1.1", "200", ""},
        ParseCase{"LineEndingInLfAlone", "HTTP/1.1 200 OK\r\nA: b\nContent-Length: 3\r\n\r\n",
                  AT_HEAD_END, "1.1", "200", "3"},
        ParseCase{"LongVersionTokenIsNotCut",
                  "HTTP/1.1" + std::string(200, 'v') + " 200 OK\r\nContent-Length: 3\r\n\r\n",
                  AT_HEAD_END, "1.1", "200", "3"},
        ParseCase{"StatusOf127Characters", "HTTP/1.1 " + std::string(127, '2') + " OK\r\n\r\n",
                  AT_HEAD_END, "1.1", std::string(127, '2'), ""},
        // Values that do not fit their fields are never cut: the head reads as status 0.
        ParseCase{"StatusOf128Characters", "HTTP/1.1 " + std::string(128, '2') + " OK\r\n\r\n",
                  AT_HEAD_END, "1.1", "", ""},
        ParseCase{"LengthOf127Characters",
                  "HTTP/1.1 200 OK\r\nContent-Length: " + std::string(126, '0') + "9\r\n\r\n",
                  AT_HEAD_END, "1.1", "200", std::string(126, '0') + "9"},
        ParseCase{"LengthOf128Characters",
                  "HTTP/1.1 200 OK\r\nContent-Length: " + std::string(127, '0') + "9\r\n\r\n",
                  AT_HEAD_END, "1.1", "", ""},
        ParseCase{"Incomplete", "HTTP/1.1 200 OK\r\nContent-Len", 0, "", "", ""},
        ParseCase{"AlmostComplete", "HTTP/1.1 200 OK\r\n\r", 0, "", "", ""},
        ParseCase{"Empty", "", 0, "", "", ""},
        // The data is read as text: a NUL ends it before the head's end.
        ParseCase{"NulBeforeTheEnd", std::string("HTTP/1.1 200 OK\r\n\0\r\n\r\n", 21), 0, "", "",
                  ""}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(ParseReplyHead, EachHeadHasItsOwnLength) {
    HttpReplyHead head;
    memset(&head, 0, sizeof head);
    std::string first = "HTTP/1.1 100 Continue\r\nContent-Length: 4\r\n\r\n";
    std::string second = "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::vector<char> area(first.begin(), first.end());
    area.push_back('\0');
    ASSERT_EQ(first.size(), ParseReplyHead(area.data(), first.size(), &head));
    EXPECT_STREQ("4", head.contentLength);
    area.assign(second.begin(), second.end());
    area.push_back('\0');
    ASSERT_EQ(second.size(), ParseReplyHead(area.data(), second.size(), &head));
    EXPECT_STREQ("1.0", head.httpVersion);
    EXPECT_STREQ("200", head.statusCode);
    EXPECT_STREQ("", head.contentLength);
}

// ---- ReadHttpReplyFrom ----

const DWORD TIMEOUT_MS = 30000;
const size_t ANY_RECEIVES = static_cast<size_t>(-1);

struct ReadCase {
    const char* name;
    std::vector<std::string> pieces;
    int result;
    LONG ippStatus;
    DWORD lastError;
    size_t receives;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadHttpReplyTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadHttpReplyTest, Reads) {
    const ReadCase& c = GetParam();
    ScriptedSource script(c.pieces);
    ReplySource source = script.Source();
    LONG ippStatus = 0x5555;
    SetLastError(UNTOUCHED);

    EXPECT_EQ(c.result, ReadHttpReplyFrom(&source, &ippStatus, TIMEOUT_MS));
    EXPECT_EQ(c.ippStatus, ippStatus);
    EXPECT_EQ(c.lastError, GetLastError());
    if (c.receives != ANY_RECEIVES) {
        EXPECT_EQ(c.receives, script.Calls().size());
    }
    size_t offered = 0;
    for (const ScriptedSource::Call& call : script.Calls()) {
        EXPECT_GT(call.size, 0);
        EXPECT_LE(call.size, REPLY_BUFFER_SIZE);
        EXPECT_EQ(TIMEOUT_MS, call.timeoutMs);
        offered += static_cast<size_t>(call.size);
    }
    EXPECT_GT(offered, 0u);
}

const std::string LARGE_INTERIM = "HTTP/1.1 100 Continue\r\nContent-Length: 50000\r\n\r\n";

// A 200 reply of totalBytes (head and body), delivered as head and status-code, then the rest.
std::vector<std::string> SizedReply(size_t totalBytes, unsigned ippStatus) {
    // The head is 42 bytes long while the length has five digits.
    const size_t headBytes = 42;
    std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(totalBytes - headBytes) + "\r\n\r\n";
    EXPECT_EQ(headBytes, head.size());
    std::string body = IppBody(ippStatus);
    return {head + body, std::string(totalBytes - headBytes - body.size(), 'b')};
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadHttpReplyTest,
    testing::Values(
        ReadCase{"StatusZero", {Ok(0x0000)}, 200, 0, UNTOUCHED, 1},
        ReadCase{"StatusFromTheBody", {Ok(0x040A)}, 200, 0x040A, UNTOUCHED, 1},
        ReadCase{"NegativeStatusCode", {Ok(0x8001)}, 200, -32767, UNTOUCHED, 1},
        ReadCase{"HeadSplitInALineBodyLater",
                 {"HTTP/1.1 200 OK\r\nConte", "nt-Length: 9\r\n\r\n", IppBody(0x040A)},
                 200,
                 0x040A,
                 UNTOUCHED,
                 3},
        ReadCase{"BodySplit",
                 {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n\x01\x01\x04",
                  std::string("\x0a\0\0\0\x07\x03", 6)},
                 200,
                 0x040A,
                 UNTOUCHED,
                 2},
        ReadCase{
            "InterimThenFinalInOneReceive", {CONTINUE + Ok(0x040A)}, 200, 0x040A, UNTOUCHED, 1},
        ReadCase{"InterimAlone", {CONTINUE}, 100, 0, UNTOUCHED, 1},
        // No bytes remain after the interim reply: the final one is left for the next reading.
        ReadCase{"InterimThenFinalLater", {CONTINUE, Ok(0x040A)}, 100, 0, UNTOUCHED, 1},
        ReadCase{"InterimHeadSplit",
                 {"HTTP/1.1 100 Cont", "inue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 9\r\n",
                  "\r\n" + IppBody(0x0406)},
                 200,
                 0x0406,
                 UNTOUCHED,
                 3},
        ReadCase{"InterimWithBody",
                 {"HTTP/1.1 100 Continue\r\nContent-Length: 5\r\n\r\nHTTP/" + Ok(0x0406)},
                 200,
                 0x0406,
                 UNTOUCHED,
                 1},
        ReadCase{"InterimThenNotFound",
                 {CONTINUE + Reply("HTTP/1.1 404 Not Found", "")},
                 404,
                 0,
                 ERROR_CONNECTION_UNAVAIL,
                 1},
        // An interim body larger than the area is dropped as it arrives, never parsed.
        ReadCase{"InterimBodyLargerThanTheArea",
                 {LARGE_INTERIM + HeadLikeFiller(20000), HeadLikeFiller(25000),
                  HeadLikeFiller(5000) + Ok(0x040A)},
                 200,
                 0x040A,
                 UNTOUCHED,
                 ANY_RECEIVES},
        ReadCase{"InterimBodyLargerThanTheAreaEndsTheData",
                 {LARGE_INTERIM + HeadLikeFiller(20000), HeadLikeFiller(30000)},
                 100,
                 0,
                 UNTOUCHED,
                 ANY_RECEIVES},
        ReadCase{
            "InterimBodyNeverArrives", {LARGE_INTERIM + HeadLikeFiller(100)}, 408, 0, UNTOUCHED, 2},
        // A negative length counts as no body: only the interim head is dropped.
        ReadCase{"InterimNegativeLength",
                 {"HTTP/1.1 100 Continue\r\nContent-Length: -5\r\n\r\n" + Ok(0x040A)},
                 200,
                 0x040A,
                 UNTOUCHED,
                 1},
        // The final reply's framing is its own, not the interim reply's.
        ReadCase{"InterimLengthDoesNotFrameTheFinalReply",
                 {"HTTP/1.1 100 Continue\r\nContent-Length: 4\r\n\r\nabcd"
                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\n" +
                  IppBody(0x040A) + "\r\n0\r\n\r\n"},
                 200,
                 0,
                 UNTOUCHED,
                 1},
        ReadCase{"NotFound",
                 {Reply("HTTP/1.1 404 Not Found", IppBody(0x0400))},
                 404,
                 0,
                 ERROR_CONNECTION_UNAVAIL,
                 1},
        ReadCase{"NonNumericStatus", {"HTTP/1.1 OK\r\n\r\n"}, 0, 0, ERROR_CONNECTION_UNAVAIL, 1},
        ReadCase{"StatusTooLargeForAnyNumber",
                 {"HTTP/1.1 4294967496 OK\r\n\r\n"},
                 2147483647,
                 0,
                 ERROR_CONNECTION_UNAVAIL,
                 1},
        ReadCase{"PrintersOwn408",
                 {"HTTP/1.1 408 Request Timeout\r\n\r\n"},
                 408,
                 0,
                 ERROR_CONNECTION_UNAVAIL,
                 1},
        ReadCase{"LengthInOtherLetterCaseWithSpaces",
                 {"HTTP/1.1 200 OK\r\ncontent-length:   25\r\n\r\n" + IppBody(0x0400) +
                  std::string(16, 'a')},
                 200,
                 0x0400,
                 UNTOUCHED,
                 1},
        ReadCase{"LengthWithoutSpace",
                 {"HTTP/1.1 200 OK\r\nContent-Length:25\r\n\r\n" + IppBody(0x0400),
                  std::string(16, 'a')},
                 200,
                 0x0400,
                 UNTOUCHED,
                 2},
        ReadCase{"ChunkedReplyIsNotWaitedFor",
                 {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                  "9\r\n" + IppBody(0x040A) + "\r\n0\r\n\r\n"},
                 200,
                 0,
                 UNTOUCHED,
                 1},
        ReadCase{"BodyLargerThanTheAreaIsNotWaitedFor",
                 {"HTTP/1.1 200 OK\r\nContent-Length: 30000\r\n\r\n" + IppBody(0x040A),
                  std::string(29991, 'b')},
                 200,
                 0,
                 UNTOUCHED,
                 1},
        // Head and body fill the area exactly: the reply is read whole.
        ReadCase{"ReplyFillsTheArea", SizedReply(REPLY_BUFFER_SIZE, 0x0406), 200, 0x0406, UNTOUCHED,
                 2},
        ReadCase{"ReplyOneByteLargerThanTheArea", SizedReply(REPLY_BUFFER_SIZE + 1, 0x0406), 200, 0,
                 UNTOUCHED, 1},
        ReadCase{"HeadWithoutHeaderLines",
                 {"HTTP/1.0 200 OK\r\n\r\n" + IppBody(0x040A)},
                 200,
                 0,
                 UNTOUCHED,
                 1},
        ReadCase{"BodyShorterThanAStatusCode",
                 {Reply("HTTP/1.1 200 OK", "\x01\x01\x04")},
                 200,
                 0,
                 UNTOUCHED,
                 1},
        ReadCase{"BytesAfterTheBodyIgnored",
                 {Ok(0x040A) + Reply("HTTP/1.1 404 Not Found", "")},
                 200,
                 0x040A,
                 UNTOUCHED,
                 1},
        ReadCase{"NegativeLength",
                 {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n" + IppBody(0x040A)},
                 200,
                 0,
                 UNTOUCHED,
                 1},
        // 4294967305 is 9 once wrapped to 32 bits.
        ReadCase{"LengthBeyond32Bits",
                 {"HTTP/1.1 200 OK\r\nContent-Length: 4294967305\r\n\r\n" + IppBody(0x040A)},
                 200,
                 0,
                 UNTOUCHED,
                 1},
        ReadCase{"LengthBeyondAnyNumber",
                 {"HTTP/1.1 200 OK\r\nContent-Length: 999999999999999999999999999\r\n\r\n" +
                  IppBody(0x040A)},
                 200,
                 0,
                 UNTOUCHED,
                 1},
        ReadCase{"LengthOf127Characters",
                 {"HTTP/1.1 200 OK\r\nContent-Length: " + std::string(126, '0') + "9\r\n\r\n" +
                  IppBody(0x040A)},
                 200,
                 0x040A,
                 UNTOUCHED,
                 1},
        // A length that cannot be held makes the reply unreadable: the reading fails.
        ReadCase{"LengthOf128Characters",
                 {"HTTP/1.1 200 OK\r\nContent-Length: " + std::string(127, '0') + "9\r\n\r\n" +
                  IppBody(0x040A)},
                 0,
                 0,
                 ERROR_CONNECTION_UNAVAIL,
                 1},
        ReadCase{"NoData", {}, 408, 0, UNTOUCHED, 1},
        ReadCase{"HeadCutOff", {"HTTP/1.1 200 OK\r\nCon"}, 408, 0, UNTOUCHED, 2},
        ReadCase{"BodyCutOff",
                 {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n\x01\x01\x04\x0a"},
                 408,
                 0,
                 UNTOUCHED,
                 2},
        ReadCase{"NulInTheHead",
                 {std::string("HTTP/1.1 200 OK\r\n\0\r\n\r\n", 21)},
                 408,
                 0,
                 UNTOUCHED,
                 2},
        // The area fills without a head's end: no receive of 0 bytes is asked for.
        ReadCase{"HeadNeverEnds", {std::string(30000, 'a')}, 408, 0, UNTOUCHED, 1},
        ReadCase{"HeaderLineLongerThanTheArea",
                 {"HTTP/1.1 200 OK\r\nX-Long: ", std::string(25000, 'a') + "\r\n\r\n"},
                 408,
                 0,
                 UNTOUCHED,
                 2}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(ReadHttpReplyFrom, FailedReceiveEndsTheReading) {
    ScriptedSource script;
    script.Add("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n").AddFailure().Add(IppBody(0x040A));
    ReplySource source = script.Source();
    LONG ippStatus = 7;
    EXPECT_EQ(408, ReadHttpReplyFrom(&source, &ippStatus, TIMEOUT_MS));
    EXPECT_EQ(0, ippStatus);
    EXPECT_EQ(9u, script.Remaining());
}

// A source that claims more bytes than it was offered, or answers with an error count.
struct LyingSource {
    bool overclaim;
    int answer;
    static int Receive(void* context, char* buffer, int size, DWORD) {
        const LyingSource* self = static_cast<const LyingSource*>(context);
        memset(buffer, 'a', static_cast<size_t>(size));
        return self->overclaim ? size + 1 : self->answer;
    }
};

TEST(ReadHttpReplyFrom, DistrustsTheSourcesCount) {
    for (LyingSource lying :
         {LyingSource{true, 0}, LyingSource{false, -1}, LyingSource{false, -10060}}) {
        int answer = lying.answer;
        ReplySource source{&LyingSource::Receive, &lying};
        LONG ippStatus = 7;
        EXPECT_EQ(408, ReadHttpReplyFrom(&source, &ippStatus, TIMEOUT_MS)) << answer;
        EXPECT_EQ(0, ippStatus);
    }
}

TEST(ReadHttpReplyFrom, NoSourceGives408) {
    LONG ippStatus = 7;
    EXPECT_EQ(408, ReadHttpReplyFrom(nullptr, &ippStatus, TIMEOUT_MS));
    EXPECT_EQ(0, ippStatus);
    ReplySource empty{nullptr, nullptr};
    EXPECT_EQ(408, ReadHttpReplyFrom(&empty, &ippStatus, TIMEOUT_MS));
}

TEST(ReadHttpReplyFrom, InterimBodyIsDroppedExactly) {
    // The interim body ends in the middle of a receive; what follows it is the final reply.
    ScriptedSource script;
    script.Add(LARGE_INTERIM + HeadLikeFiller(20000))
        .Add(HeadLikeFiller(29990))
        .Add(HeadLikeFiller(10) + Ok(0x0503) + "trailing");
    ReplySource source = script.Source();
    LONG ippStatus = 0;
    EXPECT_EQ(200, ReadHttpReplyFrom(&source, &ippStatus, TIMEOUT_MS));
    EXPECT_EQ(0x0503, ippStatus);
    EXPECT_EQ(0u, script.Remaining());
}

} // namespace
