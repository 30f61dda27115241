#include "monitor/ipp/ipp_request.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>

#include "monitor/core/text.h"

namespace {

// A text literal with embedded NULs, as bytes.
#define BYTES(literal) std::string(literal, sizeof(literal) - 1)

const char kUri[] = "ipp://10.1.2.3/ipp"; // 18 bytes

// Each attribute reads: value tag, name-length, name, value-length, value.
// clang-format off

// Print-Job, request-id 7, user "anonymous", printer URI kUri: 218 + 18 bytes.
const std::string kPrintJobJob7 = BYTES(
    "\x01\x00"                                                          // version-number 1.0
    "\x00\x02"                                                          // operation-id: Print-Job
    "\x00\x00\x00\x07"                                                  // request-id 7
    "\x01"                                                              // operation-attributes-tag
    "\x47" "\x00\x12" "attributes-charset" "\x00\x05" "utf-8"           // charset
    "\x48" "\x00\x1B" "attributes-natural-language" "\x00\x05" "en-us"  // naturalLanguage
    "\x45" "\x00\x0B" "printer-uri" "\x00\x12" "ipp://10.1.2.3/ipp"     // uri
    "\x42" "\x00\x08" "job-name" "\x00\x0E" "ORVIK_IppJob_7"            // nameWithoutLanguage
    "\x22" "\x00\x16" "ipp-attribute-fidelity" "\x00\x01" "\x00"        // boolean false
    "\x42" "\x00\x14" "requesting-user-name" "\x00\x09" "anonymous"     // nameWithoutLanguage
    "\x42" "\x00\x0D" "document-name" "\x00\x13" "ORVIK_IppDocument_7"  // nameWithoutLanguage
    "\x02"                                                              // job-attributes-tag, empty
    "\x03");                                                            // end-of-attributes-tag

// Get-Printer-Attributes, request-id 258, user "anonymous", printer URI kUri: 153 + 18 bytes,
// no job group.
const std::string kGetPrinterAttributes258 = BYTES(
    "\x01\x00"                                                          // version-number 1.0
    "\x00\x0B"                                                          // Get-Printer-Attributes
    "\x00\x00\x01\x02"                                                  // request-id 258
    "\x01"                                                              // operation-attributes-tag
    "\x47" "\x00\x12" "attributes-charset" "\x00\x05" "utf-8"           // charset
    "\x48" "\x00\x1B" "attributes-natural-language" "\x00\x05" "en-us"  // naturalLanguage
    "\x45" "\x00\x0B" "printer-uri" "\x00\x12" "ipp://10.1.2.3/ipp"     // uri
    "\x42" "\x00\x14" "requesting-user-name" "\x00\x09" "anonymous"     // nameWithoutLanguage
    "\x44" "\x00\x14" "requested-attributes" "\x00\x03" "all"           // keyword
    "\x03");                                                            // end-of-attributes-tag

// clang-format on

std::string AsString(const BYTE* bytes, size_t count) {
    return std::string(reinterpret_cast<const char*>(bytes), count);
}

// A port and a zero-filled request record, as StartDocPort and the status thread have them.
class IppRequestTest : public testing::Test {
  protected:
    void SetUp() override {
        port.reset(new PortContext());
        job.reset(new JobContext());
    }

    void Prepare(const char* uri, DWORD jobId, const char* userName) {
        CopyText(port->printerUri, sizeof port->printerUri, uri);
        port->currentJobId = jobId;
        FillIppRequestValues(job.get(), port.get(), userName);
        job->jobId = jobId;
    }

    std::string PrintJob(size_t room = PRINT_JOB_REQUEST_BYTES) {
        BYTE out[PRINT_JOB_REQUEST_BYTES + 16];
        size_t n = BuildPrintJobRequest(job->jobId, job.get(), out, room);
        return AsString(out, n);
    }

    std::string GetPrinterAttributes(DWORD requestId, size_t room = STATUS_QUERY_BODY_BYTES) {
        BYTE out[STATUS_QUERY_BODY_BYTES + 16];
        size_t n = BuildGetPrinterAttributesRequest(requestId, job.get(), out, room);
        return AsString(out, n);
    }

    std::unique_ptr<PortContext> port;
    std::unique_ptr<JobContext> job;
};

TEST_F(IppRequestTest, PrintJobForJob7IsTheGoldenBytes) {
    Prepare(kUri, 7, "anonymous");
    std::string body = PrintJob();
    EXPECT_EQ(kPrintJobJob7, body);
    EXPECT_EQ(218u + 18u, body.size());
}

TEST_F(IppRequestTest, GetPrinterAttributesIsTheGoldenBytes) {
    Prepare(kUri, 7, "anonymous");
    std::string body = GetPrinterAttributes(258);
    EXPECT_EQ(kGetPrinterAttributes258, body);
    EXPECT_EQ(153u + 18u, body.size());
}

TEST_F(IppRequestTest, MissingUserNameBecomesAnonymous) {
    Prepare(kUri, 7, nullptr);
    EXPECT_STREQ("anonymous", job->ippUserName);
    EXPECT_EQ(kPrintJobJob7, PrintJob());
    Prepare(kUri, 7, "");
    EXPECT_STREQ("anonymous", job->ippUserName);
}

TEST_F(IppRequestTest, FillsEveryValueOfTheRecord) {
    Prepare(kUri, 7, "maria");
    EXPECT_STREQ(kUri, job->ippPrinterUri);
    EXPECT_STREQ("utf-8", job->ippCharset);
    EXPECT_STREQ("en-us", job->ippLanguage);
    EXPECT_STREQ("maria", job->ippUserName);
    EXPECT_STREQ("ORVIK_IppJob_7", job->ippJobName);
    EXPECT_STREQ("ORVIK_IppDocument_7", job->ippDocumentName);
    EXPECT_EQ(0u, job->ippFidelity);
}

TEST_F(IppRequestTest, JobNamesFollowTheJobId) {
    struct Case {
        DWORD jobId;
        const char* jobName;
        const char* documentName;
    };
    const Case cases[] = {
        {0, "ORVIK_IppJob_0", "ORVIK_IppDocument_0"},
        {7, "ORVIK_IppJob_7", "ORVIK_IppDocument_7"},
        {12345, "ORVIK_IppJob_12345", "ORVIK_IppDocument_12345"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.jobId);
        Prepare(kUri, c.jobId, "anonymous");
        EXPECT_STREQ(c.jobName, job->ippJobName);
        EXPECT_STREQ(c.documentName, job->ippDocumentName);

        size_t digits = strlen(c.jobName) - strlen("ORVIK_IppJob_");
        std::string body = PrintJob();
        EXPECT_EQ(207 + strlen(kUri) + strlen("anonymous") + 2 * digits, body.size());

        // job-name and document-name with their value-length fields.
        std::string jobName = BYTES("\x42\x00\x08"
                                    "job-name") +
                              std::string(1, '\0') +
                              std::string(1, static_cast<char>(strlen(c.jobName))) + c.jobName;
        std::string documentName = BYTES("\x42\x00\x0D"
                                         "document-name") +
                                   std::string(1, '\0') +
                                   std::string(1, static_cast<char>(strlen(c.documentName))) +
                                   c.documentName;
        EXPECT_NE(std::string::npos, body.find(jobName));
        EXPECT_NE(std::string::npos, body.find(documentName));
    }
    Prepare(kUri, 12345, "anonymous");
    EXPECT_EQ(18u, strlen(job->ippJobName));
    EXPECT_EQ(23u, strlen(job->ippDocumentName));
}

TEST_F(IppRequestTest, RequestIdIsBigEndian) {
    Prepare(kUri, 258, "anonymous");
    std::string printJob = PrintJob();
    EXPECT_EQ(BYTES("\x00\x00\x01\x02"), printJob.substr(4, 4));
    EXPECT_EQ(BYTES("\x12\x34\x56\x78"), GetPrinterAttributes(0x12345678).substr(4, 4));
}

// Wine's spooler starts every document with job id 0; printers refuse request-id 0.
TEST_F(IppRequestTest, RequestIdZeroGoesOutAsOne) {
    Prepare(kUri, 0, "anonymous");
    EXPECT_EQ(BYTES("\x00\x00\x00\x01"), PrintJob().substr(4, 4));
    EXPECT_EQ(BYTES("\x00\x00\x00\x01"), GetPrinterAttributes(0).substr(4, 4));
    EXPECT_STREQ("ORVIK_IppJob_0", job->ippJobName); // the names keep the spooler's id
}

TEST_F(IppRequestTest, LongPrinterUriHasATwoByteLength) {
    std::string uri = "ipp://printer.example/" + std::string(300 - 22, 'p');
    ASSERT_EQ(300u, uri.size());
    Prepare(uri.c_str(), 7, "anonymous");

    // version 2, operation 2, request-id 4, group tag 1, charset 28, language 37: the uri
    // attribute starts at 74; its value-length follows tag, name-length and "printer-uri".
    const size_t valueLength = 74 + 1 + 2 + 11;
    std::string query = GetPrinterAttributes(1);
    ASSERT_EQ(153u + 300u, query.size());
    EXPECT_EQ(BYTES("\x01\x2C"), query.substr(valueLength, 2));
    EXPECT_EQ(uri, query.substr(valueLength + 2, 300));

    std::string printJob = PrintJob();
    ASSERT_EQ(218u + 300u, printJob.size());
    EXPECT_EQ(BYTES("\x01\x2C"), printJob.substr(valueLength, 2));
}

TEST_F(IppRequestTest, FidelityIsAlwaysTheLowByte) {
    Prepare(kUri, 7, "anonymous");
    const std::string fidelity = BYTES("\x22\x00\x16"
                                       "ipp-attribute-fidelity"
                                       "\x00\x01");
    std::string body = PrintJob();
    size_t at = body.find(fidelity);
    ASSERT_NE(std::string::npos, at);
    EXPECT_EQ('\0', body[at + fidelity.size()]);
    // Only the low byte of the record's value goes out.
    job->ippFidelity = 0x101;
    body = PrintJob();
    EXPECT_EQ('\x01', body[at + fidelity.size()]);
}

TEST_F(IppRequestTest, StatusQueryIsHeadThenBody) {
    Prepare(kUri, 7, "anonymous");
    job->jobId = 258;
    CopyText(job->request.requestUri, sizeof job->request.requestUri, "/ipp");
    char host[HOST_BYTES] = "";
    LONG port_ = 0;
    BYTE out[STATUS_QUERY_BYTES];
    size_t n = BuildStatusQuery(out, sizeof out, job.get(), host, sizeof host, &port_);

#ifdef NIMBREL_9X
    const char* agent = "User-Agent: Nimbrel/R1.1 (Win9X)\r\n";
#else
    const char* agent = "User-Agent: Nimbrel/R1.1 (WinNT40)\r\n";
#endif
    std::string expected = std::string("POST /ipp HTTP/1.1\r\n"
                                       "Connection: Keep-Alive\r\n") +
                           agent +
                           "Host: 10.1.2.3:631\r\n"
                           "Accept: application/ipp\r\n"
                           "Content-Type: application/ipp\r\n"
                           "Content-Length: 171\r\n"
                           "\r\n" +
                           kGetPrinterAttributes258;
    EXPECT_EQ(expected, AsString(out, n));
    EXPECT_STREQ("10.1.2.3", host);
    EXPECT_EQ(631, port_);
    EXPECT_STREQ("171", job->request.contentLength);
    EXPECT_STREQ("1.1", job->request.httpVersion);
}

TEST_F(IppRequestTest, StatusQueryForcesHttp11ForASpoolFileJob) {
    Prepare(kUri, 7, "anonymous");
    job->chunked = 0;
    CopyText(job->request.requestUri, sizeof job->request.requestUri, "/ipp");
    char host[HOST_BYTES] = "";
    LONG port_ = 0;
    BYTE out[STATUS_QUERY_BYTES];
    ASSERT_NE(0u, BuildStatusQuery(out, sizeof out, job.get(), host, sizeof host, &port_));
    EXPECT_EQ(0, memcmp(out, "POST /ipp HTTP/1.1\r\n", 20));
}

TEST_F(IppRequestTest, StatusQueryRefusesWhatDoesNotFit) {
    Prepare(kUri, 7, "anonymous");
    CopyText(job->request.requestUri, sizeof job->request.requestUri, "/ipp");
    char host[HOST_BYTES] = "";
    LONG port_ = 0;
    BYTE out[STATUS_QUERY_BYTES];
    size_t whole = BuildStatusQuery(out, sizeof out, job.get(), host, sizeof host, &port_);
    ASSERT_GT(whole, 0u);
    EXPECT_EQ(whole, BuildStatusQuery(out, whole, job.get(), host, sizeof host, &port_));

    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(0u, BuildStatusQuery(out, whole - 1, job.get(), host, sizeof host, &port_));
    EXPECT_EQ(0xEE, out[0]); // nothing written

    // A printer URI whose body would not fit the 512-byte body buffer.
    std::string uri = "ipp://10.1.2.3/" + std::string(400, 'q');
    Prepare(uri.c_str(), 7, "anonymous");
    EXPECT_EQ(0u, BuildStatusQuery(out, sizeof out, job.get(), host, sizeof host, &port_));
}

TEST_F(IppRequestTest, BodiesThatDoNotFitAreRefusedUntouched) {
    // The largest printer URI the record holds, with the longest user name.
    std::string uri = "ipp://10.1.2.3/" + std::string(IPP_PRINTER_URI_BYTES - 1 - 15, 'u');
    std::string user(IPP_USER_NAME_BYTES - 1, 'n');
    Prepare(uri.c_str(), 7, user.c_str());
    ASSERT_EQ(strlen(job->ippPrinterUri), IPP_PRINTER_URI_BYTES - 1u);

    BYTE out[PRINT_JOB_REQUEST_BYTES];
    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(0u, BuildPrintJobRequest(job->jobId, job.get(), out, sizeof out));
    EXPECT_EQ(
        0u, BuildGetPrinterAttributesRequest(job->jobId, job.get(), out, STATUS_QUERY_BODY_BYTES));
    for (BYTE b : out) {
        ASSERT_EQ(0xEE, b);
    }
}

TEST_F(IppRequestTest, BodyThatFitsExactlyIsWritten) {
    Prepare(kUri, 7, "anonymous");
    const size_t size = kPrintJobJob7.size();
    EXPECT_EQ(kPrintJobJob7, PrintJob(size));
    EXPECT_EQ("", PrintJob(size - 1));
    const size_t querySize = kGetPrinterAttributes258.size();
    EXPECT_EQ(querySize, GetPrinterAttributes(258, querySize).size());
    EXPECT_EQ("", GetPrinterAttributes(258, querySize - 1));
}

TEST_F(IppRequestTest, UnterminatedFieldIsNotSent) {
    Prepare(kUri, 7, "anonymous");
    memset(job->ippUserName, 'n', sizeof job->ippUserName);
    EXPECT_EQ("", PrintJob());
    EXPECT_EQ("", GetPrinterAttributes(1));
}

TEST_F(IppRequestTest, LongUserNameIsCutNotReplaced) {
    std::string user(300, 'l');
    Prepare(kUri, 7, user.c_str());
    EXPECT_EQ(std::string(IPP_USER_NAME_BYTES - 1, 'l'), job->ippUserName);
    EXPECT_EQ(218u + 18u - 9u + 127u, PrintJob().size());
}

TEST(PutIppAttribute, WritesEachKindOfValue) {
    const DWORD number = 0x01020304;
    const DWORD flagTrue = 1;
    struct Case {
        BYTE tag;
        const char* name;
        const void* value;
        std::string bytes;
    };
    const Case cases[] = {
        {IPP_TAG_BOOLEAN, "b", &flagTrue,
         BYTES("\x22\x00\x01"
               "b"
               "\x00\x01\x01")},
        {IPP_TAG_INTEGER, "i", &number,
         BYTES("\x21\x00\x01"
               "i"
               "\x00\x04\x01\x02\x03\x04")},
        {IPP_TAG_ENUM, "e", &number,
         BYTES("\x23\x00\x01"
               "e"
               "\x00\x04\x01\x02\x03\x04")},
        {IPP_TAG_TEXT, "t", "hi",
         BYTES("\x41\x00\x01"
               "t"
               "\x00\x02"
               "hi")},
        {IPP_TAG_NAME, "n", "",
         BYTES("\x42\x00\x01"
               "n"
               "\x00\x00")},
        {IPP_TAG_KEYWORD, "k", "all",
         BYTES("\x44\x00\x01"
               "k"
               "\x00\x03"
               "all")},
        {IPP_TAG_URI, "u", "x",
         BYTES("\x45\x00\x01"
               "u"
               "\x00\x01"
               "x")},
        {IPP_TAG_CHARSET, "c", "x",
         BYTES("\x47\x00\x01"
               "c"
               "\x00\x01"
               "x")},
        {IPP_TAG_LANGUAGE, "l", "x",
         BYTES("\x48\x00\x01"
               "l"
               "\x00\x01"
               "x")},
        {IPP_TAG_MIME_TYPE, "m", "x",
         BYTES("\x49\x00\x01"
               "m"
               "\x00\x01"
               "x")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.tag));
        BYTE out[32];
        size_t n = PutIppAttribute(out, sizeof out, c.tag, c.name, c.value);
        EXPECT_EQ(c.bytes, AsString(out, n));
        // Exactly the room it needs is enough; one byte less is refused untouched.
        EXPECT_EQ(n, PutIppAttribute(out, n, c.tag, c.name, c.value));
        memset(out, 0xEE, sizeof out);
        EXPECT_EQ(0u, PutIppAttribute(out, n - 1, c.tag, c.name, c.value));
        EXPECT_EQ(0xEE, out[0]);
    }
}

TEST(PutIppAttribute, RefusesWhatItCannotEncode) {
    BYTE out[64];
    const DWORD zero = 0;
    // A tag without a value form of its own.
    EXPECT_EQ(0u, PutIppAttribute(out, sizeof out, 0x30, "x", "y"));
    EXPECT_EQ(0u, PutIppAttribute(out, sizeof out, IPP_TAG_OPERATION, "x", &zero));
    EXPECT_EQ(0u, PutIppAttribute(out, sizeof out, IPP_TAG_TEXT, nullptr, "y"));
    EXPECT_EQ(0u, PutIppAttribute(out, sizeof out, IPP_TAG_TEXT, "x", nullptr));
    // A text longer than its 16-bit length field can announce.
    std::string huge(0x10000, 'h');
    std::unique_ptr<BYTE[]> big(new BYTE[0x10100]);
    EXPECT_EQ(0u, PutIppAttribute(big.get(), 0x10100, IPP_TAG_TEXT, "x", huge.c_str()));
    huge.pop_back();
    EXPECT_EQ(0xFFFFu + 6u, PutIppAttribute(big.get(), 0x10100, IPP_TAG_TEXT, "x", huge.c_str()));
    EXPECT_EQ(0xFF, big[4]);
    EXPECT_EQ(0xFF, big[5]);
}

} // namespace
