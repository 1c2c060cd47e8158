// The spooler channel against a private CUPS scheduler whose queue writes to a file:
// raw jobs arrive byte for byte, pictures arrive as a PDF whose drawing is checked for
// size and position. The scale and centring rules have their own table.
#include "io/io_handler_spool.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <regex>
#include <sstream>

#include "base/error_test_support.h"
#include "io/cups_test_server.h"
#include "io/spool_placement.h"
#include "io/spooler.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

using testing_io::CupsTestServer;
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

// The decompressed content streams of a PDF.
std::vector<std::string> PdfStreams(const std::string& pdf) {
  std::vector<std::string> streams;
  size_t pos = 0;
  while ((pos = pdf.find("stream", pos)) != std::string::npos) {
    if (pos >= 3 && pdf.compare(pos - 3, 3, "end") == 0) {
      pos += 6;
      continue;
    }
    size_t start = pos + 6;
    if (pdf.compare(start, 2, "\r\n") == 0) start += 2;
    else if (pdf[start] == '\n') start += 1;
    const size_t end = pdf.find("endstream", start);
    if (end == std::string::npos) break;
    std::string out(1 << 20, '\0');
    uLongf size = out.size();
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(pdf.data() + start),
                   end - start) == Z_OK) {
      out.resize(size);
      streams.push_back(out);
    }
    pos = end + 9;
  }
  return streams;
}

// The rectangle (in points, from the top-left of the page) that the image drawn by "Do"
// covers: the content stream's q, Q and cm operators tracked to the Do.
struct Rect {
  double left = 0, top = 0, width = 0, height = 0;
  bool found = false;
};

Rect DrawnImage(const std::string& content, double page_height) {
  struct M {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  };
  std::vector<M> stack;
  M ctm;
  std::vector<double> operands;
  std::istringstream in(content);
  std::string token;
  Rect rect;
  while (in >> token) {
    char* end = nullptr;
    const double number = std::strtod(token.c_str(), &end);
    if (end != token.c_str() && *end == '\0') {
      operands.push_back(number);
      continue;
    }
    if (token == "q") stack.push_back(ctm);
    if (token == "Q" && !stack.empty()) {
      ctm = stack.back();
      stack.pop_back();
    }
    if (token == "cm" && operands.size() >= 6) {
      const double* m = &operands[operands.size() - 6];
      const M n{m[0] * ctm.a + m[1] * ctm.c, m[0] * ctm.b + m[1] * ctm.d, m[2] * ctm.a + m[3] * ctm.c,
                m[2] * ctm.b + m[3] * ctm.d, m[4] * ctm.a + m[5] * ctm.c + ctm.e, m[4] * ctm.b + m[5] * ctm.d + ctm.f};
      ctm = n;
    }
    if (token == "Do") {
      // The unit square through the matrix (no rotation in these pages).
      const double x0 = ctm.e, x1 = ctm.e + ctm.a;
      const double y0 = ctm.f, y1 = ctm.f + ctm.d;
      rect = {std::min(x0, x1), page_height - std::max(y0, y1), std::fabs(ctm.a), std::fabs(ctm.d), true};
    }
    if (token[0] != '/') operands.clear();
  }
  return rect;
}

class SpoolChannelTest : public ::testing::Test {
 protected:
  // One scheduler for the program's tests (ctest runs each test in a program of its own).
  static void SetUpTestSuite() { server_ = std::make_unique<CupsTestServer>(); }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    if (!server_->running()) {
      if (::geteuid() != 0) GTEST_SKIP() << "cupsd cannot start without root privileges here";
      FAIL() << "cupsd did not start:\n" << server_->ErrorLog();
    }
  }
  std::unique_ptr<kIOHandler_Spool> Channel(const std::u16string& printer) {
    kConnection connection;
    connection.SetConnectionType(qvConnectionType::Spool);
    connection.SetPrinterName(printer);
    return std::make_unique<kIOHandler_Spool>(connection, dir_.u16(), u"SPOOL_TEST");
  }

  static std::unique_ptr<CupsTestServer> server_;
  TempDir dir_;
};

std::unique_ptr<CupsTestServer> SpoolChannelTest::server_;

TEST_F(SpoolChannelTest, RawOutputReachesTheDeviceByteForByte) {
  auto channel = Channel(u"Receipt");
  EXPECT_EQ(channel->OutputType(), qvSpoolOutputType::Normal);
  channel->SetOutputType(qvSpoolOutputType::Raw);
  EXPECT_TRUE(channel->Write(u"Caf\u00e9 \u20ac 12.50\r\n\x1b" u"d\x03"));
  EXPECT_EQ(server_->LastJobOutput(), "Caf\xe9 \x80 12.50\r\n\x1b" "d\x03") << server_->ErrorLog();

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
  EXPECT_EQ(channel->ErrorMessage(), u"The printer or class does not exist.");
  EXPECT_FALSE(channel->ErrorFound());
  EXPECT_EQ(channel->ErrorCode(), 0);
}

TEST_F(SpoolChannelTest, PicturePrintsScaledAndCentredOnTheQueuesPage) {
  const PageMetrics page = spooler::GetPageMetrics(u"Receipt");
  // 595 x 842 pt at 600 dpi, margins of 18 pt (150 px) left and right, 36 pt (300 px)
  // top and bottom; the spooler keeps sizes in hundredths of millimetres.
  EXPECT_EQ(page.dpi_x, 600);
  EXPECT_EQ(page.dpi_y, 600);
  EXPECT_EQ(page.page_width, 4958);
  EXPECT_EQ(page.page_height, 7017);
  EXPECT_EQ(page.offset_x, 150);
  EXPECT_EQ(page.offset_y, 300);
  EXPECT_EQ(page.printable_width, 4658);
  EXPECT_EQ(page.printable_height, 6417);

  auto channel = Channel(u"RECEIPT");  // found whatever the letter case
  const Bitmap picture(400, 250, 0xFF000000u);
  channel->SetBitmap(&picture);
  EXPECT_TRUE(channel->Write(u"not used"));
  const std::string pdf = server_->LastJobOutput();
  ASSERT_EQ(pdf.rfind("%PDF-", 0), 0u) << pdf.substr(0, 64);
  std::smatch box;
  const std::string head = pdf.substr(0, 4096);
  ASSERT_TRUE(std::regex_search(head, box, std::regex(R"(/MediaBox \[ 0 0 ([0-9.]+) ([0-9.]+) \])")));
  EXPECT_NEAR(std::stod(box[1]), 595, 0.05);
  EXPECT_NEAR(std::stod(box[2]), 842, 0.05);

  // 600 dpi: twice the 300-dpi size, centred in the printable area.
  const Placement expected = PlacePicture(page, 400, 250);
  ASSERT_EQ(expected.width, 800);
  Rect drawn;
  for (const std::string& stream : PdfStreams(pdf)) {
    if (stream.find("Do") != std::string::npos) drawn = DrawnImage(stream, std::stod(box[2]));
  }
  ASSERT_TRUE(drawn.found);
  const double pt = 72.0 / 600;
  EXPECT_NEAR(drawn.left, expected.left * pt, 0.01);
  EXPECT_NEAR(drawn.top, expected.top * pt, 0.01);
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
