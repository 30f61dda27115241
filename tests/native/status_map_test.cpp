#include "monitor/ipp/status_map.h"

#include <gtest/gtest.h>

#include "monitor/ipp/ipp_reply.h"

namespace {

const MonitorFlavor kFlavors[] = {FLAVOR_NT, FLAVOR_9X};

const char* FlavorName(MonitorFlavor flavor) {
    return flavor == FLAVOR_NT ? "nimmonnt" : "nimmon9x";
}

TEST(PortStatusValue, BothBuildsValues) {
    struct Case {
        PortStatusMeaning meaning;
        DWORD nt;
        DWORD nine;
    };
    const Case cases[] = {
        {STATUS_NONE, 0, 0},
        {STATUS_OFFLINE, 1, 0x80},
        {STATUS_PAPER_JAM, 2, 0x8},
        {STATUS_PAPER_OUT, 3, 0x10},
        {STATUS_NO_TONER, 6, 0x40000},
        {STATUS_DOOR_OPEN, 7, 0x400000},
        {STATUS_TONER_LOW, 10, 0x20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meaning);
        EXPECT_EQ(c.nt, PortStatusValue(c.meaning, FLAVOR_NT));
        EXPECT_EQ(c.nine, PortStatusValue(c.meaning, FLAVOR_9X));
    }
}

// The message ids of one check result, by build.
struct Message {
    DWORD nt;
    DWORD nine;
    DWORD For(MonitorFlavor flavor) const { return flavor == FLAVOR_NT ? nt : nine; }
};
const Message kNoMessage = {0, 0};
const Message kNotFound = {309, 512};
const Message kBadRequest = {310, 513};
const Message kTimeout = {311, 514};
const Message kHttpError = {313, 516};

TEST(CheckHttpStatus, Table) {
    struct Case {
        LONG status;
        int result;
        Message message;
        DWORD error;
    };
    const Case cases[] = {
        {400, 0, kBadRequest, 1803},  {505, 0, kBadRequest, 1803},  {404, 0, kNotFound, 1200},
        {500, 0, kNotFound, 1200},    {501, 0, kNotFound, 1200},    {502, 0, kNotFound, 1200},
        {503, 0, kNotFound, 1200},    {408, 0, kTimeout, 1053},     {504, 0, kTimeout, 1053},
        {204, 0, kHttpError, 0xC000}, {205, 0, kHttpError, 0xC000}, {300, 0, kHttpError, 0xC000},
        {301, 0, kHttpError, 0xC000}, {302, 0, kHttpError, 0xC000}, {303, 0, kHttpError, 0xC000},
        {401, 0, kHttpError, 0xC000}, {402, 0, kHttpError, 0xC000}, {403, 0, kHttpError, 0xC000},
        {405, 0, kHttpError, 0xC000}, {406, 0, kHttpError, 0xC000}, {407, 0, kHttpError, 0xC000},
        {409, 0, kHttpError, 0xC000}, {410, 0, kHttpError, 0xC000}, {411, 0, kHttpError, 0xC000},
        {412, 0, kHttpError, 0xC000}, {413, 0, kHttpError, 0xC000}, {414, 0, kHttpError, 0xC000},
        {415, 0, kHttpError, 0xC000}, {200, 1, kNoMessage, 0},      {0, 1, kNoMessage, 0},
        {100, 1, kNoMessage, 0},      {201, 1, kNoMessage, 0},      {206, 1, kNoMessage, 0},
        {304, 1, kNoMessage, 0},      {416, 1, kNoMessage, 0},      {506, 1, kNoMessage, 0},
        {-1, 1, kNoMessage, 0},
    };
    for (MonitorFlavor flavor : kFlavors) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << FlavorName(flavor) << " HTTP " << c.status);
            DWORD message = 0xdeadbeef;
            DWORD error = 0xdeadbeef;
            EXPECT_EQ(c.result, CheckHttpStatusFor(flavor, c.status, &message, &error));
            EXPECT_EQ(c.message.For(flavor), message);
            EXPECT_EQ(c.error, error);
        }
    }
}

TEST(CheckIppStatus, Table) {
    struct Case {
        LONG status;
        int result;
        Message message;
        DWORD error;
    };
    const Case cases[] = {
        {0x0406, 0, kNotFound, 1200},
        {0x0400, 0, kBadRequest, 1803},
        {0x0500, 0, kBadRequest, 1803},
        {0x0501, 0, kBadRequest, 1803},
        {0x0407, 0, kTimeout, 0xC000},
        {0x0508, 0, kTimeout, 0xC000},
        {0x0000, 1, kNoMessage, 0},
        {0x0001, 1, kNoMessage, 0},
        {0x0401, 1, kNoMessage, 0}, // 1053: the printer may take the job later
        {0x0405, 1, kNoMessage, 0},
        {0x040A, 1, kNoMessage, 0}, // 11
        {0x0502, 1, kNoMessage, 0}, // 1201
        {0x0507, 1, kNoMessage, 0}, // 170
        // Unlisted error codes map to 0xC000 and fail.
        {0x040B, 0, kTimeout, 0xC000},
        {0x0509, 0, kTimeout, 0xC000},
        {0x0600, 0, kTimeout, 0xC000},
        {-32768, 0, kTimeout, 0xC000},
    };
    for (MonitorFlavor flavor : kFlavors) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << FlavorName(flavor) << " IPP 0x" << std::hex << c.status);
            DWORD message = 0xdeadbeef;
            DWORD error = 0xdeadbeef;
            EXPECT_EQ(c.result, CheckIppStatusFor(flavor, c.status, &message, &error));
            EXPECT_EQ(c.message.For(flavor), message);
            EXPECT_EQ(c.error, error);
        }
    }
}

TEST(IppStatusToError, ListedCodes) {
    struct Case {
        LONG status;
        DWORD error;
    };
    const Case cases[] = {
        {0x0400, 1803}, {0x0401, 1053}, {0x0402, 1053},   {0x0403, 1053},   {0x0404, 1053},
        {0x0405, 1053}, {0x0406, 1200}, {0x0407, 0xC000}, {0x0408, 0xC000}, {0x0409, 0xC000},
        {0x040A, 11},   {0x0500, 1803}, {0x0501, 1803},   {0x0502, 1201},   {0x0503, 170},
        {0x0504, 170},  {0x0505, 170},  {0x0506, 170},    {0x0507, 170},    {0x0508, 0xC000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "0x" << std::hex << c.status);
        EXPECT_EQ(c.error, IppStatusToError(c.status));
    }
}

TEST(IppStatusToError, CodesBelowTheErrorClassesAreSuccess) {
    for (LONG status = 0; status < 0x0400; ++status) {
        ASSERT_EQ(0u, IppStatusToError(status)) << std::hex << status;
    }
}

// A printer that refuses a job with a code the table does not list (0x040B when it cannot
// type the document, for one) must not have the job reported as printed.
TEST(IppStatusToError, UnlistedErrorCodesFail) {
    for (LONG status = 0x0400; status <= 0x05FF; ++status) {
        DWORD error = IppStatusToError(status);
        ASSERT_NE(0u, error) << std::hex << status;
        bool listed =
            (status >= 0x0400 && status <= 0x040A) || (status >= 0x0500 && status <= 0x0508);
        if (!listed) {
            ASSERT_EQ(static_cast<DWORD>(ERROR_MONITOR_IPP), error) << std::hex << status;
        }
    }
}

TEST(IppStatusToError, CodesAboveTheServerErrorsFail) {
    for (LONG status = 0x0600; status <= 0xFFFF; ++status) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_MONITOR_IPP), IppStatusToError(status))
            << std::hex << status;
    }
    // The reader widens codes of 0x8000 and more with their sign.
    EXPECT_EQ(static_cast<DWORD>(ERROR_MONITOR_IPP), IppStatusToError(-1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MONITOR_IPP), IppStatusToError(-32768));
}

TEST(MapPrinterStatus, Table) {
    struct Case {
        LONG http;
        const char* state;
        const char* reason;
        PortStatusMeaning meaning;
        DWORD error;
    };
    const Case cases[] = {
        // The reason rules, in order.
        {200, "Idle", "media-empty-error", STATUS_PAPER_OUT, 28},
        {200, "Idle", "input-tray-missing-error", STATUS_PAPER_OUT, 28},
        {200, "Idle", "shutdown", STATUS_OFFLINE, 21},
        {200, "Idle", "stopping-warning", STATUS_OFFLINE, 21},
        {200, "Idle", "paused", STATUS_OFFLINE, 21},
        {200, "Idle", "door-open-error", STATUS_DOOR_OPEN, 21},
        {200, "Idle", "media-jam-error", STATUS_PAPER_JAM, 21},
        {200, "Idle", "marker-supply-empty-error", STATUS_NO_TONER, 21},
        {200, "Idle", "marker-supply-low-warning", STATUS_TONER_LOW, 0},
        {200, "Stop", "none", STATUS_NONE, 0},
        {200, "Stop", "media-low-report", STATUS_NONE, 0},
        // "media-empty" and "input-tray-missing" must be whole texts.
        {200, "Idle", "media-empty", STATUS_NONE, 0},
        {200, "Stop", "media-empty-warning", STATUS_OFFLINE, 21},
        {200, "Processing", "input-tray-missing", STATUS_NONE, 0},
        // No rule matches: the state decides.
        {200, "Idle", "", STATUS_NONE, 0},
        {200, "Processing", "", STATUS_NONE, 0},
        {200, "Stop", "", STATUS_OFFLINE, 21},
        {200, "", "", STATUS_OFFLINE, 21},
        {200, "Processing", "other-reason", STATUS_NONE, 0},
        {200, "idle", "", STATUS_OFFLINE, 21},
        // An HTTP failure decides before anything else, with the check's error.
        {404, "Idle", "none", STATUS_OFFLINE, 1200},
        {401, "Idle", "none", STATUS_OFFLINE, 0xC000},
        {408, "Idle", "", STATUS_OFFLINE, 1053},
        {400, "Idle", "", STATUS_OFFLINE, 1803},
        {0, "Idle", "none", STATUS_NONE, 0},
    };
    for (MonitorFlavor flavor : kFlavors) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << FlavorName(flavor) << " HTTP " << c.http << " \""
                                            << c.state << "\" \"" << c.reason << "\"");
            DWORD error = 0xdeadbeef;
            EXPECT_EQ(PortStatusValue(c.meaning, flavor),
                      MapPrinterStatusFor(flavor, c.http, c.state, c.reason, &error));
            EXPECT_EQ(c.error, error);
        }
    }
}

TEST(MapPrinterStatus, EdgeCasesInBothBuilds) {
    DWORD error = 0;
    EXPECT_EQ(2u, MapPrinterStatusFor(FLAVOR_NT, 200, "Idle", "media-jam-error", &error));
    EXPECT_EQ(21u, error);
    EXPECT_EQ(0x8u, MapPrinterStatusFor(FLAVOR_9X, 200, "Idle", "media-jam-error", &error));
    EXPECT_EQ(0x20000u, MapPrinterStatusFor(FLAVOR_9X, 200, "Idle", "marker-supply-low", &error));
    EXPECT_EQ(0u, error);
    // Absent texts count as empty: an unanswered printer shows offline.
    EXPECT_EQ(1u, MapPrinterStatusFor(FLAVOR_NT, 200, nullptr, nullptr, &error));
    EXPECT_EQ(21u, error);
    EXPECT_EQ(0x80u, MapPrinterStatusFor(FLAVOR_9X, 200, nullptr, nullptr, nullptr));
}

TEST(StatusMap, CompiledBuildUsesItsOwnValues) {
    DWORD message = 0;
    DWORD error = 0;
    EXPECT_EQ(0, CheckHttpStatus(404, &message, &error));
#ifdef NIMBREL_9X
    EXPECT_EQ(512u, message);
    EXPECT_EQ(0x80u, MapPrinterStatus(200, "Stop", "", &error));
#else
    EXPECT_EQ(309u, message);
    EXPECT_EQ(1u, MapPrinterStatus(200, "Stop", "", &error));
#endif
    EXPECT_EQ(0, CheckIppStatus(0x0406, &message, &error));
    EXPECT_EQ(1200u, error);
}

} // namespace
