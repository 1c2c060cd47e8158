// The spooler channel against a private CUPS scheduler whose queue writes to a file:
// raw jobs arrive byte for byte, pictures arrive as a document (PDF here, PostScript from
// the Windows printer driver) whose drawing is checked for size and position on the
// sheet. The scale and centring rules have their own table.
#include "io/io_handler_spool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "base/error_test_support.h"
#include "io/spool_placement.h"
#include "io/spool_queue_test_support.h"
#include "io/spooler.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

using testing_io::SpoolQueueUnderTest;
using testing_io::TempDir;

TEST(SpoolPlacementTest, ScaleAndCentringRules) {
  const struct {
    const char* what;
    PageMetrics page;
    int32_t picture_width, picture_height;
    Placement expected;
  } cases[] = {
      {"300 dpi, fits: unscaled, centred", {2400, 3300, 50, 60, 300, 300, 2500, 3400}, 400, 300,
       {1.0, 50 + 1000, 60 + 1500, 400, 300, true}},
      {"600 dpi, narrower than the page: twice the size, centred", {4800, 6600, 100, 120, 600, 600, 5000, 7000},
       400, 300, {2.0, 100 + 2000, 120 + 3000, 800, 600, false}},
      {"300 dpi, wider than the page: shrunk to the width, proportions kept", {1000, 3000, 0, 0, 300, 300, 1000, 3000},
       2000, 500, {0.5, 0, 0 + 1375, 1000, 250, false}},
      {"600 dpi, too tall after scaling: fitted to the height", {4800, 1000, 10, 20, 600, 600, 4820, 1040},
       400, 1000, {1.0, 10 + 2200, 20, 400, 1000, true}},
      {"odd remainders: halves truncated", {101, 101, 0, 0, 300, 300, 101, 101}, 10, 10,
       {1.0, 45, 45, 10, 10, true}},
      {"rounding to even: 2.5 px becomes 2", {2, 1000, 0, 0, 300, 300, 2, 1000}, 4, 5,
       {0.5, 0, 499, 2, 2, false}},
      {"150 dpi: half the size", {1200, 1600, 0, 0, 150, 150, 1200, 1600}, 300, 100,
       {0.5, 525, 775, 150, 50, false}},
  };
  for (const auto& tc : cases) {
    const Placement p = PlacePicture(tc.page, tc.picture_width, tc.picture_height);
    EXPECT_DOUBLE_EQ(p.scale, tc.expected.scale) << tc.what;
    EXPECT_EQ(p.left, tc.expected.left) << tc.what;
    EXPECT_EQ(p.top, tc.expected.top) << tc.what;
    EXPECT_EQ(p.width, tc.expected.width) << tc.what;
    EXPECT_EQ(p.height, tc.expected.height) << tc.what;
    EXPECT_EQ(p.unscaled, tc.expected.unscaled) << tc.what;
  }
}

class SpoolChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_->running()) {
      if (server_->SkipWhenNotRunning()) GTEST_SKIP() << server_->Problem();
      FAIL() << server_->Problem();
    }
  }
  std::unique_ptr<kIOHandler_Spool> Channel(const std::u16string& printer) {
    kConnection connection;
    connection.SetConnectionType(qvConnectionType::Spool);
    connection.SetPrinterName(printer);
    return std::make_unique<kIOHandler_Spool>(connection, dir_.u16(), u"SPOOL_TEST");
  }

  std::unique_ptr<SpoolQueueUnderTest> server_ = std::make_unique<SpoolQueueUnderTest>();
  TempDir dir_;
};

TEST_F(SpoolChannelTest, RawOutputReachesTheDeviceByteForByte) {
  auto channel = Channel(u"Receipt");
  EXPECT_EQ(channel->OutputType(), qvSpoolOutputType::Normal);
  channel->SetOutputType(qvSpoolOutputType::Raw);
  EXPECT_TRUE(channel->Write(u"Caf\u00e9 \u20ac 12.50\r\n\x1b" u"d\x03"));
  EXPECT_EQ(server_->LastJobOutput(), "Caf\xe9 \x80 12.50\r\n\x1b" "d\x03") << server_->Problem();

  std::vector<uint8_t> bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<uint8_t>(b));
  EXPECT_TRUE(channel->WriteBytes(bytes));
  EXPECT_EQ(server_->LastJobOutput(), std::string(bytes.begin(), bytes.end()));

  channel->SetCodePage(437);
  EXPECT_TRUE(channel->Write(u"\u00e9\u2591"));
  EXPECT_EQ(server_->LastJobOutput(), "\x82\xb0");
  EXPECT_FALSE(channel->Write(u"\u20ac"));
  EXPECT_EQ(channel->ErrorMessage(), u"Character \"\u20ac\" (U+20AC) has no byte in code page 437");
  EXPECT_FALSE(channel->ErrorFound());

  const auto jobs = server_->CompletedJobs();
  ASSERT_EQ(jobs.size(), 3u);
  for (const auto& [id, title] : jobs) EXPECT_EQ(title, "MXR Receipt");
}

TEST_F(SpoolChannelTest, RefusedRawJobLeavesTheSpoolerText) {
  auto channel = Channel(u"Nowhere");
  channel->SetOutputType(qvSpoolOutputType::Raw);
  EXPECT_FALSE(channel->Write(u"lost?"));
  EXPECT_EQ(channel->ErrorMessage(), SpoolQueueUnderTest::UnknownPrinterText());
  EXPECT_FALSE(channel->ErrorFound());
  EXPECT_EQ(channel->ErrorCode(), 0);
}

TEST_F(SpoolChannelTest, PicturePrintsScaledAndCentredOnTheQueuesPage) {
  const PageMetrics page = spooler::GetPageMetrics(u"Receipt");
  // 595 x 842 pt at 600 dpi, margins of 18 pt (150 px) left and right, 36 pt (300 px)
  // top and bottom; the sheet's height in whole pixels is the spooler's rounding.
  const int sheet_height = SpoolQueueUnderTest::SheetHeightPixels();
  EXPECT_EQ(page.dpi_x, 600);
  EXPECT_EQ(page.dpi_y, 600);
  EXPECT_EQ(page.page_width, 4958);
  EXPECT_EQ(page.page_height, sheet_height);
  EXPECT_EQ(page.offset_x, 150);
  EXPECT_EQ(page.offset_y, 300);
  EXPECT_EQ(page.printable_width, 4658);
  EXPECT_EQ(page.printable_height, sheet_height - 600);

  auto channel = Channel(u"RECEIPT");  // found whatever the letter case
  const Bitmap picture(400, 250, 0xFF000000u);
  channel->SetBitmap(&picture);
  EXPECT_TRUE(channel->Write(u"not used"));
  const std::string job = server_->LastJobOutput();
  const SpoolQueueUnderTest::Drawing drawn = SpoolQueueUnderTest::ReadDrawing(job);
  ASSERT_TRUE(drawn.readable) << job.substr(0, 64);
  EXPECT_NEAR(drawn.media_width, 595, 0.05);
  EXPECT_NEAR(drawn.media_height, 842, 0.05);
  EXPECT_EQ(drawn.pages, 1);

  // 600 dpi: twice the 300-dpi size, centred in the printable area. The placement is on
  // the sheet, margins included: the picture lands at (left, top) of the sheet, not that
  // far again inside the printable area.
  const Placement expected = PlacePicture(page, 400, 250);
  ASSERT_EQ(expected.width, 800);
  ASSERT_TRUE(drawn.picture_found);
  const double pt = 72.0 / 600;
  EXPECT_NEAR(drawn.left, expected.left * pt, 0.01);
  // Measured from the paper's top edge, which lies a fraction of a pixel above the top of
  // a sheet rounded down to whole pixels.
  EXPECT_NEAR(drawn.top, expected.top * pt, std::max(0.0, 7016.67 - sheet_height) * pt + 0.01);
  EXPECT_NEAR(drawn.width, 800 * pt, 0.01);
  EXPECT_NEAR(drawn.height, 500 * pt, 0.01);
  const auto jobs = server_->CompletedJobs();
  ASSERT_FALSE(jobs.empty());
  EXPECT_EQ(jobs.rbegin()->second, "Cassora Spool Output");
}

TEST_F(SpoolChannelTest, PictureOutputRefusesUnknownPrintersAndMissingPictures) {
  auto channel = Channel(u"Nowhere");
  const Bitmap picture(10, 10, 0xFFFFFFFFu);
  channel->SetBitmap(&picture);
  EXPECT_EQ(ErrorOf([&] { channel->Write(u""); }), u"kIOHandler_Spool.WriteNormal: Printer Nowhere not found");
  auto no_picture = Channel(u"Receipt");
  EXPECT_EQ(ErrorOf([&] { no_picture->Write(u""); }), u"kIOHandler_Spool.WriteNormal: no picture to print");
  EXPECT_EQ(ErrorOf([&] { no_picture->ReadAll(); }), u"ReadAll Unsupported");
  EXPECT_EQ(ErrorOf([&] { no_picture->InputBufferContainsData(); }), u"InputBufferContainsData Unsupported");
  EXPECT_EQ(no_picture->ReadChars(3), u"");
  EXPECT_TRUE(no_picture->Connected());
}

}  // namespace
}  // namespace qvpa
