// The per-port job list under the global lock, and the close-printer step.
#include "monitor/core/job_list.h"
#include "monitor/core/monitor_globals.h"
#include "tests/support/fake_spooler.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class JobListTest : public testing::Test {
  protected:
    void TearDown() override { JobListFreeAll(&port_); }

    std::vector<DWORD> Ids() {
        std::vector<DWORD> ids;
        for (JobContext* job = port_.jobs; job != nullptr; job = job->next) {
            ids.push_back(job->jobId);
        }
        return ids;
    }

    PortContext port_{};
};

DWORD WINAPI TakeAndReleaseLock(LPVOID) {
    MonitorLock();
    MonitorUnlock();
    return 0;
}

// True when another thread can take the global lock within a few seconds.
bool LockIsFree() {
    HANDLE thread = CreateThread(nullptr, 0, TakeAndReleaseLock, nullptr, 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    bool done = WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return done;
}

} // namespace

TEST_F(JobListTest, AppendsInOrderAndFindsByJobId) {
    JobContext* five = JobListAdd(&port_, 5);
    JobContext* six = JobListAdd(&port_, 6);
    JobContext* seven = JobListAdd(&port_, 7);
    ASSERT_TRUE(five && six && seven);
    EXPECT_EQ((std::vector<DWORD>{5, 6, 7}), Ids());
    EXPECT_EQ(six, JobListFind(&port_, 6));
    EXPECT_EQ(six, port_.jobs->next);
    EXPECT_EQ(nullptr, JobListFind(&port_, 8));
}

TEST_F(JobListTest, NewRecordsStartEmpty) {
    JobContext* job = JobListAdd(&port_, 9);
    ASSERT_NE(nullptr, job);
    EXPECT_EQ(9u, job->jobId);
    EXPECT_EQ(INVALID_SOCKET, job->socket);
    EXPECT_EQ(nullptr, job->spoolFile);
    EXPECT_EQ(0u, job->bytesWritten);
    EXPECT_EQ(0u, job->chunked);
    EXPECT_EQ(0u, job->ippFidelity);
    EXPECT_EQ('\0', job->ippPrinterUri[0]);
}

TEST_F(JobListTest, RemovingTheMiddleRecordKeepsTheOthersLinked) {
    JobListAdd(&port_, 5);
    JobListAdd(&port_, 6);
    JobListAdd(&port_, 7);
    JobListRemove(&port_, 6);
    EXPECT_EQ((std::vector<DWORD>{5, 7}), Ids());
    JobListRemove(&port_, 5);
    JobListRemove(&port_, 7);
    EXPECT_EQ(nullptr, port_.jobs);
}

TEST_F(JobListTest, DuplicateIdsAreFoundAndRemovedFirstFirst) {
    JobContext* first = JobListAdd(&port_, 3);
    JobContext* second = JobListAdd(&port_, 3);
    EXPECT_EQ(first, JobListFind(&port_, 3));
    JobListRemove(&port_, 3);
    EXPECT_EQ(second, JobListFind(&port_, 3));
}

TEST_F(JobListTest, RemovingWhatIsNotThereChangesNothingAndFreesTheLock) {
    JobListRemove(&port_, 1); // empty list
    EXPECT_TRUE(LockIsFree());
    JobListAdd(&port_, 5);
    JobListRemove(&port_, 6);
    EXPECT_EQ((std::vector<DWORD>{5}), Ids());
    EXPECT_TRUE(LockIsFree());
    EXPECT_EQ(nullptr, JobListFind(&port_, 6));
    EXPECT_TRUE(LockIsFree());
}

TEST(GlobalLock, IsReentrantForItsOwner) {
    MonitorLock();
    MonitorLock();
    MonitorUnlock();
    // Still held once: another thread must wait until the owner's last unlock.
    HANDLE taker = CreateThread(nullptr, 0, TakeAndReleaseLock, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, taker);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(taker, 200));
    MonitorUnlock();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(taker, 5000));
    CloseHandle(taker);
}

TEST(ClosePrinterStep, DoesNothingWithoutAPrinterHandle) {
    FakeSpoolerScope spooler;
    PortContext port{};
    ClosePrinterStep(&port);
    EXPECT_TRUE(fake_spooler::Calls().empty());
}

TEST(ClosePrinterStep, ClosesTheHandleOnceAndClearsIt) {
    FakeSpoolerScope spooler;
    PortContext port{};
    ASSERT_TRUE(
        Spooler()->openPrinter(const_cast<LPTSTR>(TEXT("P")), &port.printerHandle, nullptr));
    HANDLE handle = port.printerHandle;
    fake_spooler::Clear();

    ClosePrinterStep(&port);
    ClosePrinterStep(&port);

    EXPECT_EQ(nullptr, port.printerHandle);
    std::vector<SpoolerCall> closes = fake_spooler::CallsOf(SpoolerCall::CLOSE_PRINTER);
    ASSERT_EQ(1u, closes.size());
    EXPECT_EQ(handle, closes[0].handle);
    EXPECT_EQ(0, fake_spooler::OpenHandles());
#ifdef NIMBREL_9X
    // The 9x build clears the printer status on the handle before closing it.
    std::vector<SpoolerCall> calls = fake_spooler::Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(SpoolerCall::SET_PRINTER, calls[0].kind);
    EXPECT_EQ(handle, calls[0].handle);
    EXPECT_EQ(0u, calls[0].status);
    EXPECT_EQ(static_cast<DWORD>(PRINTER_CONTROL_SET_STATUS), calls[0].command);
#else
    EXPECT_EQ(1u, fake_spooler::Calls().size());
#endif
}
