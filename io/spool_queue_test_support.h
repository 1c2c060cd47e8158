// The print queue under the spooler channel's tests, one half per platform: the private
// CUPS scheduler's queue "Receipt", whose device writes each job to a file. On POSIX
// systems the test program starts the scheduler itself (CupsTestServer). On Windows (under
// Wine, whose spooler reaches printers through CUPS) tools/windows-test.sh starts it on
// the host side and names the queue's output folder in QVPA_TEST_SPOOL_DIR.
#ifndef QVPA_IO_SPOOL_QUEUE_TEST_SUPPORT_H_
#define QVPA_IO_SPOOL_QUEUE_TEST_SUPPORT_H_

#include <map>
#include <vector>
#include <memory>
#include <string>

namespace qvpa::testing_io {

class SpoolQueueUnderTest {
 public:
  SpoolQueueUnderTest();
  ~SpoolQueueUnderTest();
  SpoolQueueUnderTest(const SpoolQueueUnderTest&) = delete;
  SpoolQueueUnderTest& operator=(const SpoolQueueUnderTest&) = delete;

  // Whether the queue serves; when not, why not, and whether that is a reason to skip
  // (not a failure).
  bool running() const;
  std::string Problem() const;
  bool SkipWhenNotRunning() const;

  // Waits (at most 20 s) for the job sent last to finish, then returns the bytes the
  // device wrote for it.
  std::string LastJobOutput();
  // Titles of the jobs finished since this object was made, by job number.
  std::map<int, std::string> CompletedJobs() const;

  // What a picture job drew, read from the document the device received (PDF from the
  // POSIX spooler, PostScript from the Windows printer driver). Lengths in points,
  // positions from the sheet's top-left corner.
  struct Drawing {
    bool readable = false;           // the document was of the expected kind
    double media_width = 0, media_height = 0;
    int pages = 0;
    bool picture_found = false;      // the last picture drawn:
    double left = 0, top = 0, width = 0, height = 0;
  };
  static Drawing ReadDrawing(const std::string& aJob);
  // The queue's A4 sheet (842 pt, 7016.67 px at 600 dpi) in whole device pixels: the
  // CUPS spooler keeps sizes in hundredths of millimetres and rounds (7017), the Windows
  // printer driver truncates (7016).
  static int SheetHeightPixels();
  // The system's text for a printer name the spooler does not know.
  static std::u16string UnknownPrinterText();

 private:
  struct Platform;
  std::unique_ptr<Platform> platform_;
};

}  // namespace qvpa::testing_io

#endif  // QVPA_IO_SPOOL_QUEUE_TEST_SUPPORT_H_
