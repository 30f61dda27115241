#include "monitor/ipp/ipp_reply.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "monitor/ipp/ipp_request.h"
#include "tests/native/scripted_source.h"

namespace {

const DWORD kTimeoutMs = 300000;

std::string Word16(size_t value) {
    return std::string{static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)};
}

std::string Dword(DWORD value) {
    return Word16(value >> 16) + Word16(value & 0xFFFF);
}

// version 1.1, status-code, request-id 1.
std::string Header(WORD status = 0x0000) {
    return "\x01\x01" + Word16(status) + Dword(1);
}

std::string Attr(BYTE tag, const std::string& name, const std::string& value) {
    return std::string(1, static_cast<char>(tag)) + Word16(name.size()) + name +
           Word16(value.size()) + value;
}

std::string Enum(const std::string& name, DWORD value) {
    return Attr(IPP_TAG_ENUM, name, Dword(value));
}

// An additional value of the attribute before it (name-length 0).
std::string Also(BYTE tag, const std::string& value) {
    return Attr(tag, "", value);
}

const char kGroupOperation[] = "\x01";
const char kGroupPrinter[] = "\x04";
const char kGroupUnsupported[] = "\x05";
const char kEnd[] = "\x03";

// A filler attribute of `size` bytes in all (6 bytes or more) that nothing recognises.
std::string Filler(size_t size) {
    return Attr(0x30, "f", std::string(size - 6, 'f'));
}

// A body of exactly `size` bytes: header, fillers, then `tail`.
std::string BodyOfSize(size_t size, const std::string& tail) {
    std::string body = Header();
    size_t room = size - body.size() - tail.size();
    while (room >= 6) {
        size_t piece = room < 6 + 0xFFFF ? room : 6 + 0xFFFF;
        if (room - piece > 0 && room - piece < 6) {
            piece -= 6; // leave a remainder a filler can hold
        }
        body += Filler(piece);
        room -= piece;
    }
    body += std::string(room, kGroupPrinter[0]); // any last bytes as group delimiters
    return body + tail;
}

// Parses from an allocation of exactly the body's size, so a read past the body is a heap
// overflow under the address sanitizer.
void ParseExact(const std::string& body, PrinterWords* words) {
    std::unique_ptr<BYTE[]> copy(new BYTE[body.size() + (body.empty() ? 1 : 0)]);
    memcpy(copy.get(), body.data(), body.size());
    ParseIppReply(copy.get(), body.size(), words->stateWord, words->reasonWord,
                  words->makeAndModel);
}

PrinterWords Parsed(const std::string& body) {
    PrinterWords words;
    memset(&words, 0, sizeof words);
    ParseExact(body, &words);
    return words;
}

TEST(ParseIppReply, TakesTheStateReasonsAndModel) {
    struct Case {
        const char* what;
        std::string attributes;
        std::string state;
        std::string reason;
        std::string model;
    };
    const std::string longName(512, 'n');
    const std::string longestName(511, 'n');
    const Case cases[] = {
        {"state idle", Enum("printer-state", 3), "Idle", "", ""},
        {"state processing", Enum("printer-state", 4), "Processing", "", ""},
        {"state stopped", Enum("printer-state", 5), "Stop", "", ""},
        {"state unknown number", Enum("printer-state", 6), "", "", ""},
        {"state zero", Enum("printer-state", 0), "", "", ""},
        {"later state wins", Enum("printer-state", 3) + Enum("printer-state", 5), "Stop", "", ""},
        {"unknown state keeps the earlier", Enum("printer-state", 4) + Enum("printer-state", 99),
         "Processing", "", ""},
        {"job pending", Enum("job-state", 3), "", "pending", ""},
        {"job held", Enum("job-state", 4), "", "pending-hold", ""},
        {"job processing", Enum("job-state", 5), "", "processing", ""},
        {"job stopped", Enum("job-state", 6), "", "processing-stopped", ""},
        {"job canceled", Enum("job-state", 7), "", "canceled", ""},
        {"job aborted", Enum("job-state", 8), "", "aborted", ""},
        {"job completed", Enum("job-state", 9), "", "completed", ""},
        {"job state unknown", Enum("job-state", 2) + Enum("job-state", 10), "", "", ""},
        {"job-state shares the reason",
         Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "none") + Enum("job-state", 9), "",
         "completed", ""},
        {"one reason", Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "media-jam-error"), "",
         "media-jam-error", ""},
        {"last of a 1setOf",
         Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "media-low") +
             Also(IPP_TAG_KEYWORD, "door-open"),
         "", "door-open", ""},
        {"model", Attr(IPP_TAG_TEXT, "printer-make-and-model", "Example Printer"), "", "",
         "Example Printer"},
        {"state as integer", Attr(IPP_TAG_INTEGER, "printer-state", Dword(4)), "", "", ""},
        {"reason as name", Attr(IPP_TAG_NAME, "printer-state-reasons", "door-open"), "", "", ""},
        {"reason as text", Attr(IPP_TAG_TEXT, "printer-state-reasons", "door-open"), "", "", ""},
        {"model as textWithLanguage",
         Attr(0x35, "printer-make-and-model", std::string("\x00\x02", 2) + "en" + Word16(1) + "M"),
         "", "", ""},
        {"model as name", Attr(IPP_TAG_NAME, "printer-make-and-model", "M"), "", "", ""},
        {"names are case-sensitive", Enum("Printer-State", 3), "", "", ""},
        {"names are compared whole", Enum("printer-state-time", 3), "", "", ""},
        {"name with a NUL inside", Enum(std::string("printer-state\0", 14), 3), "", "", ""},
        {"unsupported group",
         kGroupUnsupported + Enum("printer-state", 4) +
             Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "paused"),
         "Processing", "paused", ""},
        {"every group",
         kGroupOperation + Attr(IPP_TAG_CHARSET, "attributes-charset", "utf-8") + kGroupPrinter +
             Enum("printer-state", 3) + kGroupUnsupported +
             Attr(IPP_TAG_TEXT, "printer-make-and-model", "X") + kEnd,
         "Idle", "", "X"},
        {"end of attributes stops the walk", kEnd + Enum("printer-state", 4), "", "", ""},
        {"enum of 3 bytes is ignored, the walk goes on",
         Attr(IPP_TAG_ENUM, "printer-state", std::string("\x00\x00\x04", 3)) +
             Attr(IPP_TAG_TEXT, "printer-make-and-model", "M"),
         "", "", "M"},
        {"enum of 5 bytes is ignored",
         Attr(IPP_TAG_ENUM, "printer-state", std::string("\x00\x00\x00\x04\x00", 5)), "", "", ""},
        {"additional value with no name before it", Also(IPP_TAG_KEYWORD, "door-open"), "", "", ""},
        {"additional value of another attribute",
         Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "none") +
             Attr(IPP_TAG_KEYWORD, "printer-type-keywords", "x") +
             Also(IPP_TAG_KEYWORD, "door-open"),
         "", "none", ""},
        {"over-long name: its values are not taken for the name before it",
         Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "none") +
             Attr(IPP_TAG_KEYWORD, longName, "a") + Also(IPP_TAG_KEYWORD, "door-open") +
             Enum("printer-state", 3),
         "Idle", "none", ""},
        {"longest name is walked over",
         Attr(IPP_TAG_KEYWORD, longestName, "a") + Enum("printer-state", 5), "Stop", "", ""},
        {"reason of 511 bytes is taken",
         Attr(IPP_TAG_KEYWORD, "printer-state-reasons", std::string(511, 'r')), "",
         std::string(511, 'r'), ""},
        {"reason of 512 bytes is skipped",
         Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "none") +
             Also(IPP_TAG_KEYWORD, std::string(512, 'r')) + Enum("printer-state", 4),
         "Processing", "none", ""},
        {"model of 512 bytes is skipped",
         Attr(IPP_TAG_TEXT, "printer-make-and-model", std::string(512, 'm')), "", "", ""},
        {"unknown group delimiter 0x07 is stepped over",
         std::string("\x07", 1) + Enum("printer-state", 3), "Idle", "", ""},
        {"tag 0x00 stops the walk", std::string("\x00", 1) + Enum("printer-state", 3), "", "", ""},
        {"tag 0x80 stops the walk", std::string("\x80", 1) + Enum("printer-state", 3), "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PrinterWords words = Parsed(Header() + c.attributes);
        EXPECT_EQ(c.state, words.stateWord);
        EXPECT_EQ(c.reason, words.reasonWord);
        EXPECT_EQ(c.model, words.makeAndModel);
    }
}

TEST(ParseIppReply, AbsentAttributesLeaveTheWordsAsTheyWere) {
    PrinterWords words;
    strcpy(words.stateWord, "keep-state");
    strcpy(words.reasonWord, "keep-reason");
    strcpy(words.makeAndModel, "keep-model");
    ParseExact(Header() + kGroupPrinter + Enum("printer-state", 3) + kEnd, &words);
    EXPECT_STREQ("Idle", words.stateWord);
    EXPECT_STREQ("keep-reason", words.reasonWord);
    EXPECT_STREQ("keep-model", words.makeAndModel);
}

TEST(ParseIppReply, BodyOfEightBytesOrLessHasNoAttributes) {
    for (size_t size = 0; size <= 8; ++size) {
        SCOPED_TRACE(size);
        std::string body = (Header() + Enum("printer-state", 3)).substr(0, size);
        PrinterWords words = Parsed(body);
        EXPECT_STREQ("", words.stateWord);
    }
    ParseIppReply(nullptr, 100, nullptr, nullptr, nullptr); // no body at all: nothing happens
}

TEST(ParseIppReply, TruncatedAttributesStopTheWalkAndKeepWhatCameBefore) {
    const std::string before = Header() + Enum("printer-state", 4);
    const std::string reason = Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "door-open");
    // Every cut inside the second attribute: tag only, inside name-length, inside the name,
    // inside value-length, inside the value.
    for (size_t cut = 1; cut < reason.size(); ++cut) {
        SCOPED_TRACE(cut);
        PrinterWords words = Parsed(before + reason.substr(0, cut));
        EXPECT_STREQ("Processing", words.stateWord);
        EXPECT_STREQ("", words.reasonWord);
    }
    EXPECT_STREQ("door-open", Parsed(before + reason).reasonWord);
}

TEST(ParseIppReply, LengthsThatRunPastTheBodyStopTheWalk) {
    struct Case {
        const char* what;
        std::string attributes;
    };
    const Case cases[] = {
        {"name-length past the body", std::string("\x23\xFF\xFF", 3) + "printer-state"},
        {"value-length past the body", std::string("\x23\x00\x0D", 3) + "printer-state" +
                                           std::string("\xFF\xFF\x00\x00\x00\x03", 6)},
        {"value-length one byte too long", std::string("\x23\x00\x0D", 3) + "printer-state" +
                                               std::string("\x00\x05\x00\x00\x00\x03", 6)},
        {"name-length reaching the value-length",
         std::string("\x23\x00\x0E", 3) + "printer-state" + std::string("\x00", 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PrinterWords words = Parsed(Header() + c.attributes);
        EXPECT_STREQ("", words.stateWord);
    }
}

// Each tag byte, in the two shapes a walk can meet: followed directly by an attribute, and
// followed by an element of empty name and value. Every prefix of every body is parsed from
// an allocation of its exact size: the walk must never read past it.
TEST(ParseIppReply, EveryTagByteIsHandledWithinTheBody) {
    const std::string state = Enum("printer-state", 4);
    for (int tag = 0; tag <= 0xFF; ++tag) {
        SCOPED_TRACE(tag);
        const std::string t(1, static_cast<char>(tag));
        const bool delimiter = tag >= 0x01 && tag <= 0x0F && tag != 0x03;
        const bool value = tag >= 0x10 && tag <= 0x7F;

        // Tag, then the attribute: a delimiter is stepped over; a value tag takes the
        // attribute's first bytes (0x23 0x00) as a name-length past the body; the rest stop.
        const std::string direct = Header() + t + state;
        EXPECT_STREQ(delimiter ? "Processing" : "", Parsed(direct).stateWord);

        // Tag, empty name and value, then the attribute: a value tag's element is 5 bytes; a
        // delimiter is followed by the tag 0x00, which stops the walk.
        const std::string element = Header() + t + std::string(4, '\0') + state;
        EXPECT_STREQ(value ? "Processing" : "", Parsed(element).stateWord);

        for (size_t size = 0; size <= element.size(); ++size) {
            Parsed(direct.substr(0, size));
            Parsed(element.substr(0, size));
        }
    }
}

// The reply to a status query as a printer sends it.
std::string Reply(const std::string& body, const char* statusLine = "HTTP/1.1 200 OK") {
    return std::string(statusLine) +
           "\r\nContent-Type: application/ipp\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

const std::string kStatusBody =
    Header(0x0001) + kGroupOperation + Attr(IPP_TAG_CHARSET, "attributes-charset", "utf-8") +
    kGroupPrinter + Enum("printer-state", 3) +
    Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "none") +
    Attr(IPP_TAG_TEXT, "printer-make-and-model", "Example Printer") + kEnd;

struct ReadResult {
    int result;
    LONG httpStatus;
    LONG ippStatus;
    DWORD chunked;
    DWORD lastError;
    PrinterWords words;
};

ReadResult Read(ScriptedSource* script, BOOL useProxy = FALSE) {
    ReadResult r;
    memset(&r, 0, sizeof r);
    r.httpStatus = -1;
    r.ippStatus = -1;
    r.chunked = 0xdeadbeef;
    ReplySource source = script->Source();
    SetLastError(0xdeadbeef);
    r.result = ReadPrinterReply(&source, kTimeoutMs, useProxy, &r.httpStatus, &r.words,
                                &r.ippStatus, &r.chunked);
    r.lastError = GetLastError();
    return r;
}

void ExpectIdleExamplePrinter(const ReadResult& r) {
    EXPECT_EQ(1, r.result);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(1, r.ippStatus);
    EXPECT_EQ(1u, r.chunked);
    EXPECT_STREQ("Idle", r.words.stateWord);
    EXPECT_STREQ("none", r.words.reasonWord);
    EXPECT_STREQ("Example Printer", r.words.makeAndModel);
}

TEST(ReadPrinterReply, ReadsAReplyInOnePiece) {
    ScriptedSource script({Reply(kStatusBody)});
    ReadResult r = Read(&script);
    ExpectIdleExamplePrinter(r);
    for (const ScriptedSource::Call& call : script.Calls()) {
        EXPECT_EQ(kTimeoutMs, call.timeoutMs);
    }
}

TEST(ReadPrinterReply, ReadsAReplyInPieces) {
    const std::string reply = Reply(kStatusBody);
    const size_t headEnd = reply.find("\r\n\r\n") + 4;
    struct Case {
        const char* what;
        std::vector<size_t> cuts;
    };
    const Case cases[] = {
        {"head cut inside a line, body later", {10, 30, headEnd}},
        {"head whole, body in two", {headEnd, headEnd + 9}},
        {"body cut inside its header", {headEnd + 3}},
        {"empty line split", {headEnd - 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedSource script;
        size_t from = 0;
        for (size_t cut : c.cuts) {
            script.Add(reply.substr(from, cut - from));
            from = cut;
        }
        script.Add(reply.substr(from));
        ExpectIdleExamplePrinter(Read(&script));
    }

    ScriptedSource bytes;
    for (char ch : reply) {
        bytes.Add(std::string(1, ch));
    }
    ExpectIdleExamplePrinter(Read(&bytes));
}

// The status code and the Content-Length are read the way atol reads them, white space of any
// kind first, as ReadHttpReplyFrom reads them: a reply the Print-Job reader frames one way must
// not lose its body, or its status, in the status query.
TEST(ReadPrinterReply, NumbersAreReadAsThePrintJobReaderReadsThem) {
    const std::string length = std::to_string(kStatusBody.size());
    const std::string heads[] = {
        "HTTP/1.1 200 OK\r\nContent-Length:\v " + length + "\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: \f" + length + "\r\n\r\n",
        "HTTP/1.1 \v200 OK\r\nContent-Length: " + length + "\r\n\r\n",
    };
    for (const std::string& head : heads) {
        SCOPED_TRACE(testing::PrintToString(head));
        ScriptedSource query({head + kStatusBody});
        ExpectIdleExamplePrinter(Read(&query));

        ScriptedSource job({head + kStatusBody});
        ReplySource source = job.Source();
        LONG ippStatus = -1;
        EXPECT_EQ(200, ReadHttpReplyFrom(&source, &ippStatus, kTimeoutMs));
        EXPECT_EQ(1, ippStatus);
    }
}

TEST(ReadPrinterReply, ChunkedFollowsVersionAndProxy) {
    struct Case {
        const char* statusLine;
        BOOL useProxy;
        DWORD chunked;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK", FALSE, 1},        {"HTTP/1.1 200 OK", TRUE, 0},
        {"HTTP/1.0 200 OK", FALSE, 0},        {"HTTP/1.0 200 OK", TRUE, 0},
        {"HTTP/1.1 404 Not Found", FALSE, 1}, {"HTTP/1.1 404 Not Found", TRUE, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.statusLine << " proxy " << c.useProxy);
        ScriptedSource script({Reply(kStatusBody, c.statusLine)});
        EXPECT_EQ(c.chunked, Read(&script, c.useProxy).chunked);
    }
}

TEST(ReadPrinterReply, BodyOfEightBytesGivesItsStatusAndNoWords) {
    ScriptedSource script({Reply(Header(0x0406))});
    ReadResult r = Read(&script);
    EXPECT_EQ(1, r.result);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(0x0406, r.ippStatus);
    EXPECT_EQ(1200u, IppStatusToError(r.ippStatus));
    EXPECT_STREQ("", r.words.stateWord);
    EXPECT_STREQ("", r.words.reasonWord);
    EXPECT_STREQ("", r.words.makeAndModel);
}

TEST(ReadPrinterReply, BodyShorterThanFourBytesGivesStatusZero) {
    ScriptedSource script({Reply(std::string("\x01\x01\x04", 3))});
    ReadResult r = Read(&script);
    EXPECT_EQ(1, r.result);
    EXPECT_EQ(0, r.ippStatus);
}

TEST(ReadPrinterReply, StatusCodeKeepsItsSignWhenWidened) {
    ScriptedSource script({Reply(Header(0x8001))});
    ReadResult r = Read(&script);
    EXPECT_EQ(1, r.result);
    EXPECT_EQ(-32767, r.ippStatus);
    EXPECT_EQ(static_cast<DWORD>(ERROR_MONITOR_IPP), IppStatusToError(r.ippStatus));
}

TEST(ReadPrinterReply, ReplyWithoutContentLengthIsSuccessWithEmptyOutputs) {
    ScriptedSource script;
    script.Add("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    script.Add("47\r\n" + kStatusBody + "\r\n0\r\n\r\n");
    ReadResult r = Read(&script);
    EXPECT_EQ(1, r.result);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(0, r.ippStatus);
    EXPECT_STREQ("", r.words.stateWord);
    EXPECT_EQ(1u, script.Calls().size()); // the body was not waited for
}

TEST(ReadPrinterReply, InterimRepliesAreSkipped) {
    const std::string reply = Reply(kStatusBody);
    // The interim body looks like a head of its own: read as one, it would fail the reply.
    const std::string interimWithBody =
        "HTTP/1.1 100 Continue\r\nContent-Length: 6\r\n\r\nab\r\n\r\n";
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"100 and 200 in one read", {kContinue + reply}},
        {"100, then 200", {kContinue, reply}},
        {"two interim replies", {kContinue + kContinue, reply}},
        {"100 cut in its head", {kContinue.substr(0, 9), kContinue.substr(9) + reply}},
        {"100 with a body", {interimWithBody + reply}},
        {"100 whose body comes later",
         {interimWithBody.substr(0, interimWithBody.size() - 4), "\r\n\r\n" + reply}},
        {"100 whose body comes in pieces",
         {interimWithBody.substr(0, interimWithBody.size() - 6), "ab", "\r\n", "\r\n", reply}},
        {"100 whose body ends inside the next read",
         {interimWithBody.substr(0, interimWithBody.size() - 3), "\n\r\n" + reply}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedSource script(c.pieces);
        ExpectIdleExamplePrinter(Read(&script));
    }
}

TEST(ReadPrinterReply, InterimReplyAloneFails) {
    ScriptedSource script({kContinue});
    ReadResult r = Read(&script);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(0, r.ippStatus);
}

TEST(ReadPrinterReply, StatusOtherThan200Fails) {
    struct Case {
        const char* statusLine;
        LONG httpStatus;
    };
    const Case cases[] = {
        {"HTTP/1.1 404 Not Found", 404},
        {"HTTP/1.1 500 Internal Server Error", 500},
        {"HTTP/1.1 204 No Content", 204},
        {"HTTP/1.1 abc", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statusLine);
        ScriptedSource script({Reply(kStatusBody, c.statusLine)});
        ReadResult r = Read(&script);
        EXPECT_EQ(0, r.result);
        EXPECT_EQ(c.httpStatus, r.httpStatus);
        EXPECT_EQ(0, r.ippStatus);
        EXPECT_EQ(static_cast<DWORD>(ERROR_CONNECTION_UNAVAIL), r.lastError);
        EXPECT_STREQ("", r.words.stateWord);
    }
}

TEST(ReadPrinterReply, NothingReceivedFails) {
    ScriptedSource script;
    ReadResult r = Read(&script);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(0, r.httpStatus);
    EXPECT_EQ(0, r.ippStatus);

    ScriptedSource partHead({"HTTP/1.1 200 OK\r\nContent-Len"});
    EXPECT_EQ(0, Read(&partHead).result);
}

TEST(ReadPrinterReply, HeadThatDoesNotEndWithinTheAreaFails) {
    ScriptedSource script;
    script.Add("HTTP/1.1 200 OK\r\n");
    for (int i = 0; i < 30; ++i) {
        script.Add("X-Filler: " + std::string(1000, 'x') + "\r\n");
    }
    script.Add("\r\n");
    ReadResult r = Read(&script);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(static_cast<size_t>(REPLY_BUFFER_SIZE), script.Delivered());
}

TEST(ReadPrinterReply, IncompleteBodyIsSuccessWithNothingParsed) {
    const std::string reply = Reply(kStatusBody);
    for (size_t missing : {size_t(1), size_t(10), kStatusBody.size()}) {
        SCOPED_TRACE(missing);
        ScriptedSource script({reply.substr(0, reply.size() - missing)});
        ReadResult r = Read(&script);
        EXPECT_EQ(1, r.result);
        EXPECT_EQ(200, r.httpStatus);
        EXPECT_EQ(0, r.ippStatus);
        EXPECT_STREQ("", r.words.stateWord);
    }
}

TEST(ReadPrinterReply, BodyLargerThanTheFirstAreaIsParsed) {
    // Tens of kilobytes, as an IPP Everywhere printer answers "all"; the printer's words at the
    // end, delivered in segments of varied sizes.
    const std::string tail = Enum("printer-state", 4) +
                             Attr(IPP_TAG_KEYWORD, "printer-state-reasons", "media-low-report") +
                             Attr(IPP_TAG_TEXT, "printer-make-and-model", "Big Printer") + kEnd;
    for (size_t size : {size_t(REPLY_BUFFER_SIZE) - 100, size_t(REPLY_BUFFER_SIZE) + 1,
                        size_t(65536), size_t(300000)}) {
        SCOPED_TRACE(size);
        const std::string reply = Reply(BodyOfSize(size, tail));
        ScriptedSource script;
        size_t piece = 1;
        for (size_t from = 0; from < reply.size(); from += piece, piece = piece * 3 % 7919 + 1) {
            script.Add(reply.substr(from, piece));
        }
        ReadResult r = Read(&script);
        EXPECT_EQ(1, r.result);
        EXPECT_EQ(0, r.ippStatus);
        EXPECT_STREQ("Processing", r.words.stateWord);
        EXPECT_STREQ("media-low-report", r.words.reasonWord);
        EXPECT_STREQ("Big Printer", r.words.makeAndModel);
        EXPECT_EQ(0u, script.Remaining());
    }
}

// A reply of `total` bytes, head and body, with the printer's state at the end of the body.
std::string ReplyOfSize(size_t total) {
    const std::string tail = Enum("printer-state", 5);
    std::string head = Reply("", "HTTP/1.1 200 OK");
    head = head.substr(0, head.find("Content-Length: ") + 16);
    // The digits of the length count towards the head.
    for (size_t digits = 1; digits < 10; ++digits) {
        size_t body = total - head.size() - digits - 4;
        if (std::to_string(body).size() == digits) {
            return head + std::to_string(body) + "\r\n\r\n" + BodyOfSize(body, tail);
        }
    }
    return std::string();
}

TEST(ReadPrinterReply, ReplyOfTheLargestSizeIsParsed) {
    const std::string reply = ReplyOfSize(PRINTER_REPLY_MAX_BYTES);
    ASSERT_EQ(static_cast<size_t>(PRINTER_REPLY_MAX_BYTES), reply.size());
    ScriptedSource script;
    for (size_t from = 0; from < reply.size(); from += 65536) {
        script.Add(reply.substr(from, 65536));
    }
    ReadResult r = Read(&script);
    EXPECT_EQ(1, r.result);
    EXPECT_STREQ("Stop", r.words.stateWord);
    // The area never offered more room than the largest reply.
    for (const ScriptedSource::Call& call : script.Calls()) {
        EXPECT_LE(static_cast<size_t>(call.size), static_cast<size_t>(PRINTER_REPLY_MAX_BYTES));
    }
}

TEST(ReadPrinterReply, ReplyBeyondTheLargestSizeIsLeftUnparsed) {
    const std::string reply = ReplyOfSize(PRINTER_REPLY_MAX_BYTES + 1);
    ASSERT_EQ(static_cast<size_t>(PRINTER_REPLY_MAX_BYTES) + 1, reply.size());
    ScriptedSource script({reply.substr(0, 4096), reply.substr(4096)});
    ReadResult r = Read(&script);
    EXPECT_EQ(1, r.result);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(0, r.ippStatus);
    EXPECT_STREQ("", r.words.stateWord);
    EXPECT_EQ(1u, script.Calls().size()); // the body was not received

    ScriptedSource huge({"HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n" + Header(1)});
    ReadResult h = Read(&huge);
    EXPECT_EQ(1, h.result);
    EXPECT_EQ(0, h.ippStatus);
}

} // namespace
