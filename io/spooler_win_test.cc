// What the Windows spooler does with a raw job that fails half-way, against the CUPS
// queue that tools/windows-test.sh starts (Wine's spooler prints through CUPS). A raw job
// whose writing failed is cancelled (AbortPrinter), not ended: ending the page and the
// document hands the bytes written so far to the printer as a job of its own, a receipt
// cut off mid-command. The system's spooler deletes a cancelled job's spool file, so
// nothing of it prints; Wine's (version 8) accepts the cancel and prints the job all the
// same, which this test records so that a change either way shows.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "io/spool_queue_test_support.h"
#include "io/spooler.h"

namespace qvpa {
namespace {

using testing_io::SpoolQueueUnderTest;

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Starts a raw job titled "Partial" on the queue, writes some bytes, then ends or cancels it.
void PartialJob(bool aEnd) {
  HANDLE printer = nullptr;
  wchar_t name[] = L"Receipt";
  ASSERT_TRUE(::OpenPrinterW(name, &printer, nullptr));
  wchar_t title[] = L"Partial", datatype[] = L"RAW";
  DOC_INFO_1W doc{title, nullptr, datatype};
  ASSERT_NE(::StartDocPrinterW(printer, 1, reinterpret_cast<BYTE*>(&doc)), 0u);
  ASSERT_TRUE(::StartPagePrinter(printer));
  char bytes[] = "\x1b@PARTIAL \x1b";  // stops inside an escape sequence
  DWORD written = 0;
  ASSERT_TRUE(::WritePrinter(printer, bytes, sizeof bytes - 1, &written));
  if (aEnd) {
    EXPECT_TRUE(::EndPagePrinter(printer));
    EXPECT_TRUE(::EndDocPrinter(printer));
  } else {
    EXPECT_TRUE(::AbortPrinter(printer));
  }
  ::ClosePrinter(printer);
}

TEST(SpoolerWindowsTest, WhatOfARawJobStoppedHalfWayReachesThePrinter) {
  const struct {
    const char* what;
    bool end;
    std::vector<std::string> finished;  // titles, in job order
  } cases[] = {
      {"ended with the page and the document", true, {"Partial", "Marker"}},
      {"cancelled with AbortPrinter", false,
       UnderWine() ? std::vector<std::string>{"Partial", "Marker"} : std::vector<std::string>{"Marker"}},
  };
  for (const auto& tc : cases) {
    SpoolQueueUnderTest queue;
    ASSERT_TRUE(queue.running()) << queue.Problem();
    PartialJob(tc.end);
    // A complete job after it: the queue prints in order, so once it is done the partial
    // job is done too, if the spooler ever sent it.
    std::u16string error;
    ASSERT_TRUE(spooler::SendRawJob(u"Receipt", u"Marker", "MARKER", error)) << tc.what;
    std::vector<std::string> finished;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      finished.clear();
      for (const auto& [id, title] : queue.CompletedJobs()) finished.push_back(title);
      if (!finished.empty() && finished.back() == "Marker") break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(finished, tc.finished) << tc.what;
    EXPECT_EQ(queue.LastJobOutput(), "MARKER") << tc.what;
  }
}

}  // namespace
}  // namespace qvpa
