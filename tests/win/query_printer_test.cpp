// One Get-Printer-Attributes transaction against real peers over loopback: the scripted fake
// printer for every shape of answer, ippeveprinter for a real printer's answer while idle and
// while printing, tinyproxy for a real proxy in between.
#include "monitor/ipp/status_map.h"
#include "tests/support/virtual_clock.h"
#include "tests/win/printer_port.h"

#include <string>
#include <vector>

namespace {

testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);

// Real time a receive may wait for a peer that is really answering.
const DWORD PEER_ANSWER_MS = 15000;

#ifdef NIMBREL_9X
const char USER_AGENT[] = "Nimbrel/R1.1 (Win9X)";
#else
const char USER_AGENT[] = "Nimbrel/R1.1 (WinNT40)";
#endif

// The port of the fake printer, queried in virtual time: a query that got no answer fails
// after the peer's bound instead of five minutes.
class FakePrinterQuery : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(0, peers::FakePrinterPort()) << "run under tests/tools/with-peers --fake";
        virtual_clock::SetReadableRealSlice(PEER_ANSWER_MS);
        setup_.uri = peers::FakePrinterUri();
        port_ = PortRecordFor(setup_);
    }

    // The script for Get-Printer-Attributes: `step` is one step object.
    static void Answer(const std::string& step) {
        ASSERT_TRUE(peers::SetScript("{\"default\": " + step + "}")) << step;
    }

    VirtualClockScope clock_;
    PortSetup setup_;
    std::unique_ptr<PortContext> port_;
};

// --- State and reasons through MapPrinterStatus ------------------------------------------------

struct StateCase {
    const char* name;
    const char* ipp;    // the "ipp" object of the fake printer's answer
    const char* state;  // stateWord read
    const char* reason; // reasonWord read
    DWORD ntStatus;     // MapPrinterStatus in nimmonnt (PORT_STATUS_*)
    DWORD status9x;     // and in nimmon9x (PRINTER_STATUS_*)
    DWORD error;
};

const StateCase kStateCases[] = {
    {"media empty", R"({"printer_state": 3, "printer_state_reasons": ["media-empty-error"]})",
     "Idle", "media-empty-error", 3, 0x10, 28},
    {"tray missing",
     R"({"printer_state": 3, "printer_state_reasons": ["input-tray-missing-error"]})", "Idle",
     "input-tray-missing-error", 3, 0x10, 28},
    {"media empty without the error suffix falls to the state",
     R"({"printer_state": 3, "printer_state_reasons": ["media-empty"]})", "Idle", "media-empty", 0,
     0, 0},
    {"shutdown", R"({"printer_state": 3, "printer_state_reasons": ["shutdown"]})", "Idle",
     "shutdown", 1, 0x80, 21},
    {"stopping", R"({"printer_state": 4, "printer_state_reasons": ["stopping-warning"]})",
     "Processing", "stopping-warning", 1, 0x80, 21},
    {"paused", R"({"printer_state": 3, "printer_state_reasons": ["paused"]})", "Idle", "paused", 1,
     0x80, 21},
    {"door open", R"({"printer_state": 3, "printer_state_reasons": ["door-open-report"]})", "Idle",
     "door-open-report", 7, 0x400000, 21},
    {"paper jam", R"({"printer_state": 3, "printer_state_reasons": ["media-jam-error"]})", "Idle",
     "media-jam-error", 2, 0x8, 21},
    {"no toner", R"({"printer_state": 3, "printer_state_reasons": ["marker-supply-empty-error"]})",
     "Idle", "marker-supply-empty-error", 6, 0x40000, 21},
    {"toner low", R"({"printer_state": 3, "printer_state_reasons": ["marker-supply-low-warning"]})",
     "Idle", "marker-supply-low-warning", 10, 0x20000, 0},
    {"stopped with reason none", R"({"printer_state": 5, "printer_state_reasons": ["none"]})",
     "Stop", "none", 0, 0, 0},
    {"media low", R"({"printer_state": 3, "printer_state_reasons": ["media-low-report"]})", "Idle",
     "media-low-report", 0, 0, 0},
    {"several reasons: the last one wins",
     R"({"printer_state": 3, "printer_state_reasons": ["media-low", "door-open"]})", "Idle",
     "door-open", 7, 0x400000, 21},
    {"several reasons, other order",
     R"({"printer_state": 3, "printer_state_reasons": ["door-open", "media-low"]})", "Idle",
     "media-low", 0, 0, 0},
    {"processing without reasons", R"({"printer_state": 4})", "Processing", "", 0, 0, 0},
    {"stopped without reasons", R"({"printer_state": 5})", "Stop", "", 1, 0x80, 21},
    {"unknown state number", R"({"printer_state": 6})", "", "", 1, 0x80, 21},
    {"state sent as integer is not the state",
     R"({"printer_state": 3, "attr_tags": {"printer-state": "integer"}})", "", "", 1, 0x80, 21},
    {"reasons sent as name are not reasons",
     R"({"printer_state": 3, "printer_state_reasons": ["media-jam"],
         "attr_tags": {"printer-state-reasons": "nameWithoutLanguage"}})",
     "Idle", "", 0, 0, 0},
    {"no printer attributes at all", R"({})", "", "", 1, 0x80, 21},
    {"attributes in the unsupported group",
     R"({"unsupported": [{"tag": "enum", "name": "printer-state", "value": 4},
                         {"tag": "keyword", "name": "printer-state-reasons",
                          "values": ["media-low", "media-jam-warning"]}]})",
     "Processing", "media-jam-warning", 2, 0x8, 21},
};

TEST_F(FakePrinterQuery, StateAndReasonsMapToThePortStatusOfThisBuild) {
    for (const StateCase& c : kStateCases) {
        SCOPED_TRACE(c.name);
        Answer(std::string("{\"ipp\": ") + c.ipp + "}");
        QueryResult r = QueryPort(*port_);
        ASSERT_EQ(1, r.answered);
        EXPECT_EQ(200, r.httpStatus);
        EXPECT_EQ(0, r.ippStatus);
        EXPECT_STREQ(c.state, r.words.stateWord);
        EXPECT_STREQ(c.reason, r.words.reasonWord);
        DWORD error = 12345;
        DWORD status =
            MapPrinterStatus(r.httpStatus, r.words.stateWord, r.words.reasonWord, &error);
#ifdef NIMBREL_9X
        EXPECT_EQ(c.status9x, status);
#else
        EXPECT_EQ(c.ntStatus, status);
#endif
        EXPECT_EQ(c.error, error);
    }
}

TEST_F(FakePrinterQuery, MakeAndModelIsTakenFromTextWithoutLanguageOnly) {
    Answer(R"({"ipp": {"printer_state": 3, "printer_make_and_model": "Acme Laser 9"}})");
    QueryResult r = QueryPort(*port_);
    ASSERT_EQ(1, r.answered);
    EXPECT_STREQ("Acme Laser 9", r.words.makeAndModel);

    Answer(R"({"ipp": {"printer_state": 3, "printer_make_and_model": "Acme Laser 9",
                       "attr_tags": {"printer-make-and-model": "nameWithoutLanguage"}}})");
    r = QueryPort(*port_);
    ASSERT_EQ(1, r.answered);
    EXPECT_STREQ("", r.words.makeAndModel);
    EXPECT_STREQ("Idle", r.words.stateWord);
}

// --- Shapes of the HTTP reply ------------------------------------------------------------------

TEST_F(FakePrinterQuery, BodyOfExactlyEightBytesGivesItsStatusAndNoWords) {
    // version 1.1, status-code 0x0406 (client-error-not-found), request-id 1, nothing else.
    Answer(R"({"body_hex": "0101040600000001"})");
    QueryResult r = QueryPort(*port_, 1, "left");
    EXPECT_EQ(1, r.answered);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(0x0406, r.ippStatus);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_DEVICE), IppStatusToError(r.ippStatus));
    EXPECT_STREQ("left", r.words.stateWord);
    EXPECT_STREQ("left", r.words.reasonWord);
    EXPECT_STREQ("left", r.words.makeAndModel);
}

TEST_F(FakePrinterQuery, ReplyWithoutContentLengthCountsAsAnsweredWithNothingRead) {
    Answer(R"({"omit_content_length": true,
               "ipp": {"status": 1030, "printer_state": 5, "printer_state_reasons": ["paused"]}})");
    QueryResult r = QueryPort(*port_, 1, "left");
    EXPECT_EQ(1, r.answered);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(0, r.ippStatus);
    EXPECT_STREQ("left", r.words.stateWord);
    EXPECT_STREQ("left", r.words.reasonWord);
}

TEST_F(FakePrinterQuery, ChunkedReplyIsNotReadAsABody) {
    Answer(R"({"chunked_reply": 16, "ipp": {"status": 1030, "printer_state": 5}})");
    QueryResult r = QueryPort(*port_, 1, "left");
    EXPECT_EQ(1, r.answered);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(0, r.ippStatus);
    EXPECT_STREQ("left", r.words.stateWord);
}

TEST_F(FakePrinterQuery, InterimContinueRepliesAreSkipped) {
    struct Case {
        const char* name;
        const char* step;
    } cases[] = {
        {"100 and 200 in one send",
         R"({"continue": 1, "continue_every_ms": 0,
             "ipp": {"printer_state": 4, "printer_state_reasons": ["media-low"]}})"},
        {"two interim replies, the second with a body of its own",
         R"({"continue": 2, "continue_every_ms": 0,
             "continue_headers": [["Content-Length", "5"]], "continue_body_hex": "0102030405",
             "ipp": {"printer_state": 4, "printer_state_reasons": ["media-low"]}})"},
        {"interim reply a while before the final one",
         R"({"continue": 1, "continue_at": "head", "delay_ms": 200,
             "ipp": {"printer_state": 4, "printer_state_reasons": ["media-low"]}})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Answer(c.step);
        QueryResult r = QueryPort(*port_);
        EXPECT_EQ(1, r.answered);
        EXPECT_EQ(200, r.httpStatus);
        EXPECT_STREQ("Processing", r.words.stateWord);
        EXPECT_STREQ("media-low", r.words.reasonWord);
    }
}

TEST_F(FakePrinterQuery, HttpErrorFailsWithItsStatusAndConnectionUnavailable) {
    for (int status : {404, 500, 401}) {
        SCOPED_TRACE(status);
        Answer("{\"status\": " + std::to_string(status) +
               R"(, "ipp": {"printer_state": 3, "printer_state_reasons": ["none"]}})");
        QueryResult r = QueryPort(*port_, 1, "left");
        EXPECT_EQ(0, r.answered);
        EXPECT_EQ(status, r.httpStatus);
        EXPECT_EQ(static_cast<DWORD>(ERROR_CONNECTION_UNAVAIL), r.lastError);
        EXPECT_EQ(0, r.ippStatus);
        EXPECT_STREQ("left", r.words.stateWord);
    }
}

TEST_F(FakePrinterQuery, BodyLargerThanTheReceiveBufferIsStillRead) {
    // A printer group whose first attribute alone is larger than 20480 bytes, with the state,
    // make and model behind it: they are read only if the whole body was.
    std::string body("\x01\x01\x00\x00\x00\x00\x00\x01\x04", 9);
    body += IppAttribute('\x30', "x-filler", std::string(24000, 'x'));
    body += IppAttribute('\x23', "printer-state", std::string("\x00\x00\x00\x04", 4));
    body += IppAttribute('\x41', "printer-make-and-model", "Large Reply Printer");
    body += '\x03';
    ASSERT_GT(body.size(), 20480u);
    Answer("{\"body_hex\": \"" + HexOf(body) + "\"}");

    QueryResult r = QueryPort(*port_);
    EXPECT_EQ(1, r.answered);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_STREQ("Processing", r.words.stateWord);
    EXPECT_STREQ("Large Reply Printer", r.words.makeAndModel);
}

TEST_F(FakePrinterQuery, BodyThatDoesNotAllArriveIsNotParsed) {
    // Content-Length announces more than is sent before the printer closes.
    Answer(R"({"content_length": 4000, "ipp": {"status": 1030, "printer_state": 5}})");
    QueryResult r = QueryPort(*port_, 1, "left");
    EXPECT_EQ(1, r.answered);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(0, r.ippStatus);
    EXPECT_STREQ("left", r.words.stateWord);
}

TEST_F(FakePrinterQuery, NoAnswerBeforeTheConnectionClosesFails) {
    Answer(R"({"close_after": 0})");
    QueryResult r = QueryPort(*port_, 1, "left");
    EXPECT_EQ(0, r.answered);
    EXPECT_EQ(0, r.httpStatus);
    EXPECT_STREQ("left", r.words.stateWord);
}

TEST_F(FakePrinterQuery, ChunkedFlagFollowsTheReplyVersion) {
    Answer(R"({"http_version": "HTTP/1.1", "ipp": {"printer_state": 3}})");
    QueryResult r = QueryPort(*port_, 1, "", 0);
    EXPECT_EQ(1, r.answered);
    EXPECT_EQ(1u, r.chunked);

    Answer(R"({"http_version": "HTTP/1.0", "ipp": {"printer_state": 3}})");
    r = QueryPort(*port_, 1, "", 1);
    EXPECT_EQ(1, r.answered);
    EXPECT_EQ(0u, r.chunked);
    EXPECT_STREQ("Idle", r.words.stateWord);

    // Set from the final head even when the status is an error.
    Answer(R"({"http_version": "HTTP/1.0", "status": 503})");
    r = QueryPort(*port_, 1, "", 1);
    EXPECT_EQ(0, r.answered);
    EXPECT_EQ(0u, r.chunked);
}

// --- The request on the wire -------------------------------------------------------------------

TEST_F(FakePrinterQuery, RequestIsOneGetPrinterAttributesPostWithItsLength) {
    Answer(R"({"ipp": {"printer_state": 3}})");
    QueryResult r = QueryPort(*port_, 7);
    ASSERT_EQ(1, r.answered);
    ASSERT_EQ(1, peers::RecordCount());

    std::string body = peers::RecordPart(1, "body");
    ASSERT_GE(body.size(), 9u);
    std::string expectedHead = "POST /ipp/print HTTP/1.1\r\n"
                               "Connection: Keep-Alive\r\n"
                               "User-Agent: " +
                               std::string(USER_AGENT) +
                               "\r\n"
                               "Host: 127.0.0.1:" +
                               std::to_string(peers::FakePrinterPort()) +
                               "\r\n"
                               "Accept: application/ipp\r\n"
                               "Content-Type: application/ipp\r\n"
                               "Content-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n";
    EXPECT_EQ(expectedHead, peers::RecordPart(1, "head"));
    // IPP 1.0, Get-Printer-Attributes, the record's jobId as request-id, ending in end-tag.
    EXPECT_EQ(std::string("\x01\x00\x00\x0b", 4), body.substr(0, 4));
    EXPECT_EQ(7u, IppRequestId(body));
    EXPECT_EQ('\x03', body.back());
    EXPECT_NE(std::string::npos, body.find(peers::FakePrinterUri()));
}

TEST_F(FakePrinterQuery, TargetAndPathComeFromThePrinterUriValue) {
    // The port keeps its name; its PrinterURI value names another path and the ipp scheme.
    setup_.printerUri = "ipp://127.0.0.1:" + std::to_string(peers::FakePrinterPort()) + "/q";
    port_ = PortRecordFor(setup_);
    Answer(R"({"ipp": {"printer_state": 3}})");
    QueryResult r = QueryPort(*port_);
    ASSERT_EQ(1, r.answered);
    std::string head = peers::RecordPart(1, "head");
    EXPECT_EQ(0u, head.find("POST /q HTTP/1.1\r\n")) << head;
    EXPECT_NE(std::string::npos,
              head.find("Host: 127.0.0.1:" + std::to_string(peers::FakePrinterPort()) + "\r\n"));
}

// --- Proxy -------------------------------------------------------------------------------------

TEST_F(FakePrinterQuery, ThroughAProxyTheRequestCarriesTheAbsoluteUriAndChunkedIsOff) {
    // The fake printer standing in as the proxy shows the request line the proxy gets.
    setup_.useProxy = 1;
    setup_.proxyServer = "127.0.0.1";
    setup_.proxyPort = static_cast<DWORD>(peers::FakePrinterPort());
    port_ = PortRecordFor(setup_);
    Answer(R"({"http_version": "HTTP/1.1", "ipp": {"printer_state": 3}})");
    QueryResult r = QueryPort(*port_, 1, "", 1);
    ASSERT_EQ(1, r.answered);
    EXPECT_EQ(0u, r.chunked);
    std::string head = peers::RecordPart(1, "head");
    EXPECT_EQ(0u, head.find("POST " + peers::FakePrinterUri() + " HTTP/1.1\r\n")) << head;
}

TEST_F(FakePrinterQuery, ThroughARealProxyTheQueryIsAnsweredAndChunkedIsOff) {
    if (peers::ProxyPort() == 0) {
        GTEST_SKIP() << "no proxy: run under tests/tools/with-peers --proxy";
    }
    setup_.useProxy = 1;
    setup_.proxyServer = "127.0.0.1";
    setup_.proxyPort = static_cast<DWORD>(peers::ProxyPort());
    port_ = PortRecordFor(setup_);
    Answer(R"({"http_version": "HTTP/1.1",
               "ipp": {"printer_state": 4, "printer_state_reasons": ["toner-low-report"]}})");
    QueryResult r = QueryPort(*port_, 1, "", 1);
    ASSERT_EQ(1, r.answered);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(0u, r.chunked);
    EXPECT_STREQ("Processing", r.words.stateWord);
    EXPECT_STREQ("toner-low-report", r.words.reasonWord);
    // It went through the proxy, which names itself to the printer.
    EXPECT_NE(std::string::npos, peers::RecordPart(1, "head").find("tinyproxy"));
}

// --- No printer --------------------------------------------------------------------------------

TEST_F(FakePrinterQuery, RefusedConnectionIsTriedNineteenTimesTenSecondsApart) {
    setup_.uri = "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/ipp/print";
    port_ = PortRecordFor(setup_);
    QueryResult r = QueryPort(*port_, 1, "left", 1);
    EXPECT_EQ(0, r.answered);
    EXPECT_EQ(0, r.httpStatus);
    EXPECT_EQ(0, r.ippStatus);
    EXPECT_STREQ("left", r.words.stateWord);
    EXPECT_EQ(std::vector<DWORD>(18, 10000), virtual_clock::Sleeps());
    EXPECT_EQ(180000u, virtual_clock::NowMs());
}

// --- The real printer --------------------------------------------------------------------------

class RealPrinterQuery : public testing::Test {
  protected:
    void SetUp() override {
        if (peers::IppPrinterPort() == 0) {
            GTEST_SKIP() << "no real printer: run under tests/tools/with-peers --ippeve";
        }
        setup_.uri = peers::IppPrinterUri();
        port_ = PortRecordFor(setup_);
    }

    // Queries until the state is `state`, at most `limitMs` of real time.
    testing::AssertionResult WaitForState(const char* state, DWORD limitMs) {
        ULONGLONG deadline = GetTickCount64() + limitMs;
        std::string seen;
        do {
            QueryResult r = QueryPort(*port_);
            if (r.answered == 1 && strcmp(r.words.stateWord, state) == 0) {
                return testing::AssertionSuccess();
            }
            std::string last = std::to_string(r.answered) + "/" + std::to_string(r.httpStatus) +
                               "/" + r.words.stateWord + "/" + r.words.reasonWord;
            if (seen.size() < 2000 && seen.find(last) == std::string::npos) {
                seen += " [" + last + "]";
            }
            Sleep(100);
        } while (GetTickCount64() < deadline);
        return testing::AssertionFailure() << "never " << state << "; seen" << seen;
    }

    PortSetup setup_;
    std::unique_ptr<PortContext> port_;
};

// Hands the printer a small PostScript job as another client would, so it starts printing.
void PostPrintJob(int printerPort) {
    std::string ipp("\x01\x01\x00\x02\x00\x00\x00\x2a\x01", 9);
    ipp += IppAttribute('\x47', "attributes-charset", "utf-8");
    ipp += IppAttribute('\x48', "attributes-natural-language", "en-us");
    ipp += IppAttribute('\x45', "printer-uri", peers::IppPrinterUri());
    ipp += IppAttribute('\x42', "requesting-user-name", "status-test");
    ipp += IppAttribute('\x49', "document-format", "application/postscript");
    ipp += '\x03';
    ipp += "%!PS-Adobe-3.0\n/Courier findfont 12 scalefont setfont\n72 720 moveto (test) show\n"
           "showpage\n";
    std::string request =
        "POST /ipp/print HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(printerPort) +
        "\r\nContent-Type: application/ipp\r\nContent-Length: " + std::to_string(ipp.size()) +
        "\r\nConnection: close\r\n\r\n" + ipp;

    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(INVALID_SOCKET, s);
    DWORD limit = 10000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(printerPort));
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(0, connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(static_cast<int>(request.size()),
              send(s, request.data(), static_cast<int>(request.size()), 0));
    // Read the reply as far as its Content-Length: the printer keeps the connection open.
    std::string reply;
    char buffer[4096];
    int n;
    size_t headEnd = std::string::npos;
    size_t total = 0;
    while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) {
        reply.append(buffer, static_cast<size_t>(n));
        headEnd = reply.find("\r\n\r\n");
        if (headEnd != std::string::npos && total == 0) {
            size_t length = reply.find("Content-Length: ");
            total = headEnd + 4 +
                    (length < headEnd ? static_cast<size_t>(atoi(reply.c_str() + length + 16)) : 0);
        }
        if (total != 0 && reply.size() >= total) {
            break;
        }
    }
    closesocket(s);
    ASSERT_NE(std::string::npos, headEnd) << reply;
    EXPECT_NE(std::string::npos, reply.substr(0, headEnd).find(" 200 ")) << reply;
    ASSERT_GE(reply.size(), headEnd + 4 + 8);
    // successful-ok (0x0000 to 0x00FF)
    EXPECT_EQ('\x00', reply[headEnd + 4 + 2]) << "IPP status of the Print-Job";
}

TEST_F(RealPrinterQuery, IdlePrinterAnswersIdleNoneWithItsMakeAndModel) {
    ASSERT_TRUE(WaitForState("Idle", 60000));
    QueryResult r = QueryPort(*port_, 1, "", 0);
    ASSERT_EQ(1, r.answered);
    EXPECT_EQ(200, r.httpStatus);
    EXPECT_EQ(0, r.ippStatus);
    EXPECT_STREQ("Idle", r.words.stateWord);
    EXPECT_STREQ("none", r.words.reasonWord);
    EXPECT_STREQ("Example Printer", r.words.makeAndModel);
    EXPECT_EQ(1u, r.chunked);
    DWORD error = 99;
    EXPECT_EQ(0u, MapPrinterStatus(r.httpStatus, r.words.stateWord, r.words.reasonWord, &error));
    EXPECT_EQ(0u, error);
}

TEST_F(RealPrinterQuery, PrintingPrinterAnswersProcessing) {
    ASSERT_TRUE(WaitForState("Idle", 60000));
    PostPrintJob(peers::IppPrinterPort());
    // The printer takes the job at once and prints it for several seconds.
    EXPECT_TRUE(WaitForState("Processing", 15000));
    QueryResult r = QueryPort(*port_);
    EXPECT_EQ(1, r.answered);
    DWORD error = 99;
    if (strcmp(r.words.stateWord, "Processing") == 0) {
        EXPECT_EQ(0u,
                  MapPrinterStatus(r.httpStatus, r.words.stateWord, r.words.reasonWord, &error));
    }
    // Leave it idle for whatever runs next.
    EXPECT_TRUE(WaitForState("Idle", 60000));
}

} // namespace
