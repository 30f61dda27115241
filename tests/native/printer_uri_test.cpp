#include "monitor/transport/printer_uri.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

namespace {

// What a destination holds before the split; a destination the split does not write keeps it.
const char HOST_BEFORE[] = "host-before";
const char PATH_BEFORE[] = "/path-before";
const LONG PORT_BEFORE = -7777;

struct SplitCase {
    const char* uri;
    BOOL result;
    const char* host; // expected host
    LONG port;        // expected port
    const char* path; // expected path
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << "'" << c.uri << "'";
}

class SplitPrinterUriTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitPrinterUriTest, WritesOnlyWhatItFinds) {
    const SplitCase& c = GetParam();
    char host[1024];
    char path[512];
    LONG port = PORT_BEFORE;
    strcpy(host, HOST_BEFORE);
    strcpy(path, PATH_BEFORE);

    EXPECT_EQ(c.result, SplitPrinterUri(c.uri, host, sizeof host, &port, path, sizeof path));
    EXPECT_STREQ(c.host, host);
    EXPECT_EQ(c.port, port);
    EXPECT_STREQ(c.path, path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitPrinterUriTest,
    testing::Values(
        SplitCase{"http://10.1.2.3/ipp", TRUE, "10.1.2.3", 631, "/ipp"},
        SplitCase{"ipp://lp1:8000/ipp/port1", TRUE, "lp1", 8000, "/ipp/port1"},
        SplitCase{"HTTP://lp1/x", TRUE, "lp1", 631, "/x"},
        SplitCase{"http://lp1:/x", TRUE, "lp1", 631, "/x"},
        SplitCase{"http://lp1:80x/p", TRUE, "lp1", 80, "/p"},
        SplitCase{"http://lp1:abc/p", TRUE, "lp1", 0, "/p"},
        SplitCase{"http://lp1:631:9/p", TRUE, "lp1", 631, "/p"},
        SplitCase{"http://:631/p", TRUE, "631", 631, "/p"},
        SplitCase{"http://lp1/a/b?c=d", TRUE, "lp1", 631, "/a/b?c=d"},
        // The remainder after the host's colon is read whole: a second colon stops the number.
        SplitCase{"http://lp1::80/p", TRUE, "lp1", 0, "/p"},
        // The port is read as atol reads: white space and one sign.
        SplitCase{"http://lp1: 8080/p", TRUE, "lp1", 8080, "/p"},
        SplitCase{"http://lp1:-5/p", TRUE, "lp1", -5, "/p"},
        SplitCase{"http://lp1:+7/p", TRUE, "lp1", 7, "/p"},
        // A number too long for 32 bits never wraps into a small one (4294967376 would be 80).
        SplitCase{"http://lp1:4294967376/p", TRUE, "lp1", 2147483647, "/p"},
        SplitCase{"http://lp1:99999999999999999999999999/p", TRUE, "lp1", 2147483647, "/p"},
        SplitCase{"http://lp1:-99999999999999999999999999/p", TRUE, "lp1", -2147483647 - 1, "/p"},
        // The scheme is not looked at; only "//" matters.
        SplitCase{"x//lp2/q", TRUE, "lp2", 631, "/q"},
        // No "//": refused, nothing written.
        SplitCase{"lp1/p", FALSE, HOST_BEFORE, PORT_BEFORE, PATH_BEFORE},
        SplitCase{"", FALSE, HOST_BEFORE, PORT_BEFORE, PATH_BEFORE},
        // No "/" after the authority: nothing is taken.
        SplitCase{"http://lp1", TRUE, HOST_BEFORE, PORT_BEFORE, PATH_BEFORE},
        SplitCase{"http://lp1:8000", TRUE, HOST_BEFORE, PORT_BEFORE, PATH_BEFORE},
        // An empty authority: only the path.
        SplitCase{"http:///p", TRUE, HOST_BEFORE, PORT_BEFORE, "/p"},
        // An authority of colons only names no host: refused, nothing written.
        SplitCase{"http://:/x", FALSE, HOST_BEFORE, PORT_BEFORE, PATH_BEFORE},
        SplitCase{"http://::/x", FALSE, HOST_BEFORE, PORT_BEFORE, PATH_BEFORE}));

TEST(SplitPrinterUri, NullTextIsRefused) {
    char host[16] = "h";
    char path[16] = "/p";
    LONG port = 1;
    EXPECT_FALSE(SplitPrinterUri(nullptr, host, sizeof host, &port, path, sizeof path));
    EXPECT_STREQ("h", host);
    EXPECT_EQ(1, port);
    EXPECT_STREQ("/p", path);
}

// A URI whose parts do not fit is refused whole: no destination is written, none is cut.
class SplitLimitsTest : public testing::Test {
  protected:
    void SetUp() override {
        strcpy(host_, HOST_BEFORE);
        strcpy(path_, PATH_BEFORE);
    }
    BOOL Split(const std::string& uri, size_t hostBytes, size_t pathBytes) {
        return SplitPrinterUri(uri.c_str(), host_, hostBytes, &port_, path_, pathBytes);
    }
    void ExpectUntouched() {
        EXPECT_STREQ(HOST_BEFORE, host_);
        EXPECT_STREQ(PATH_BEFORE, path_);
        EXPECT_EQ(PORT_BEFORE, port_);
    }
    char host_[1100];
    char path_[1100];
    LONG port_ = PORT_BEFORE;
};

TEST_F(SplitLimitsTest, AuthorityOf1023CharactersIsTaken) {
    std::string name(1018, 'a');
    ASSERT_EQ(1023u, (name + ":8000").size());
    EXPECT_TRUE(Split("http://" + name + ":8000/p", 1024, 512));
    EXPECT_EQ(name, host_);
    EXPECT_EQ(8000, port_);
    EXPECT_STREQ("/p", path_);
}

TEST_F(SplitLimitsTest, AuthorityOf1024CharactersIsRefused) {
    std::string name(1019, 'a');
    EXPECT_FALSE(Split("http://" + name + ":8000/p", sizeof host_, sizeof path_));
    ExpectUntouched();
}

TEST_F(SplitLimitsTest, HostLongerThanItsDestinationIsRefused) {
    EXPECT_TRUE(Split("http://abcdefg:9/p", 8, 512));
    EXPECT_STREQ("abcdefg", host_);
    SetUp();
    port_ = PORT_BEFORE;
    EXPECT_FALSE(Split("http://abcdefgh:9/p", 8, 512));
    ExpectUntouched();
}

TEST_F(SplitLimitsTest, PathLongerThanItsDestinationIsRefused) {
    std::string path = "/" + std::string(510, 'x');
    EXPECT_TRUE(Split("http://lp1" + path, 1024, 512));
    EXPECT_EQ(path, path_);
    SetUp();
    port_ = PORT_BEFORE;
    EXPECT_FALSE(Split("http://lp1" + path + "y", 1024, 512));
    ExpectUntouched();
}

TEST_F(SplitLimitsTest, PathLongerThanItsDestinationIsRefusedWithEmptyAuthority) {
    EXPECT_FALSE(Split("http:///" + std::string(600, 'x'), 1024, 512));
    ExpectUntouched();
}

TEST(SplitPrinterUri, PathCanBeLeftOut) {
    char host[64];
    LONG port = 0;
    std::string uri = "ipp://lp1:8000/" + std::string(5000, 'x');
    EXPECT_TRUE(SplitPrinterUri(uri.c_str(), host, sizeof host, &port, nullptr, 0));
    EXPECT_STREQ("lp1", host);
    EXPECT_EQ(8000, port);
}

struct ValidatorCase {
    const char* text;
    BOOL valid;
};

void PrintTo(const ValidatorCase& c, std::ostream* os) {
    *os << "'" << c.text << "'";
}

class HostNameTest : public testing::TestWithParam<ValidatorCase> {};
TEST_P(HostNameTest, Judges) {
    EXPECT_EQ(GetParam().valid, IsValidHostName(GetParam().text)) << GetParam().text;
}
INSTANTIATE_TEST_SUITE_P(
    Cases, HostNameTest,
    testing::Values(
        ValidatorCase{"lp1", TRUE}, ValidatorCase{"10.1.2.3", TRUE},
        ValidatorCase{"0x0a.1.2.3", TRUE}, ValidatorCase{"lp1.1.2.3.4.5", TRUE},
        ValidatorCase{"...", TRUE}, ValidatorCase{"-", TRUE},
        ValidatorCase{"255.255.255.255", TRUE}, ValidatorCase{"a..b", TRUE},
        ValidatorCase{"0x", TRUE}, ValidatorCase{"0xff.0XFF", TRUE},
        // Leading zeros count for nothing.
        ValidatorCase{"0000000000000255.1", TRUE}, ValidatorCase{"0x00000000000000ff", TRUE},
        // Digits after the first label with a letter are passed over.
        ValidatorCase{"lp1.999", TRUE}, ValidatorCase{"1.2.3.lp.99999", TRUE},
        ValidatorCase{"", FALSE}, ValidatorCase{"10.1.2.256", FALSE},
        ValidatorCase{"1.2.3.4.5", FALSE}, ValidatorCase{"999", FALSE},
        ValidatorCase{"12345.lp", FALSE}, ValidatorCase{"0X1FF.1", FALSE},
        ValidatorCase{"lp1.0x1ff", FALSE}, ValidatorCase{"a.b.c.d.0x1.0x2.0x3.0x4.0x5", FALSE},
        ValidatorCase{"lp1_a", FALSE}, ValidatorCase{"lp1:80", FALSE}, ValidatorCase{"lp 1", FALSE},
        ValidatorCase{"l\xe9p", FALSE},
        // True values: these wrap to small numbers in 32 bits.
        ValidatorCase{"4294967296", FALSE}, ValidatorCase{"4294967297.1", FALSE},
        ValidatorCase{"99999999999999999999999", FALSE}, ValidatorCase{"0x100000001", FALSE},
        ValidatorCase{"0xffffffffffffffffffff01", FALSE}));

TEST(IsValidHostName, TakesTextsUpTo1023Characters) {
    std::string name(1023, 'a');
    EXPECT_TRUE(IsValidHostName(name.c_str()));
    name += 'a';
    EXPECT_FALSE(IsValidHostName(name.c_str()));
    EXPECT_FALSE(IsValidHostName(nullptr));
}

class UriPathTest : public testing::TestWithParam<ValidatorCase> {};
TEST_P(UriPathTest, Judges) {
    EXPECT_EQ(GetParam().valid, IsValidUriPath(GetParam().text)) << GetParam().text;
}
INSTANTIATE_TEST_SUITE_P(Cases, UriPathTest,
                         testing::Values(ValidatorCase{"/", TRUE}, ValidatorCase{"/a%20b", TRUE},
                                         ValidatorCase{"/a/b?c=d&e", TRUE},
                                         ValidatorCase{"", FALSE}, ValidatorCase{"/a b", FALSE},
                                         ValidatorCase{"/a|b", FALSE},
                                         ValidatorCase{"/a#b", FALSE}));

TEST(IsValidUriPath, RefusesEachOfTheThirteenCharacters) {
    const char refused[] = {0x20, 0x22, 0x23, 0x3C, 0x3E, 0x5B, 0x5C,
                            0x5D, 0x5E, 0x60, 0x7B, 0x7C, 0x7D};
    for (char c : refused) {
        char path[] = {'/', 'a', c, 'b', '\0'};
        EXPECT_FALSE(IsValidUriPath(path)) << "character 0x" << std::hex << int(c);
    }
    // Every other printable ASCII character passes.
    for (int c = 0x21; c < 0x7F; ++c) {
        if (memchr(refused, c, sizeof refused) != nullptr) {
            continue;
        }
        char path[] = {'/', static_cast<char>(c), '\0'};
        EXPECT_TRUE(IsValidUriPath(path)) << "character 0x" << std::hex << c;
    }
    EXPECT_FALSE(IsValidUriPath(nullptr));
}

class PortTextTest : public testing::TestWithParam<ValidatorCase> {};
TEST_P(PortTextTest, Judges) {
    EXPECT_EQ(GetParam().valid, IsValidPortText(GetParam().text)) << GetParam().text;
}
INSTANTIATE_TEST_SUITE_P(Cases, PortTextTest,
                         testing::Values(ValidatorCase{"0", TRUE}, ValidatorCase{"8080", TRUE},
                                         ValidatorCase{"00080", TRUE}, ValidatorCase{"65535", TRUE},
                                         ValidatorCase{"0000000000000000000065535", TRUE},
                                         ValidatorCase{"", FALSE}, ValidatorCase{"65536", FALSE},
                                         ValidatorCase{"+80", FALSE}, ValidatorCase{" 80", FALSE},
                                         ValidatorCase{"80 ", FALSE}, ValidatorCase{"-1", FALSE},
                                         ValidatorCase{"8o", FALSE},
                                         ValidatorCase{"99999999999", FALSE},
                                         // 4294967376 is 80 once wrapped to 32 bits.
                                         ValidatorCase{"4294967376", FALSE}));

TEST(IsValidPortText, NullIsInvalid) {
    EXPECT_FALSE(IsValidPortText(nullptr));
}

TEST(FormatProxyUrl, WritesServerAndPort) {
    char dst[64];
    EXPECT_EQ(16, FormatProxyUrl(dst, sizeof dst, "lp9", 8080));
    EXPECT_STREQ("http://lp9:8080/", dst);
    // The transport learns the proxy's host and port by splitting it again.
    char host[32];
    LONG port = 0;
    EXPECT_TRUE(SplitPrinterUri(dst, host, sizeof host, &port, nullptr, 0));
    EXPECT_STREQ("lp9", host);
    EXPECT_EQ(8080, port);
}

TEST(FormatProxyUrl, RefusesWhatDoesNotFit) {
    char dst[17];
    EXPECT_EQ(16, FormatProxyUrl(dst, 17, "lp9", 8080));
    EXPECT_STREQ("http://lp9:8080/", dst);
    EXPECT_EQ(-1, FormatProxyUrl(dst, 16, "lp9", 8080));
    EXPECT_STREQ("", dst);
    strcpy(dst, "x");
    EXPECT_EQ(-1, FormatProxyUrl(dst, sizeof dst, nullptr, 8080));
    EXPECT_STREQ("", dst);
}

TEST(FormatAbsoluteRequestUri, AlwaysHttpAndAlwaysThePort) {
    char dst[1024];
    EXPECT_EQ(23, FormatAbsoluteRequestUri(dst, sizeof dst, "10.1.2.3", 631, "/ipp"));
    EXPECT_STREQ("http://10.1.2.3:631/ipp", dst);
    EXPECT_EQ(23, FormatAbsoluteRequestUri(dst, sizeof dst, "lp1", 8000, "/a/b?c=d"));
    EXPECT_STREQ("http://lp1:8000/a/b?c=d", dst);
}

TEST(FormatAbsoluteRequestUri, RefusesWhatDoesNotFit) {
    char dst[1024];
    // A host of 1,000 and a path of 30 characters: longer than a request-URI may be.
    std::string host(1000, 'h');
    std::string path = "/" + std::string(29, 'p');
    EXPECT_EQ(-1, FormatAbsoluteRequestUri(dst, sizeof dst, host.c_str(), 631, path.c_str()));
    EXPECT_STREQ("", dst);
    char exact[24];
    EXPECT_EQ(23, FormatAbsoluteRequestUri(exact, sizeof exact, "10.1.2.3", 631, "/ipp"));
    EXPECT_EQ(-1, FormatAbsoluteRequestUri(exact, 23, "10.1.2.3", 631, "/ipp"));
    EXPECT_STREQ("", exact);
}

} // namespace
