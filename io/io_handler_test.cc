// The channel base, exercised through the transport-less channel, with the log read
// back from the real file after the channel (and its log thread) is gone.
#include "io/io_handler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/error_test_support.h"
#include "base/text.h"
#include "io/io_handler_com.h"
#include "io/test_support.h"

namespace qvpa {
namespace {

using testing_io::CloseAndReadLog;
using testing_io::TempDir;

const std::string kStart = " - *************************** START ***************************";
const std::string kStop = " - *************************** STOP ****************************";
const std::string kStars = " - *************************************************************";

class IOHandlerLogTest : public ::testing::Test {
 protected:
  IOHandlerLogTest() {
    connection_.SetConnectTimeOut(1500);
    connection_.SetReadTimeOut(1000);
    channel_ = std::make_unique<kIOHandler_Com>(&connection_, dir_.u16(), u"QVPA_TEST_7");
  }

  TempDir dir_;
  kConnection connection_;
  std::unique_ptr<kIOHandler> channel_;
};

TEST_F(IOHandlerLogTest, LogFileIsDailyNameInDirectory) {
  const std::filesystem::path file(ToUtf8(channel_->GetLogFileName()));
  EXPECT_EQ(file.parent_path(), dir_.path());
  const std::string name = file.filename().string();
  ASSERT_EQ(name.size(), std::string("QVPA_TEST_7_yyyymmdd.log").size()) << name;
  EXPECT_EQ(name.rfind("QVPA_TEST_7_", 0), 0u) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".log");
}

TEST_F(IOHandlerLogTest, StartConnectAndStopBanners) {
  channel_->SetVersion(u"1.3.0");
  EXPECT_TRUE(channel_->Connect());
  const std::vector<std::string> expected = {
      kStart, kStars, " - kIOHandler_Com", " - 1.3.0", " - ConnectTimeout=1500",
      " - ReadTimeout=1000", kStop};
  EXPECT_EQ(CloseAndReadLog(channel_), expected);
}

TEST_F(IOHandlerLogTest, ConnectBannerWithEmptyVersionKeepsAnEmptyLine) {
  channel_->Connect();
  const auto lines = CloseAndReadLog(channel_);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[3], " - ");
}

TEST_F(IOHandlerLogTest, TitledLinesWithAndWithoutHex) {
  const struct {
    bool hex;
    tQV_MessageType type;
    std::u16string title;
    std::u16string message;
    std::string line;
  } cases[] = {
      {false, tQV_MessageType::let_info, u"Write", u"AB", " - Write:AB"},
      {true, tQV_MessageType::let_info, u"Write", u"AB", " - Write:AB [41 42]"},
      {true, tQV_MessageType::let_info, u"Write", u"", " - Write: []"},
      {false, tQV_MessageType::let_info, u"", u"x", " - :x"},
      {true, tQV_MessageType::let_error, u"Read", u"\u20ac1\r",
       " - ERROR - Read:\xe2\x82\xac" "1\r [20ac 31 0d]"},
  };
  for (const auto& tc : cases) {
    channel_->SetHexLog(tc.hex);
    channel_->WriteLog(tc.type, tc.title, tc.message);
  }
  // Debug lines are never rendered in hex.
  channel_->SetHexLog(true);
  channel_->Debug(tQV_MessageType::let_error, u"plain AB");

  const auto lines = CloseAndReadLog(channel_);
  ASSERT_EQ(lines.size(), std::size(cases) + 3);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(lines[i + 1], cases[i].line) << i;
  EXPECT_EQ(lines[std::size(cases) + 1], " - ERROR - plain AB");
}

TEST_F(IOHandlerLogTest, TemporaryReadTimeoutSavesOneValue) {
  channel_->ResetTemporaryReadTimeout();  // nothing saved yet
  EXPECT_EQ(channel_->ReadTimeout(), 1000);
  channel_->SetTemporaryReadTimeout(0);  // logged, ignored
  EXPECT_EQ(channel_->ReadTimeout(), 1000);
  channel_->SetTemporaryReadTimeout(5000);
  EXPECT_EQ(channel_->ReadTimeout(), 5000);
  channel_->ResetTemporaryReadTimeout();
  EXPECT_EQ(channel_->ReadTimeout(), 1000);
  // Two sets in a row: the reset returns to the first temporary value.
  channel_->SetTemporaryReadTimeout(3000);
  channel_->SetTemporaryReadTimeout(7000);
  channel_->ResetTemporaryReadTimeout();
  EXPECT_EQ(channel_->ReadTimeout(), 3000);
  channel_->SetReadTimeout(200);
  channel_->ResetTemporaryReadTimeout();  // the saved value is kept across resets
  EXPECT_EQ(channel_->ReadTimeout(), 3000);

  const std::vector<std::string> expected = {
      kStart,
      " - Reset Timeout to 0 ms",
      " - Set Read Timeout to 0ms from 1000 ms",
      " - Set Read Timeout to 5000ms from 1000 ms",
      " - Reset Timeout to 1000 ms",
      " - Set Read Timeout to 3000ms from 1000 ms",
      " - Set Read Timeout to 7000ms from 3000 ms",
      " - Reset Timeout to 3000 ms",
      " - Reset Timeout to 3000 ms",
      kStop};
  EXPECT_EQ(CloseAndReadLog(channel_), expected);
}

TEST(IOHandlerTest, WithoutFileNameThereIsNoLogButEverythingWorks) {
  TempDir dir;
  {
    kIOHandler_Com channel(nullptr, dir.u16(), u"");
    EXPECT_EQ(channel.GetLogFileName(), u"");
    EXPECT_EQ(channel.ConnectTimeout(), 0);
    EXPECT_EQ(channel.ReadTimeout(), 0);
    EXPECT_TRUE(channel.Connect());
    channel.SetHexLog(true);
    channel.WriteLog(tQV_MessageType::let_info, u"Write", u"AB");
    channel.SetTemporaryReadTimeout(500);
    EXPECT_EQ(channel.ReadTimeout(), 500);
    channel.ResetTemporaryReadTimeout();
    EXPECT_EQ(channel.ReadTimeout(), 500);  // the saved value is 0, so nothing is restored
  }
  {
    kIOHandler_Com channel(nullptr, u"", u"NAME");
    EXPECT_EQ(channel.GetLogFileName(), u"");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(IOHandlerTest, ErrorStateIsSetAndResetOnlyOnRequest) {
  kIOHandler_Com channel(nullptr, u"", u"");
  EXPECT_FALSE(channel.ErrorFound());
  channel.SetCustomError(404, u"Not Found");
  EXPECT_FALSE(channel.Write(u"x"));  // a refused write does not touch the state
  EXPECT_TRUE(channel.ErrorFound());
  EXPECT_EQ(channel.ErrorCode(), 404);
  EXPECT_EQ(channel.ErrorMessage(), u"Not Found");
  channel.ResetCustomError();
  EXPECT_FALSE(channel.ErrorFound());
  EXPECT_EQ(channel.ErrorCode(), 0);
  EXPECT_EQ(channel.ErrorMessage(), u"");
}

TEST(IOHandlerTest, HexString) {
  const struct {
    std::u16string text;
    std::u16string hex;
  } cases[] = {
      {u"", u""},
      {u"AB\r", u"41 42 0d"},
      {u"\u20ac", u"20ac"},
      {std::u16string(1, u'\0'), u"00"},
      {u"\u0100\u00ff", u"100 ff"},
      {u"\xd83d\xde00", u"d83d de00"},  // a surrogate pair counts as two code units
  };
  for (const auto& tc : cases) EXPECT_EQ(kIOHandler::HexString(tc.text), tc.hex) << ToUtf8(tc.hex);
}

TEST(IOHandlerTest, CurrencyToText) {
  const struct {
    int64_t raw;
    std::u16string text;
  } cases[] = {
      {125000, u"12.5"}, {1000000, u"100"}, {0, u"0"}, {-32500, u"-3.25"},
      {1, u"0.0001"},    {123456789012, u"12345678.9012"},
  };
  for (const auto& tc : cases) {
    EXPECT_EQ(kIOHandler::CurrencyToText(Currency::FromRaw(tc.raw)), tc.text) << tc.raw;
  }
}

TEST(IOHandlerComTest, HasNoTransport) {
  kConnection connection;
  connection.SetReadTimeOut(700);
  kIOHandler_Com channel(&connection, u"", u"");
  EXPECT_EQ(channel.ReadTimeout(), 700);
  EXPECT_EQ(channel.ConnectTimeout(), 1000);
  EXPECT_EQ(channel.ClassName(), u"kIOHandler_Com");
  EXPECT_TRUE(channel.Connected());
  EXPECT_TRUE(channel.Disconnect());
  EXPECT_FALSE(channel.Write(u"hello"));
  EXPECT_EQ(channel.ReadChars(10), u"");
  const uint8_t stop[] = {0x0d};
  EXPECT_EQ(channel.ReadUpTo(stop), u"");
  EXPECT_EQ(channel.DecodeError(5), u"");
  channel.ClearBuffers();
  channel.SetParameter(u"Name", u"Value");
  EXPECT_EQ(ErrorOf([&] { channel.ReadAll(); }), u"ReadAll Unsupported");
  EXPECT_EQ(ErrorOf([&] { channel.InputBufferContainsData(); }), u"InputBufferContainsData Unsupported");
  EXPECT_FALSE(channel.ErrorFound());
}

}  // namespace
}  // namespace qvpa
